// MIDI intake: messages, voice allocation and zone choice.

#include <gtest/gtest.h>

#include "voice_fixtures.h"

using namespace voicefixtures;

namespace
{

struct VoiceMidi : ::testing::Test
{
    EngineRig rig;

    void SetUp() override
    {
        rig.sets.main.build ({ loopedZone (constantSamples (4000, 1000), 60, 1000) });
    }
};

} // namespace

TEST (VoiceMidiPitchWheel, WheelValuesGiveLinearRatios)
{
    struct Case
    {
        int wheel;
        float bend;
    };
    const Case cases[] = {
        { 0, 0.5f }, { 4096, 0.75f }, { 8192, 1.0f }, { 12288, 1.5f }, { 16383, 1.9998779296875f },
    };
    for (const auto& c : cases)
    {
        EngineRig rig;
        rig.midi (0xE5, (uint8_t) (c.wheel & 0x7F), (uint8_t) (c.wheel >> 7));
        EXPECT_EQ (rig.engine.pitchBend, c.bend) << "wheel " << c.wheel;
    }
}

TEST_F (VoiceMidi, PitchWheelActsOnSoundingVoicesOfTheNextBlock)
{
    rig.noteOn (60);
    rig.render (10);
    const double before = rig.engine.voices[0].position;
    rig.midi (0xE0, 0, 0);       // full down
    rig.midi (0xE0, 0, 0x40);    // the last wheel message of the block counts
    rig.render (10);
    EXPECT_DOUBLE_EQ (rig.engine.voices[0].position - before, 10.0);
    rig.midi (0xE0, 0, 0);
    rig.render (10);
    EXPECT_DOUBLE_EQ (rig.engine.voices[0].position - before, 15.0);
}

TEST_F (VoiceMidi, VelocityZeroNoteOnIsANoteOff)
{
    rig.noteOn (60);
    rig.midi (0x93, 60, 0);
    EXPECT_EQ (rig.engine.voices[0].stage, releaseStage);
    EXPECT_EQ (rig.activeVoices(), 1);
}

TEST_F (VoiceMidi, SixtyFifthNoteIsDroppedAndTheLowestFreeSlotIsReused)
{
    for (int k = 0; k < 64; ++k)
        rig.noteOn (20 + k);
    EXPECT_EQ (rig.activeVoices(), 64);

    rig.noteOn (100);
    EXPECT_EQ (rig.activeVoices(), 64);
    for (const auto& v : rig.engine.voices)
        EXPECT_NE (v.note, 100);

    // Free slots 10 and 30; the next note takes 10, the one after 30.
    rig.params.release = 0.0f;
    rig.noteOff (20 + 30);
    rig.noteOff (20 + 10);
    rig.render (1);
    EXPECT_FALSE (rig.engine.voices[10].active);
    EXPECT_FALSE (rig.engine.voices[30].active);
    rig.noteOn (101);
    EXPECT_TRUE (rig.engine.voices[10].active);
    EXPECT_EQ (rig.engine.voices[10].note, 101);
    rig.noteOn (102);
    EXPECT_EQ (rig.engine.voices[30].note, 102);
}

TEST_F (VoiceMidi, TwoNoteOnsOfOneKeyAreBothReleasedByOneNoteOff)
{
    rig.noteOn (60);
    rig.noteOn (62);
    rig.noteOn (60);
    EXPECT_EQ (rig.activeVoices(), 3);
    rig.noteOff (60);
    EXPECT_EQ (rig.engine.voices[0].stage, releaseStage);
    EXPECT_EQ (rig.engine.voices[1].stage, attackStage);
    EXPECT_EQ (rig.engine.voices[2].stage, releaseStage);
}

TEST_F (VoiceMidi, SustainPedalThreshold)
{
    struct Case
    {
        int value;
        bool down;
    };
    const Case cases[] = { { 0, false }, { 63, false }, { 64, true }, { 127, true } };
    for (const auto& c : cases)
    {
        rig.engine.sustainPedal = ! c.down;
        rig.midi (0xB7, 64, (uint8_t) c.value);
        EXPECT_EQ (rig.engine.sustainPedal, c.down) << "value " << c.value;
    }
    // Another controller with the same value leaves the pedal alone.
    rig.engine.sustainPedal = false;
    rig.midi (0xB0, 65, 127);
    EXPECT_FALSE (rig.engine.sustainPedal);
}

TEST_F (VoiceMidi, MessagesThatDoNothing)
{
    rig.noteOn (60);
    rig.noteOn (64);
    rig.render (5);
    const VoiceEngine before = rig.engine;

    const uint8_t messages[][3] = {
        { 0xB0, 123, 0 },  // all notes off
        { 0xB0, 120, 0 },  // all sound off
        { 0xB0, 1, 100 },  // modulation wheel
        { 0xA0, 60, 50 },  // polyphonic aftertouch
        { 0xD0, 80, 0 },   // channel pressure
        { 0xF8, 0, 0 },    // clock
    };
    for (const auto& m : messages)
    {
        const int size = (m[0] & 0xF0) == 0xD0 ? 2 : (m[0] == 0xF8 ? 1 : 3);
        EXPECT_EQ (rig.engine.handleMidi (m, size, rig.sets.view(), rig.params, rig.sampleRateHz), -1);
    }

    EXPECT_EQ (rig.engine.pitchBend, before.pitchBend);
    EXPECT_EQ (rig.engine.sustainPedal, before.sustainPedal);
    for (int k = 0; k < voiceBankSize; ++k)
    {
        EXPECT_EQ (rig.engine.voices[k].active, before.voices[k].active);
        EXPECT_EQ (rig.engine.voices[k].stage, before.voices[k].stage);
    }

    VoiceEngine untouched = before;
    std::vector<float> expected (64);
    untouched.render (expected.data(), 64, rig.sets.view(), rig.params, rig.sampleRateHz);
    EXPECT_EQ (rig.render (64), expected);
}

TEST_F (VoiceMidi, ProgramChangeReturnsItsNumber)
{
    EXPECT_EQ (rig.midi (0xC0, 7), 7);
    EXPECT_EQ (rig.midi (0xCF, 0), 0);
    EXPECT_EQ (rig.midi (0x90, 60, 100), -1);
    EXPECT_EQ (rig.midi (0xE0, 0, 64), -1);
}

TEST_F (VoiceMidi, ZeroLengthBlockStillAppliesItsMidi)
{
    rig.noteOn (60);
    rig.pedal (true);
    rig.midi (0xE0, 0, 0);
    float sentinel = 123.0f;
    rig.engine.render (&sentinel, 0, rig.sets.view(), rig.params, rig.sampleRateHz);
    EXPECT_EQ (sentinel, 123.0f);
    EXPECT_TRUE (rig.engine.voices[0].active);
    EXPECT_TRUE (rig.engine.sustainPedal);
    EXPECT_EQ (rig.engine.pitchBend, 0.5f);
    EXPECT_EQ (rig.engine.voices[0].position, 0.0);   // nothing rendered yet
    const auto out = rig.render (4);
    EXPECT_NE (out[0], 0.0f);
}

TEST (VoiceMidiNoSet, NoteOnsStartNothingButOtherMessagesAct)
{
    EngineRig rig;
    rig.noteOn (60);
    rig.pedal (true);
    rig.midi (0xE0, 0, 0x60);
    EXPECT_EQ (rig.activeVoices(), 0);
    EXPECT_TRUE (rig.engine.sustainPedal);
    EXPECT_EQ (rig.engine.pitchBend, 1.5f);
    for (float s : rig.render (32))
        EXPECT_EQ (s, 0.0f);
}

TEST (VoiceMidiZones, NearestZoneAndTies)
{
    // rootNote, velocity per zone, in table order.
    const int zones[][2] = { { 48, 64 }, { 60, 40 }, { 60, 100 }, { 60, 70 }, { 64, 127 }, { 72, 10 }, { 76, 10 } };
    std::vector<tableDataType> table;
    for (const auto& z : zones)
    {
        tableDataType t;
        t.rootNote = (uint8_t) z[0];
        t.velocity = (uint8_t) z[1];
        table.push_back (t);
    }
    const int count = (int) table.size();

    struct Case
    {
        int note, velocity, zone;
    };
    const Case cases[] = {
        { 60, 40, 1 },    // exact
        { 60, 70, 3 },    // exact, later in the table
        { 60, 85, 2 },    // 100 and 70 equally far: the earlier one
        { 60, 55, 1 },    // 40 and 70 equally far: the earlier one
        { 61, 127, 2 },   // nearest root wins; velocity decides among 60s
        { 62, 127, 4 },   // 64 is 2 away, 60 is 2 away: velocity 127 matches zone 4 exactly
        { 62, 90, 2 },    // 60@100 at distance 2*128+10, 64@127 at 2*128+37
        { 74, 10, 5 },    // between 72 and 76: equal, the earlier
        { 0, 0, 0 },      // far below everything: 48 nearest
        { 127, 127, 6 },  // 76 nearest
        { 205, 10, 0 },   // every distance at least 16512: zone 0
    };
    for (const auto& c : cases)
        EXPECT_EQ (VoiceEngine::findNearestZone (table.data(), count, c.note, c.velocity), c.zone)
            << "note " << c.note << " velocity " << c.velocity;

    EXPECT_EQ (VoiceEngine::findNearestZone (table.data(), 0, 60, 100), -1);
    EXPECT_EQ (VoiceEngine::findNearestZone (nullptr, 0, 60, 100), -1);
}

TEST (VoiceMidiZones, TineNoteAboveEveryZoneStillChoosesByDistance)
{
    // Tine note 144: 16512 is not beaten by a zone at 0 (144 * 128), but is by one at 24.
    std::vector<tableDataType> table (2);
    table[0].rootNote = 0;
    table[1].rootNote = 24;
    EXPECT_EQ (VoiceEngine::findNearestZone (table.data(), 2, 144, 127), 1);
    table[1].rootNote = 0;
    EXPECT_EQ (VoiceEngine::findNearestZone (table.data(), 2, 144, 127), 0);
}
