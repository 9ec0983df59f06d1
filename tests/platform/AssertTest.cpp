#include "platform/Assert.h"

#include <gtest/gtest.h>

namespace varnel {
namespace {

int gEvaluations = 0;

bool CountedFalse()
{
    ++gEvaluations;
    return false;
}

TEST(Assert, BrokenPreconditionAbortsNamingItOnlyWhenChecksAreOn)
{
    if (!kAssertsOn) {
        // Off: the condition is compiled but never run.
        VARNEL_ASSERT(CountedFalse());
        EXPECT_EQ(gEvaluations, 0);
        return;
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(VARNEL_ASSERT(CountedFalse()), "precondition failed: CountedFalse\\(\\)");
    int kept = 0;
    VARNEL_ASSERT(++kept == 1); // a condition that holds is evaluated once and passes
    EXPECT_EQ(kept, 1);
}

} // namespace
} // namespace varnel
