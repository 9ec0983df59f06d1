// CFFT of 8192 points, forward and inverse, against FFTW's single-precision in-place complex
// transform planned with FFTW_MEASURE, in the same run. Prints the time ratios at the end: for
// the widest code path the processor runs with exact rounding (every path's bits equal the
// plain path's), with fused float twiddle products (as the filter's inverse runs), and for the
// AVX2 path with exact rounding.
#include "dsp/Cfft.h"

#include "BuildContext.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#ifdef VARNEL_HAVE_FFTW
#include <fftw3.h>
#endif

namespace {

constexpr int kSize = 8192;

std::vector<float> RandomData(int size)
{
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> data(2 * static_cast<std::size_t>(size));
    for (float& v : data)
        v = dist(rng);
    return data;
}

void BM_Cfft(benchmark::State& state, bool forward, varnel::CodePath path, bool exact)
{
    varnel::CFFT fft;
    fft.Setup(kSize, forward);
    fft.SetCodePath(path);
    fft.SetExactRounding(exact);
    if (fft.ActiveCodePath() != path) {
        state.SkipWithError("this processor lacks the code path");
        return;
    }
    const std::vector<float> input = RandomData(kSize);
    std::vector<float> data = input;
    for (auto _ : state) {
        fft.Transform(data.data());
        benchmark::DoNotOptimize(data.data());
        benchmark::ClobberMemory();
        // An inverse transform scales by 1/N; a forward one grows by N. Restart from the input
        // now and then so the values stay finite and normal.
        if ((state.iterations() & 7) == 0)
            data = input;
    }
    state.SetItemsProcessed(state.iterations());
}

#ifdef VARNEL_HAVE_FFTW
void BM_Fftw(benchmark::State& state, bool forward)
{
    auto* data = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * kSize));
    fftwf_plan plan =
        fftwf_plan_dft_1d(kSize, data, data, forward ? FFTW_FORWARD : FFTW_BACKWARD, FFTW_MEASURE);
    const std::vector<float> input = RandomData(kSize);
    std::copy(input.begin(), input.end(), reinterpret_cast<float*>(data));
    for (auto _ : state) {
        fftwf_execute(plan);
        benchmark::DoNotOptimize(data);
        benchmark::ClobberMemory();
        if ((state.iterations() & 7) == 0)
            std::copy(input.begin(), input.end(), reinterpret_cast<float*>(data));
    }
    fftwf_destroy_plan(plan);
    fftwf_free(data);
    state.SetItemsProcessed(state.iterations());
}
#endif

// Collects each benchmark's real time per iteration so the ratio can be printed.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                mSeconds[run.benchmark_name()] =
                    run.cpu_accumulated_time / static_cast<double>(run.iterations);
    }
    void PrintRatios() const
    {
        for (const char* variant : {"_exact", "_fused", "_avx2"}) {
            for (const char* dir : {"fwd", "inv"}) {
                const auto ours = Find(std::string("cfft_") + dir + variant);
                const auto theirs = Find(std::string("fftw_") + dir);
                if (ours > 0.0 && theirs > 0.0)
                    std::printf("CFFT %d %s%s: %.2f us, FFTW %.2f us (processor time), ratio "
                                "%.2fx\n",
                                kSize, dir, variant, ours * 1e6, theirs * 1e6, ours / theirs);
            }
        }
    }

private:
    double Find(const std::string& key) const
    {
        for (const auto& [name, seconds] : mSeconds)
            if (name.find(key) != std::string::npos)
                return seconds;
        return 0.0;
    }
    std::map<std::string, double> mSeconds;
};

} // namespace

const varnel::CodePath kWidest = varnel::WidestCodePath();
BENCHMARK_CAPTURE(BM_Cfft, cfft_fwd_exact, true, kWidest, true);
BENCHMARK_CAPTURE(BM_Cfft, cfft_inv_exact, false, kWidest, true);
BENCHMARK_CAPTURE(BM_Cfft, cfft_fwd_fused, true, kWidest, false);
BENCHMARK_CAPTURE(BM_Cfft, cfft_inv_fused, false, kWidest, false);
BENCHMARK_CAPTURE(BM_Cfft, cfft_fwd_avx2, true, varnel::CodePath::Avx2, true);
BENCHMARK_CAPTURE(BM_Cfft, cfft_inv_avx2, false, varnel::CodePath::Avx2, true);
#ifdef VARNEL_HAVE_FFTW
BENCHMARK_CAPTURE(BM_Fftw, fftw_fwd, true);
BENCHMARK_CAPTURE(BM_Fftw, fftw_inv, false);
#endif

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
