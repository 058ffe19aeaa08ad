// Decode throughput of a large set file, in MB of file per second.
//
//   bench_engine_decode [--benchmark_min_time=...]

#include "SetFixtures.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <sys/stat.h>

namespace
{
// About 24 MB: 255 zones of 64 K samples, noise of several widths and sines,
// some looped, as a real set mixes loud attacks and quiet tails.
struct BigSet
{
    setfixtures::TempFolder folder;
    std::string path;
    long long bytes = 0;

    BigSet()
    {
        using namespace setfixtures;
        std::vector<ZoneSource> zones;
        const size_t length = 65536;
        for (int z = 0; z < 255; ++z)
        {
            const int root = 21 + z % 88;
            switch (z % 4)
            {
                case 0: zones.push_back (noiseZone (root, 127, length, uint32_t (z), 32768)); break;
                case 1: zones.push_back (noiseZone (root, 90, length, uint32_t (z), 1500)); break;
                case 2: zones.push_back (sineZone (root, 60, length, 110.0 + z, 30000.0)); break;
                default: zones.push_back (loopedSineZone (root, 30, length, 4000, 300, 220.0 + z)); break;
            }
        }
        path = writeSet (folder, "big.rks", zones, 0);
        struct stat info;
        if (! path.empty() && ::stat (path.c_str(), &info) == 0)
            bytes = (long long) info.st_size;
    }
};

BigSet& bigSet()
{
    static BigSet set;
    return set;
}

void decodeBigSet (benchmark::State& state)
{
    BigSet& set = bigSet();
    if (set.path.empty())
    {
        state.SkipWithError ("could not write the set");
        return;
    }
    for (auto _ : state)
    {
        DecodedSet decoded;
        const SetDecodeStatus status = setfixtures::decodeFile (set.path, decoded);
        if (status != SetDecodeStatus::ok)
        {
            state.SkipWithError ("decode failed");
            return;
        }
        benchmark::DoNotOptimize (decoded.samples.get());
    }
    state.SetBytesProcessed (int64_t (state.iterations()) * set.bytes);
    state.counters["file_MB"] = double (set.bytes) / 1e6;
    state.counters["MB_per_s"] = benchmark::Counter (double (set.bytes) / 1e6 * double (state.iterations()),
                                                     benchmark::Counter::kIsRate);
}
BENCHMARK (decodeBigSet)->Unit (benchmark::kMillisecond)->UseRealTime();
} // namespace

BENCHMARK_MAIN();
