// Dense passage through the voice engine: 64 main voices on looped zones and 64
// tine voices, pedal down, at 48 kHz, rendered in blocks of 512 and of 32.
// Prints the real-time factor and the time per voice-sample.
//
//   bench_engine_voices [seconds of audio per measurement, default 0.5]

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "VoiceEngine.h"

namespace
{

constexpr int outputRate = 48000;
constexpr int zoneRate = 44100;

struct SyntheticSet
{
    std::vector<short> mainSamples;
    std::vector<tableDataType> mainTable;
    std::vector<short> tineSamples;
    std::vector<tableDataType> tineTable;

    // count zones of `seconds` each, roots every `spacing` semitones from `lowest`.
    static void build (std::vector<short>& samples, std::vector<tableDataType>& table, int count, int lowest,
                       int spacing, double seconds, bool looped)
    {
        const uint32_t length = (uint32_t) (seconds * zoneRate);
        samples.resize ((size_t) count * length);
        table.resize ((size_t) count);
        for (int z = 0; z < count; ++z)
        {
            short* data = samples.data() + (size_t) z * length;
            const double frequency = 440.0 * std::pow (2.0, (lowest + spacing * z - 69) / 12.0);
            for (uint32_t i = 0; i < length; ++i)
                data[i] = (short) std::lround (9000.0 * std::sin (2.0 * M_PI * frequency * i / zoneRate)
                                               * std::exp (-0.3 * i / zoneRate));
            tableDataType& t = table[(size_t) z];
            t.rootNote = (uint8_t) (lowest + spacing * z);
            t.velocity = 100;
            t.looped = looped;
            t.loopLength = looped ? (uint32_t) (0.5 * zoneRate) : 0;
            t.loopGain = 1.0;
            t.samplePeriod = 1.0 / zoneRate;
            t.length = length;
            t.data = data;
        }
    }

    SyntheticSet()
    {
        build (mainSamples, mainTable, 24, 24, 4, 2.0, true);
        // Tine zones long enough to outlast a measurement while the keys are held.
        build (tineSamples, tineTable, 24, 36, 4, 12.0, false);
    }

    SetView view() const
    {
        SetView v;
        v.samples = mainSamples.data();
        v.table = mainTable.data();
        v.tableSize = (short) mainTable.size();
        v.tineSamples = tineSamples.data();
        v.tineTable = tineTable.data();
        v.tineTableSize = (short) tineTable.size();
        v.setKind = 2;
        return v;
    }
};

// CPU time of this thread: the machine is shared, and wall time would count
// the time other processes hold the core.
double threadSeconds()
{
    timespec now;
    clock_gettime (CLOCK_THREAD_CPUTIME_ID, &now);
    return (double) now.tv_sec + 1e-9 * (double) now.tv_nsec;
}

struct Result
{
    double realTimeFactor;
    double nanosecondsPerVoiceSample;
    double voicesPerSample;
};

Result measure (const SyntheticSet& set, int blockSize, double seconds)
{
    const SetView view = set.view();
    VoiceParams params;
    params.tinemix = 0.5f;
    params.release = 0.5f;

    VoiceEngine engine;
    engine.reset();
    const uint8_t pedal[3] = { 0xB0, 64, 127 };
    engine.handleMidi (pedal, 3, view, params, outputRate);
    for (int k = 0; k < 64; ++k)
    {
        const uint8_t on[3] = { 0x90, (uint8_t) (30 + k), (uint8_t) (60 + k) };
        engine.handleMidi (on, 3, view, params, outputRate);
    }

    std::vector<float> out ((size_t) blockSize);
    const long total = (long) (seconds * outputRate);
    const double begin = threadSeconds();
    long rendered = 0;
    for (; rendered < total; rendered += blockSize)
        engine.render (out.data(), blockSize, view, params, outputRate);
    const double elapsed = threadSeconds() - begin;

    // Every voice sounds from the first sample to the last.
    int active = 0;
    for (int k = 0; k < 64; ++k)
        active += (engine.voices[k].active ? 1 : 0) + (engine.tineVoices[k].active ? 1 : 0);

    return { (double) rendered / outputRate / elapsed, elapsed * 1e9 / ((double) rendered * active), (double) active };
}

} // namespace

int main (int argc, char** argv)
{
    const double seconds = argc > 1 ? std::max (0.1, std::atof (argv[1])) : 0.5;
    const SyntheticSet set;

    // One warm-up pass, then the block sizes in turn, several times: the machine
    // is shared, so the best of the rounds counts.
    measure (set, 512, 1.0);
    const int blocks[2] = { 512, 32 };
    Result results[2] = {};
    for (int round = 0; round < 15; ++round)
    {
        for (int b = 0; b < 2; ++b)
        {
            const Result r = measure (set, blocks[b], seconds);
            if (r.realTimeFactor > results[b].realTimeFactor)
                results[b] = r;
        }
    }
    for (int b = 0; b < 2; ++b)
        std::printf ("block %4d: %7.1fx real time, %6.2f ns per voice-sample (%.0f voices sounding at the end, %d Hz)\n",
                     blocks[b], results[b].realTimeFactor, results[b].nanosecondsPerVoiceSample,
                     results[b].voicesPerSample, outputRate);
    std::printf ("block 32 takes %.3fx the time of block 512\n",
                 results[0].realTimeFactor / results[1].realTimeFactor);
    return 0;
}
