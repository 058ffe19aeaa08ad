// Cost per sample of each effect stage and of the whole chain, at 48 and
// 192 kHz, in blocks of 32 and 512 samples. The per_sample counter (CPU time
// per sample) is the figure to read. Run: bench_engine_effects [--benchmark_filter=...]

#include "ChorusStage.h"
#include "DriveStage.h"
#include "EqualiserStage.h"
#include "ReverbStage.h"

#include <benchmark/benchmark.h>

#include <xmmintrin.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace
{

struct Chain
{
    DriveStage drive;
    EqualiserStage equaliser;
    ChorusStage chorus;
    ReverbStage reverb;
};

enum Stage
{
    driveOnly,
    cabinetOnly,
    driveAndCabinet,
    equaliser,
    chorus,
    reverb,
    wholeChain
};

const std::vector<float>& source()
{
    static const std::vector<float> signal = [] {
        std::mt19937 rng(1);
        std::uniform_real_distribution<float> d(-0.5f, 0.5f);
        std::vector<float> s(1 << 16);
        for (float& v : s)
            v = d(rng);
        return s;
    }();
    return signal;
}

void runStage(benchmark::State& state, Stage stage)
{
    const int rate = static_cast<int>(state.range(0));
    const int block = static_cast<int>(state.range(1));
    auto chain = std::make_unique<Chain>();
    chain->drive.setTubeCurves();
    chain->drive.updateCabinet(3, rate);
    chain->equaliser.init(rate);
    const std::vector<float>& input = source();
    std::vector<float> x(static_cast<std::size_t>(block));
    std::size_t at = 0;
    for (auto _ : state)
    {
        std::memcpy(x.data(), input.data() + at, sizeof(float) * static_cast<std::size_t>(block));
        at = (at + static_cast<std::size_t>(block)) % (input.size() - 8192);
        float* p = x.data();
        if (stage == driveOnly)
            chain->drive.process(p, block, true, 10.0f, 0);
        if (stage == cabinetOnly)
            chain->drive.cabinetFilter.cabinet.SosApply(p, block);
        if (stage == driveAndCabinet || stage == wholeChain)
            chain->drive.process(p, block, true, 10.0f, 3);
        if (stage == equaliser || stage == wholeChain)
            chain->equaliser.process(p, block, true, 1.5f, 0.8f, 1.2f);
        if (stage == chorus || stage == wholeChain)
            chain->chorus.process(p, block, true, 3.0f, 0.5f, static_cast<double>(rate));
        if (stage == reverb || stage == wholeChain)
            chain->reverb.process(p, block, true, 0.3f, 0.3f, 0.2f, 60.0f, rate);
        benchmark::DoNotOptimize(p);
        benchmark::ClobberMemory();
    }
    state.counters["per_sample"] = benchmark::Counter(static_cast<double>(state.iterations()) * block,
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void configurations(benchmark::internal::Benchmark* b)
{
    for (int rate : {48000, 192000})
        for (int block : {32, 512})
            b->Args({rate, block});
    b->ArgNames({"rate", "block"});
}

void BM_DriveCurves(benchmark::State& s) { runStage(s, driveOnly); }
void BM_Cabinet(benchmark::State& s) { runStage(s, cabinetOnly); }
void BM_DriveAndCabinet(benchmark::State& s) { runStage(s, driveAndCabinet); }
void BM_Equaliser(benchmark::State& s) { runStage(s, equaliser); }
void BM_Chorus(benchmark::State& s) { runStage(s, chorus); }
void BM_Reverb(benchmark::State& s) { runStage(s, reverb); }
void BM_WholeChain(benchmark::State& s) { runStage(s, wholeChain); }

BENCHMARK(BM_DriveCurves)->Apply(configurations);
BENCHMARK(BM_Cabinet)->Apply(configurations);
BENCHMARK(BM_DriveAndCabinet)->Apply(configurations);
BENCHMARK(BM_Equaliser)->Apply(configurations);
BENCHMARK(BM_Chorus)->Apply(configurations);
BENCHMARK(BM_Reverb)->Apply(configurations);
BENCHMARK(BM_WholeChain)->Apply(configurations);

} // namespace

int main(int argc, char** argv)
{
    // The processor's audio callback runs with denormals flushed to zero.
    _mm_setcsr(_mm_getcsr() | 0x8040);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
