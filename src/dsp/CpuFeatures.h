#pragma once

namespace varnel {

// The code paths of the engine's transforms and bin analysis, narrowest first. Each wider path
// is taken only where the processor runs it; the program is built for plain x86-64.
enum class CodePath
{
    Plain,  // portable C++
    Avx2,   // AVX2 and FMA
    Avx512, // AVX-512 F, DQ, BW and VL on top of AVX2
};

// Any thread; pure after the first call. The widest path this processor runs.
CodePath WidestCodePath() noexcept;

// Any thread; pure. The path to take when paths up to limit are allowed.
inline CodePath ChooseCodePath(CodePath limit) noexcept
{
    const CodePath widest = WidestCodePath();
    return static_cast<int>(limit) < static_cast<int>(widest) ? limit : widest;
}

} // namespace varnel
