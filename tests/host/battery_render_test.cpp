// Host battery, rendering: both built formats at every filter rate and one
// unsupported rate, over a range of block sizes including zero and blocks
// longer than the effect buffers, with notes, pedal and bend, all effects off
// and on. Also a new prepare without release, a host reset mid-stream and
// blocks longer than the prepared size. Every processBlock is checked for
// allocations and locks (battery_hooks.cpp).
#include "battery_support.h"

namespace
{
using namespace battery;

const double rates[] = { 44100, 48000, 88200, 96000, 176400, 192000, 22050 };
const int blockSizes[] = { 1, 7, 32, 64, 512, 4096, 8192, 10000, 0 };
constexpr double secondsPerCombination = 0.25;
constexpr int zeroLengthBlocks = 16;

// Fixed gains for the bound: volume 5, drive gain 50, tine mix 0.5, four notes.
constexpr int notesPlayed = 4;
constexpr float tineMix = 0.5f;
constexpr float volume = 5.0f;
// Dry: each note at most 1 + tine mix, tremolo gain at most 1.
constexpr float dryBound = notesPlayed * (1.0f + tineMix) * volume * 1.01f;
// The drive's curves end below 1 in magnitude; the cabinet, unit EQ bands,
// chorus and reverb at reflection 0.3 add a few times that at most.
constexpr float effectsBound = 64.0f;

struct Battery : public testing::TestWithParam<Format>
{
    void SetUp() override
    {
        hosted = load (GetParam());
        ASSERT_NE (hosted, nullptr) << "could not load " << formatName (GetParam());
        buffer.setSize (hosted->numChannels(), 20000);
        midi.ensureSize (1024);
    }

    void setEffects (bool on)
    {
        Hosted& h = *hosted;
        for (const char* id : { "choruson", "reverbon", "eqon", "tremon", "driveon" })
            h[id].setValue (on ? 1.0f : 0.0f);
        h["mainout"].setValue (volume / 5.0f);
        h["drivegain"].setValue (1.0f);
        h["tinemix"].setValue (tineMix);
        h["release"].setValue (0.1f);
        h["program"].setValue (0.0f);
    }

    // One processBlock of `length` samples, counted.
    void block (int length)
    {
        buffer.setSize (buffer.getNumChannels(), length, false, false, true);
        buffer.clear();
        if (countingAvailable())
            beginCounting();
        hosted->instance->processBlock (buffer, midi);
        if (countingAvailable())
        {
            const RealtimeCounts counts = endCounting();
            stretch.add (counts);
            all.add (counts);
        }
        ++blocks;
        midi.clear();
        output.add (buffer, length);
    }

    // Notes, pedal and bend, then releases, over `total` samples in blocks of `length`.
    void play (int length, long total)
    {
        midi.clear();
        for (int n = 0; n < notesPlayed; ++n)
            midi.addEvent (juce::MidiMessage::noteOn (1, 48 + 7 * n, (juce::uint8) (127 - 9 * n)), 0);
        midi.addEvent (juce::MidiMessage::controllerEvent (1, 64, 127), 0);
        midi.addEvent (juce::MidiMessage::pitchWheel (1, 12000), 0);
        if (length == 0)
        {
            for (int b = 0; b < zeroLengthBlocks; ++b)
                block (0);
            return;
        }
        long done = 0;
        bool released = false;
        while (done < total)
        {
            if (! released && done >= total / 2)
            {
                for (int n = 0; n < notesPlayed; ++n)
                    midi.addEvent (juce::MidiMessage::noteOff (1, 48 + 7 * n), 0);
                midi.addEvent (juce::MidiMessage::controllerEvent (1, 64, 0), 0);
                midi.addEvent (juce::MidiMessage::pitchWheel (1, 2000), 0);
                released = true;
            }
            block (length);
            done += length;
        }
    }

    void expectCleanOutput (float bound, const std::string& where)
    {
        EXPECT_EQ (output.notFinite, 0) << where;
        EXPECT_EQ (output.denormal, 0) << where;
        EXPECT_LT (output.peak, bound) << where;
        if (countingAvailable())
        {
            EXPECT_EQ (stretch.tolvekAllocations, 0) << where << stretch.tolvekReport();
            EXPECT_EQ (stretch.tolvekLocks, 0) << where << stretch.tolvekReport();
        }
        output = OutputCheck();
        stretch = RealtimeTally();
    }

    BatteryHome home;
    std::unique_ptr<Hosted> hosted;
    juce::AudioBuffer<float> buffer;
    juce::MidiBuffer midi;
    OutputCheck output;
    long blocks = 0;
    RealtimeTally stretch, all;
};
} // namespace

TEST_P (Battery, EveryRateAndBlockSizeWithEffectsOffAndOn)
{
    int combinations = 0;
    float loudest = 0.0f;
    for (double rate : rates)
        for (int length : blockSizes)
        {
            // A new rate and block size each time, never released in between.
            hosted->instance->prepareToPlay (rate, std::max (length, 1));
            for (bool effects : { false, true })
            {
                setEffects (effects);
                play (length, (long) (rate * secondsPerCombination));
                loudest = std::max (loudest, output.peak);
                expectCleanOutput (effects ? effectsBound : dryBound,
                                   std::to_string ((int) rate) + " Hz, blocks of " + std::to_string (length)
                                       + (effects ? ", effects on" : ", effects off"));
                ++combinations;
            }
        }
    EXPECT_GT (loudest, 0.01f) << "the notes never sounded";
    RecordProperty ("combinations", combinations);
    RecordProperty ("blocks", (int) blocks);
    std::printf ("[ battery  ] %s: %d rate x block x effects combinations, %ld blocks, loudest %.3f\n[ battery  ] %s\n",
                 formatName (GetParam()), combinations, blocks, loudest, all.summary().c_str());
}

TEST_P (Battery, ResetMidStreamAndBlocksLongerThanPrepared)
{
    Hosted& h = *hosted;
    h.instance->prepareToPlay (48000, 64);
    setEffects (true);
    play (64, 4800);

    // A host reset while notes sound: rendering goes on cleanly.
    midi.addEvent (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), 0);
    block (64);
    h.instance->reset();
    for (int b = 0; b < 20; ++b)
        block (64);
    expectCleanOutput (effectsBound, "after a reset");

    // Blocks far longer than the prepared 64 samples, and back. VST3 forbids
    // them (maxSamplesPerBlock), and JUCE's VST3 hosting and wrapper write past
    // their prepared buffers when given one, so only LV2 gets them here; the
    // processor itself is tested with them in-process.
    if (GetParam() == Format::lv2)
    {
        for (int length : { 512, 8192, 10000, 8193, 64, 1 })
        {
            midi.addEvent (juce::MidiMessage::noteOn (1, 50 + length % 30, (juce::uint8) 90), 0);
            block (length);
        }
        expectCleanOutput (effectsBound, "blocks longer than prepared");
    }

    // Prepared again at another rate without release, then released and prepared.
    h.instance->prepareToPlay (96000, 256);
    play (256, 9600);
    h.instance->releaseResources();
    h.instance->prepareToPlay (44100, 1024);
    play (1024, 11025);
    EXPECT_GT (output.peak, 0.01f);
    expectCleanOutput (effectsBound, "prepared again");
    h.instance->releaseResources();
}

INSTANTIATE_TEST_SUITE_P (Formats, Battery, testing::Values (Format::vst3, Format::lv2),
                          [] (const testing::TestParamInfo<Format>& info) { return std::string (formatName (info.param)); });
