#pragma once

// Included by every benchmark program: the context block at the top of its report says
// whether the libraries check preconditions. Release figures are taken with the checks off
// (-DVARNEL_ASSERTS=OFF).

#include "platform/Assert.h"

#include <benchmark/benchmark.h>

namespace varnel::bench {
inline const bool kBuildContextAdded = [] {
    benchmark::AddCustomContext("varnel_asserts", kAssertsOn ? "on: not release figures" : "off");
    return true;
}();
} // namespace varnel::bench
