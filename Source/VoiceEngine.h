#pragma once

#include <cstdint>

#include "Tremolo.h"
#include "samples/SampleSet.h"

// One sounding voice of either bank. A voice's index in its bank is its only
// identity; the fields of an inactive voice are stale.
struct voiceDataType
{
    bool active = false;
    short note = 0;               // the played key, also for a tine voice
    double gain = 0.0;            // velocity gain, times loopGain per loop pass
    double loopGain = 1.0;        // main layer only
    uint32_t loopLength = 0;      // main layer only
    bool looped = false;          // main layer only
    const short* start = nullptr; // the zone's first sample
    const short* last = nullptr;  // the zone's last sample
    double pitchRatio = 1.0;
    double step = 1.0;            // zone rate / output rate
    double position = 0.0;        // read position in samples from start
    int stage = 0;
    double level = 0.0;
};

enum
{
    attackStage = 0,
    decayStage = 1,
    releaseStage = 2
};

// The loaded sets as the engine sees them; the processor owns the buffers.
struct SetView
{
    const short* samples = nullptr;
    const tableDataType* table = nullptr;
    short tableSize = 0;
    const short* tineSamples = nullptr;
    const tableDataType* tineTable = nullptr;
    short tineTableSize = 0;
    short setKind = 0;          // 2: the tine set plays with the main set
};

// Plain parameter values for one block; switches already decided (value >= 0.5).
struct VoiceParams
{
    float attack = 0.0f;
    float release = 0.1f;
    float decay = 0.0f;
    float sustain = 1.0f;
    float tinemix = 0.0f;
    float tremspeed = 0.5f;
    float tremapm = 0.5f;
    bool tineon = false;
    bool tremon = false;
};

constexpr int voiceBankSize = 64;

// Brings the raw 16-bit scale to +-1: the float nearest 1/32765 (the quotient of
// two exact floats is correctly rounded).
constexpr float sampleScale = 1.0f / 32765.0f;

// A main voice ends when its gain falls under this.
constexpr double gainFloor = 0.001;

struct VoiceEngine
{
    voiceDataType voices[voiceBankSize];
    voiceDataType tineVoices[voiceBankSize];
    float pitchBend = 1.0f;
    bool sustainPedal = false;
    Tremolo tremolo;

    // All voices inactive, pitchBend 1, pedal up, tremolo restarted.
    void reset();

    // Every voice of both banks inactive; call before a set's buffers are released.
    void deactivateAll();

    // One complete MIDI message, in buffer order. Returns the program number of a
    // program change (the caller decides whether the parameter changes), else -1.
    int handleMidi (const uint8_t* data, int size, const SetView& set, const VoiceParams& p, int sampleRateHz);

    // Writes n samples of the dry voice sum times the tremolo gain into out.
    // The parameters are taken once for the whole call: they do not change inside
    // a block, so this equals reading them at every sample.
    void render (float* out, int n, const SetView& set, const VoiceParams& p, int sampleRateHz);

    // Lowest-numbered inactive voice of the bank, or -1.
    static int findFreeVoice (const voiceDataType* bank);

    // First zone of smallest distance |note - root| * 128 + |velocity - zone velocity|,
    // zone 0 when none comes under 16512, -1 for an empty table.
    static int findNearestZone (const tableDataType* zones, int zoneCount, int note, int velocity);

    // Playback fields from the zone, envelope at the start of its attack.
    static void startVoice (voiceDataType& voice, const tableDataType& zone, int pitchNote, int playedNote,
                            int velocity, bool tineLayer, int sampleRateHz);

    void startNote (int note, int velocity, const SetView& set, const VoiceParams& p, int sampleRateHz);

    // Every sounding voice of the key goes to its release; tine voices only with a tine set.
    void releaseNote (int note, short setKind);
};
