#pragma once

// In-memory sample sets for the voice tests: zones laid one after another in one
// buffer, as a loaded set has them, with guard samples around every zone so that
// a read outside a zone shows up in the output.

#include <cmath>
#include <cstdint>
#include <vector>

#include "VoiceEngine.h"
#include "samples/SampleSet.h"

namespace voicefixtures
{

constexpr short guardSample = 30000;
constexpr int guardLength = 16;

struct FixtureZone
{
    std::vector<short> samples;
    int rootNote = 60;
    int velocity = 127;
    double sampleRate = 44100.0;
    bool looped = false;
    uint32_t loopLength = 0;
    double loopGain = 1.0;
};

struct FixtureSet
{
    std::vector<short> buffer;
    std::vector<tableDataType> table;

    void build (const std::vector<FixtureZone>& zones)
    {
        size_t total = guardLength;
        for (const auto& z : zones)
            total += z.samples.size() + guardLength;
        buffer.assign (total, guardSample);
        table.clear();

        size_t at = guardLength;
        for (const auto& z : zones)
        {
            tableDataType t;
            t.rootNote = (uint8_t) z.rootNote;
            t.velocity = (uint8_t) z.velocity;
            t.looped = z.looped;
            t.loopLength = z.loopLength;
            t.loopGain = z.loopGain;
            t.samplePeriod = 1.0 / z.sampleRate;
            t.length = (uint32_t) z.samples.size();
            for (size_t i = 0; i < z.samples.size(); ++i)
                buffer[at + i] = z.samples[i];
            t.data = buffer.data() + at;
            table.push_back (t);
            at += z.samples.size() + guardLength;
        }
    }

    const short* samples() const { return table.empty() ? nullptr : buffer.data(); }
    short size() const { return (short) table.size(); }
};

// A main set and, for kind 2, a tine set.
struct FixtureSets
{
    FixtureSet main;
    FixtureSet tine;
    short kind = 0;

    SetView view() const
    {
        SetView v;
        v.samples = main.samples();
        v.table = main.table.empty() ? nullptr : main.table.data();
        v.tableSize = main.size();
        v.tineSamples = tine.samples();
        v.tineTable = tine.table.empty() ? nullptr : tine.table.data();
        v.tineTableSize = tine.size();
        v.setKind = kind;
        return v;
    }
};

inline std::vector<short> constantSamples (size_t length, short value)
{
    return std::vector<short> (length, value);
}

// Distinct values, so that which sample was read can be told from the output.
inline std::vector<short> rampSamples (size_t length, int first = 100, int step = 7)
{
    std::vector<short> s (length);
    for (size_t i = 0; i < length; ++i)
        s[i] = (short) (first + step * (int) i);
    return s;
}

inline std::vector<short> sineSamples (size_t length, double cyclesPerSample, double amplitude)
{
    std::vector<short> s (length);
    for (size_t i = 0; i < length; ++i)
        s[i] = (short) std::lround (amplitude * std::sin (2.0 * M_PI * cyclesPerSample * (double) i));
    return s;
}

inline FixtureZone zone (std::vector<short> samples, int rootNote, int velocity = 127, double rate = 44100.0)
{
    FixtureZone z;
    z.samples = std::move (samples);
    z.rootNote = rootNote;
    z.velocity = velocity;
    z.sampleRate = rate;
    return z;
}

inline FixtureZone loopedZone (std::vector<short> samples, int rootNote, uint32_t loopLength, double loopGain = 1.0,
                            double rate = 44100.0)
{
    FixtureZone z = zone (std::move (samples), rootNote, 127, rate);
    z.looped = true;
    z.loopLength = loopLength;
    z.loopGain = loopGain;
    return z;
}

// Drives the engine as the processor does: the block's MIDI first, then the block.
struct EngineRig
{
    VoiceEngine engine;
    FixtureSets sets;
    VoiceParams params;
    int sampleRateHz = 44100;

    EngineRig() { engine.reset(); }

    int midi (uint8_t status, uint8_t d1, uint8_t d2 = 0)
    {
        const uint8_t bytes[3] = { status, d1, d2 };
        const int size = ((status & 0xF0) == 0xC0) ? 2 : 3;
        return engine.handleMidi (bytes, size, sets.view(), params, sampleRateHz);
    }

    void noteOn (int note, int velocity = 127) { midi (0x90, (uint8_t) note, (uint8_t) velocity); }
    void noteOff (int note) { midi (0x80, (uint8_t) note, 0); }
    void pedal (bool down) { midi (0xB0, 64, down ? 127 : 0); }

    std::vector<float> render (int n)
    {
        std::vector<float> out ((size_t) n, -1.0f);
        engine.render (out.data(), n, sets.view(), params, sampleRateHz);
        return out;
    }

    int activeVoices() const
    {
        int count = 0;
        for (const auto& v : engine.voices)
            count += v.active ? 1 : 0;
        return count;
    }

    int activeTineVoices() const
    {
        int count = 0;
        for (const auto& v : engine.tineVoices)
            count += v.active ? 1 : 0;
        return count;
    }
};

// What one voice of raw value s at gain and level gives at the output with the
// tremolo off: the fixed factors in float, then times 1.0 in double.
inline float expectedOutput (double s, double gain, double level)
{
    const float contribution = (float) (s * gain * level);
    const float sum = 0.0f + contribution;
    return (float) ((double) (sum * 0.25f * sampleScale) * 1.0);
}

} // namespace voicefixtures
