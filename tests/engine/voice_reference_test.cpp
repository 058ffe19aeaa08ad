// The engine against the plain reference renderer: a long randomised scenario
// must come out bit for bit the same.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "ReferenceRenderer.h"
#include "voice_fixtures.h"

using namespace voicefixtures;

namespace
{

VoiceParams toVoiceParams (const ReferenceFixedParams& r)
{
    VoiceParams p;
    p.attack = r.attack;
    p.release = r.release;
    p.decay = r.decay;
    p.sustain = r.sustain;
    p.tinemix = r.tinemix;
    p.tremspeed = r.tremspeed;
    p.tremapm = r.tremapm;
    p.tineon = r.tineon >= 0.5f;
    p.tremon = r.tremon >= 0.5f;
    return p;
}

std::vector<short> randomSamples (std::mt19937& random, size_t length)
{
    std::uniform_int_distribution<int> kind (0, 2);
    std::uniform_real_distribution<double> unit (0.0, 1.0);
    switch (kind (random))
    {
        case 0:
        {
            std::uniform_int_distribution<int> value (-32768, 32767);
            std::vector<short> s (length);
            for (auto& x : s)
                x = (short) value (random);
            return s;
        }
        case 1:
            return sineSamples (length, 0.001 + 0.05 * unit (random), 1000.0 + 31000.0 * unit (random));
        default:
            return rampSamples (length, -20000, 3);
    }
}

// Zones of every shape the engine distinguishes: short and long, looped with
// loops of one sample up to the whole zone, decaying loops, several rates.
std::vector<FixtureZone> randomZones (std::mt19937& random, int count, bool allowLoops)
{
    const double rates[] = { 22050.0, 32000.0, 44100.0, 48000.0, 96000.0 };
    std::uniform_int_distribution<int> rateIndex (0, 4);
    std::uniform_int_distribution<int> root (24, 108);
    std::uniform_int_distribution<int> velocity (0, 127);
    std::uniform_int_distribution<int> shortOrLong (0, 3);
    std::uniform_real_distribution<double> unit (0.0, 1.0);

    std::vector<FixtureZone> zones;
    for (int k = 0; k < count; ++k)
    {
        const size_t length = shortOrLong (random) == 0 ? 3 + (size_t) (unit (random) * 200)
                                                        : 2000 + (size_t) (unit (random) * 40000);
        FixtureZone z = zone (randomSamples (random, length), root (random), velocity (random),
                           rates[rateIndex (random)]);
        if (allowLoops && unit (random) < 0.6)
        {
            z.looped = true;
            const double pick = unit (random);
            if (pick < 0.15)
                z.loopLength = 1;
            else if (pick < 0.3)
                z.loopLength = 2 + (uint32_t) (unit (random) * 3);
            else if (pick < 0.4)
                z.loopLength = (uint32_t) length;
            else
                z.loopLength = 1 + (uint32_t) (unit (random) * (double) (length - 1));
            const double gainPick = unit (random);
            z.loopGain = gainPick < 0.4 ? 1.0 : (double) (1.0f - (float) (unit (random) * 20000.0) / 1e6f);
        }
        zones.push_back (z);
    }
    return zones;
}

void randomiseParams (std::mt19937& random, ReferenceFixedParams& p)
{
    std::uniform_real_distribution<double> unit (0.0, 1.0);
    // Values on the parameters' 0.01 grid, limits included.
    auto grid = [&] (float maximum) { return (float) (std::floor (unit (random) * (maximum * 100.0 + 1.0)) / 100.0); };
    auto pickOne = [&] (auto& field, auto value) {
        if (unit (random) < 0.3)
            field = value;
    };
    pickOne (p.attack, unit (random) < 0.5 ? 0.0f : grid (0.05f));
    pickOne (p.release, unit (random) < 0.1 ? 5.0f : (unit (random) < 0.1 ? 0.0f : grid (0.5f)));
    pickOne (p.decay, grid (1.0f));
    pickOne (p.sustain, grid (1.0f));
    pickOne (p.tinemix, grid (1.0f));
    pickOne (p.tremspeed, grid (1.0f));
    pickOne (p.tremapm, grid (1.0f));
    pickOne (p.tineon, unit (random) < 0.5 ? 0.0f : 1.0f);
    pickOne (p.tremon, unit (random) < 0.5 ? 0.0f : 1.0f);
}

struct Scenario
{
    short kind;
    int sampleRateHz;
    unsigned seed;
};

class VoiceReference : public ::testing::TestWithParam<Scenario>
{
};

} // namespace

TEST_P (VoiceReference, EngineEqualsReferenceBitForBit)
{
    const Scenario scenario = GetParam();
    std::mt19937 random (scenario.seed);

    FixtureSets sets;
    sets.kind = scenario.kind;
    sets.main.build (randomZones (random, 24, true));
    if (scenario.kind == 2)
        sets.tine.build (randomZones (random, 12, true));  // tine loops exist but are never used
    const SetView view = sets.view();

    VoiceEngine engine;
    engine.reset();
    ReferenceVoiceRenderer reference;
    reference.setSet (sets.main.table.data(), sets.main.size(), scenario.kind,
                      sets.tine.table.empty() ? nullptr : sets.tine.table.data(), sets.tine.size());
    reference.reset (scenario.sampleRateHz);

    ReferenceFixedParams params;
    const int blockSizes[] = { 0, 1, 1, 2, 7, 31, 32, 64, 127, 333, 512, 1000 };
    std::uniform_int_distribution<int> blockPick (0, (int) (sizeof (blockSizes) / sizeof (blockSizes[0])) - 1);
    std::uniform_int_distribution<int> eventCount (0, 6);
    std::uniform_int_distribution<int> eventKind (0, 99);
    std::uniform_int_distribution<int> note (21, 120);
    std::uniform_int_distribution<int> byte (0, 127);
    std::uniform_real_distribution<double> unit (0.0, 1.0);

    std::vector<float> engineOut (1000), referenceOut (1000);
    std::vector<int> sounding;
    long renderedSamples = 0;
    int maxActive = 0;

    for (int block = 0; block < 1500; ++block)
    {
        if (unit (random) < 0.2)
            randomiseParams (random, params);
        const VoiceParams voiceParams = toVoiceParams (params);

        // A burst now and then fills both banks.
        const int events = unit (random) < 0.03 ? 70 : eventCount (random);
        for (int e = 0; e < events; ++e)
        {
            uint8_t bytes[3] = { 0, 0, 0 };
            int size = 3;
            const int what = events == 70 ? 0 : eventKind (random);
            const uint8_t channel = (uint8_t) (random() % 16);
            if (what < 40)
            {
                const int n = note (random);
                const double v = unit (random);
                const int velocity = v < 0.05 ? 0 : (v < 0.12 ? 1 + (int) (unit (random) * 5) : 1 + byte (random));
                bytes[0] = (uint8_t) (0x90 | channel);
                bytes[1] = (uint8_t) n;
                bytes[2] = (uint8_t) std::min (velocity, 127);
                sounding.push_back (n);
            }
            else if (what < 70)
            {
                if (sounding.empty())
                    continue;
                const size_t k = random() % sounding.size();
                bytes[0] = (uint8_t) ((unit (random) < 0.8 ? 0x80 : 0x90) | channel);
                bytes[1] = (uint8_t) sounding[k];
                bytes[2] = 0;
                sounding.erase (sounding.begin() + (long) k);
            }
            else if (what < 80)
            {
                bytes[0] = (uint8_t) (0xB0 | channel);
                bytes[1] = 64;
                bytes[2] = (uint8_t) byte (random);
            }
            else if (what < 90)
            {
                bytes[0] = (uint8_t) (0xE0 | channel);
                const double w = unit (random);
                const int wheel = w < 0.1 ? 0 : (w < 0.2 ? 16383 : (w < 0.3 ? 8192 : (int) (unit (random) * 16384)));
                bytes[1] = (uint8_t) (wheel & 0x7F);
                bytes[2] = (uint8_t) (wheel >> 7);
            }
            else if (what < 94)
            {
                bytes[0] = (uint8_t) (0xC0 | channel);
                bytes[1] = (uint8_t) byte (random);
                size = 2;
            }
            else
            {
                const uint8_t others[][3] = { { 0xB0, 123, 0 }, { 0xB0, 120, 0 }, { 0xA0, 60, 90 }, { 0xB0, 7, 100 } };
                std::memcpy (bytes, others[random() % 4], 3);
                bytes[0] = (uint8_t) (bytes[0] | channel);
            }

            const int enginePc = engine.handleMidi (bytes, size, view, voiceParams, scenario.sampleRateHz);
            const int referencePc = reference.handleMidi (bytes, size, params);
            ASSERT_EQ (enginePc, referencePc);
        }

        const int n = blockSizes[blockPick (random)];
        engine.render (engineOut.data(), n, view, voiceParams, scenario.sampleRateHz);
        reference.render (referenceOut.data(), n, params);
        for (int t = 0; t < n; ++t)
        {
            uint32_t a, b;
            std::memcpy (&a, &engineOut[(size_t) t], 4);
            std::memcpy (&b, &referenceOut[(size_t) t], 4);
            ASSERT_EQ (a, b) << "block " << block << " sample " << t << ": engine " << engineOut[(size_t) t]
                             << " reference " << referenceOut[(size_t) t];
        }
        renderedSamples += n;

        int active = 0;
        for (int k = 0; k < 64; ++k)
        {
            ASSERT_EQ (engine.voices[k].active, reference.voices[k].active) << "block " << block << " voice " << k;
            ASSERT_EQ (engine.tineVoices[k].active, reference.tineVoices[k].active) << "block " << block;
            active += engine.voices[k].active ? 1 : 0;
        }
        maxActive = std::max (maxActive, active);

        // Now and then the set is reloaded: every voice stops.
        if (unit (random) < 0.005)
        {
            engine.deactivateAll();
            reference.setSet (sets.main.table.data(), sets.main.size(), scenario.kind,
                              sets.tine.table.empty() ? nullptr : sets.tine.table.data(), sets.tine.size());
        }
    }

    EXPECT_GT (renderedSamples, 100000);
    EXPECT_EQ (maxActive, 64);  // the scenario did reach a full bank
}

INSTANTIATE_TEST_SUITE_P (Scenarios, VoiceReference,
                          ::testing::Values (Scenario { 0, 44100, 11 }, Scenario { 1, 48000, 12 },
                                             Scenario { 2, 44100, 13 }, Scenario { 2, 96000, 14 },
                                             Scenario { 0, 22050, 15 }, Scenario { 2, 48000, 16 }));
