// processBlock as a whole: real-time safety, slicing of long blocks, the output stage.
#include <gtest/gtest.h>

#include "PluginProcessor.h"
#include "samples/SetEncoder.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>

// Counting replacements of the allocation functions. They count only while a
// test arms them, so the rest of the program allocates as usual. Sanitizer
// builds bring their own allocator, so the count is skipped there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
 #define TOLVEK_COUNT_ALLOCATIONS 0
#elif defined(__has_feature)
 #if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  #define TOLVEK_COUNT_ALLOCATIONS 0
 #endif
#endif
#ifndef TOLVEK_COUNT_ALLOCATIONS
 #define TOLVEK_COUNT_ALLOCATIONS 1
#endif

namespace
{
std::atomic<bool> countingAllocations { false };
std::atomic<int> allocationCount { 0 };

void noteAllocation()
{
    if (countingAllocations.load (std::memory_order_relaxed))
        allocationCount.fetch_add (1, std::memory_order_relaxed);
}
} // namespace

#if TOLVEK_COUNT_ALLOCATIONS
extern "C" void* __libc_malloc (size_t);
extern "C" void* __libc_calloc (size_t, size_t);
extern "C" void* __libc_realloc (void*, size_t);

extern "C" void* malloc (size_t size)
{
    noteAllocation();
    return __libc_malloc (size);
}
extern "C" void* calloc (size_t count, size_t size)
{
    noteAllocation();
    return __libc_calloc (count, size);
}
extern "C" void* realloc (void* p, size_t size)
{
    noteAllocation();
    return __libc_realloc (p, size);
}
void* operator new (size_t size)
{
    noteAllocation();
    if (void* p = __libc_malloc (size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[] (size_t size) { return operator new (size); }
void operator delete (void* p) noexcept { std::free (p); }
void operator delete[] (void* p) noexcept { std::free (p); }
void operator delete (void* p, size_t) noexcept { std::free (p); }
void operator delete[] (void* p, size_t) noexcept { std::free (p); }
#endif

namespace
{
struct SetsFolder
{
    SetsFolder()
    {
        folder = juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile ("tolvek-rt", "", false);
        folder.createDirectory();
        std::vector<ZoneSource> mainZones, tineZones;
        for (int root = 36; root <= 96; root += 12)
        {
            ZoneSource zone;
            zone.rootNote = root;
            zone.velocity = 100;
            zone.sampleRate = 44100;
            zone.samples.resize (20000);
            for (size_t i = 0; i < zone.samples.size(); ++i)
                zone.samples[i] = (int16_t) (9000.0 * std::sin (0.01 * (double) i * (root / 12)));
            zone.looped = true;
            zone.loopLength = 4000;
            zone.loopDecay = 200;
            mainZones.push_back (zone);
            zone.looped = false;
            zone.samples.resize (3000);
            tineZones.push_back (zone);
        }
        EXPECT_TRUE (writeSetFile (folder.getChildFile ("set.rks").getFullPathName().toStdString(), mainZones, 2).empty());
        EXPECT_TRUE (writeSetFile (folder.getChildFile ("tines.tin").getFullPathName().toStdString(), tineZones, 0).empty());
    }
    ~SetsFolder() { folder.deleteRecursively(); }
    juce::File folder;
};

void switchEverythingOn (TolvekAudioProcessor& p)
{
    for (auto* sw : { p.choruson, p.reverbon, p.eqon, p.tremon, p.driveon })
        *sw = true;
    *p.tinemix = 0.5f;
    *p.drivegain = 4.0f;
    *p.roomsize = 100.0f;
}
} // namespace

TEST (RealTime, ProcessBlockAllocatesNothing)
{
    if (! TOLVEK_COUNT_ALLOCATIONS)
        GTEST_SKIP() << "allocation counting is off under sanitizers";

    SetsFolder sets;
    auto pOwner = std::make_unique<TolvekAudioProcessor> (sets.folder.getFullPathName());
    auto& p = *pOwner;
    p.setRateAndBufferSizeDetails (48000, 10000);
    switchEverythingOn (p);
    p.prepareToPlay (48000, 10000);
    ASSERT_GT (p.tableSize, 0);

    const int lengths[] = { 1, 7, 64, 512, 8192, 10000, 0, 333 };
    juce::AudioBuffer<float> buffer (2, 10000);
    juce::MidiBuffer midi;
    midi.ensureSize (4096);

    for (int round = 0; round < 24; ++round)
    {
        const int length = lengths[round % 8];
        midi.clear();
        midi.addEvent (juce::MidiMessage::noteOn (1, 40 + round, (juce::uint8) (30 + round * 4)), 0);
        midi.addEvent (juce::MidiMessage::controllerEvent (1, 64, round % 2 ? 127 : 0), 0);
        midi.addEvent (juce::MidiMessage::pitchWheel (1, 4096 + round * 300), 0);
        if (round > 4)
            midi.addEvent (juce::MidiMessage::noteOff (1, 36 + round), 0);
        buffer.setSize (2, length, false, false, true);

        allocationCount = 0;
        countingAllocations = true;
        p.processBlock (buffer, midi);
        countingAllocations = false;
        EXPECT_EQ (allocationCount.load(), 0) << "block " << round << " of " << length << " samples";
    }
}

TEST (OutputStage, VolumeStereoCopyAndLongBlocks)
{
    SetsFolder sets;
    auto render = [&] (float volume, std::initializer_list<int> lengths, int channels = 2)
    {
        auto pOwner = std::make_unique<TolvekAudioProcessor> (sets.folder.getFullPathName());
        auto& p = *pOwner;
        p.setRateAndBufferSizeDetails (48000, 512);
        *p.mainout = volume;
        *p.reverbon = true;
        p.prepareToPlay (48000, 512);
        std::vector<std::vector<float>> out ((size_t) channels);
        bool first = true;
        for (int length : lengths)
        {
            juce::AudioBuffer<float> buffer (channels, length);
            buffer.clear();
            juce::MidiBuffer midi;
            if (first)
                midi.addEvent (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 127), 0);
            first = false;
            p.processBlock (buffer, midi);
            for (int ch = 0; ch < channels; ++ch)
                out[(size_t) ch].insert (out[(size_t) ch].end(), buffer.getReadPointer (ch), buffer.getReadPointer (ch) + length);
        }
        return out;
    };

    const auto unity = render (1.0f, { 20000 });
    const auto loud = render (5.0f, { 20000 });
    const auto silent = render (0.0f, { 20000 });
    ASSERT_EQ (unity[0].size(), 20000u);
    float peak = 0;
    for (size_t i = 0; i < unity[0].size(); ++i)
    {
        EXPECT_EQ (unity[0][i], unity[1][i]);
        EXPECT_EQ (loud[0][i], unity[0][i] * 5.0f);
        EXPECT_EQ (silent[0][i], 0.0f);
        EXPECT_EQ (silent[1][i], 0.0f);
        peak = std::max (peak, std::abs (unity[0][i]));
    }
    EXPECT_GT (peak, 0.01f);

    // A block longer than the effect buffers is processed as slices of 8192.
    const auto sliced = render (1.0f, { 8192, 8192, 3616 });
    EXPECT_EQ (sliced[0], unity[0]);

    // With one output channel the result is mono in channel 0.
    const auto mono = render (1.0f, { 20000 }, 1);
    EXPECT_EQ (mono[0], unity[0]);
}

TEST (OutputStage, ZeroLengthBlockStillActsOnItsMidi)
{
    SetsFolder sets;
    auto pOwner = std::make_unique<TolvekAudioProcessor> (sets.folder.getFullPathName());
    auto& p = *pOwner;
    p.setRateAndBufferSizeDetails (48000, 512);
    p.prepareToPlay (48000, 512);
    juce::AudioBuffer<float> empty (2, 0);
    juce::MidiBuffer midi;
    midi.addEvent (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), 0);
    midi.addEvent (juce::MidiMessage::pitchWheel (1, 0), 0);
    midi.addEvent (juce::MidiMessage::programChange (1, 7), 0);
    p.processBlock (empty, midi);
    EXPECT_TRUE (p.engine.voices[0].active);
    EXPECT_EQ (p.engine.pitchBend, 0.5f);
    EXPECT_EQ (p.program->get(), 7);
}
