#pragma once

// VARNEL_ASSERT(condition) checks a precondition that a caller can break (a size, an index, a
// pointer). With checks on (VARNEL_ASSERTS=1, the default wherever the tests are built, and
// always in sanitizer builds) a broken one prints where it failed and aborts; with checks off
// (the builds that give the benchmark figures and release packages) the condition is not
// evaluated at all. Plain assert would not do: the default build type defines NDEBUG.

#if defined(VARNEL_ASSERTS) && VARNEL_ASSERTS

#include <cstdio>
#include <cstdlib>

namespace varnel::detail {
// Any thread. Prints the failed condition with its place on standard error and aborts. Kept
// in the header so that every layer, the dependency-free engine included, can check.
[[noreturn]] inline void AssertFailed(const char* condition, const char* file, int line) noexcept
{
    std::fprintf(stderr, "%s:%d: precondition failed: %s\n", file, line, condition);
    std::fflush(stderr);
    std::abort();
}
} // namespace varnel::detail

#define VARNEL_ASSERT(condition)                                                                   \
    ((condition) ? static_cast<void>(0)                                                            \
                 : ::varnel::detail::AssertFailed(#condition, __FILE__, __LINE__))

#else

// Still compiled, so a check cannot rot while it is off, but never evaluated.
#define VARNEL_ASSERT(condition) static_cast<void>(sizeof((condition) ? 1 : 0))

#endif

namespace varnel {
// Any thread; pure. Whether this build checks preconditions.
constexpr bool kAssertsOn =
#if defined(VARNEL_ASSERTS) && VARNEL_ASSERTS
    true;
#else
    false;
#endif
} // namespace varnel
