#include "dsp/CpuFeatures.h"

namespace varnel {

namespace {

CodePath Detect() noexcept
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma"))
        return CodePath::Plain;
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
        __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl"))
        return CodePath::Avx512;
    return CodePath::Avx2;
#else
    return CodePath::Plain;
#endif
}

} // namespace

CodePath WidestCodePath() noexcept
{
    static const CodePath widest = Detect();
    return widest;
}

} // namespace varnel
