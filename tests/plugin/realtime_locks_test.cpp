// Locks taken inside processBlock, in-process: at every rate and a range of
// block sizes, with notes, pedal, bend, effects off and on, parameters moving
// between blocks and sets loading from another thread, the only mutex the
// processor's block may lock is the keyboard state's. Counted by a
// replacement of pthread_mutex_lock that counts on an armed thread only.
#include <gtest/gtest.h>

#include "PluginProcessor.h"

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
 #define TOLVEK_COUNT_LOCKS 0
#elif defined(__has_feature)
 #if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  #define TOLVEK_COUNT_LOCKS 0
 #endif
#endif
#ifndef TOLVEK_COUNT_LOCKS
 #define TOLVEK_COUNT_LOCKS 1
#endif

namespace
{
constexpr int maxRecorded = 64;
thread_local bool countingLocks = false;
thread_local int lockCount = 0;
thread_local const void* lockedMutexes[maxRecorded];

void noteLock (const void* mutex)
{
    if (! countingLocks)
        return;
    if (lockCount < maxRecorded)
        lockedMutexes[lockCount] = mutex;
    ++lockCount;
}
} // namespace

#if TOLVEK_COUNT_LOCKS
namespace
{
using LockFunction = int (*) (pthread_mutex_t*);
LockFunction realLock = nullptr;
LockFunction realTryLock = nullptr;
// glibc's dlsym takes its own internal locks, not these.
void resolveLockFunctions()
{
    realLock = reinterpret_cast<LockFunction> (dlsym (RTLD_NEXT, "pthread_mutex_lock"));
    realTryLock = reinterpret_cast<LockFunction> (dlsym (RTLD_NEXT, "pthread_mutex_trylock"));
}
} // namespace

extern "C" int pthread_mutex_lock (pthread_mutex_t* mutex)
{
    noteLock (mutex);
    if (realLock == nullptr)
        resolveLockFunctions();
    return realLock (mutex);
}
extern "C" int pthread_mutex_trylock (pthread_mutex_t* mutex)
{
    noteLock (mutex);
    if (realTryLock == nullptr)
        resolveLockFunctions();
    return realTryLock (mutex);
}
#endif

namespace
{
template <typename Object>
bool inside (const void* address, const Object& object)
{
    const auto* begin = reinterpret_cast<const char*> (&object);
    return address >= begin && address < begin + sizeof (Object);
}

struct LockRig
{
    LockRig()
    {
        p = std::make_unique<TolvekAudioProcessor> (juce::String (TOLVEK_BINARY_DIR "/samples"));
        buffer.setSize (2, 10000);
        midi.ensureSize (2048);
    }

    // One block, with the locks it took sorted into the keyboard state's and the rest.
    void block (int length)
    {
        buffer.setSize (2, length, false, false, true);
        buffer.clear();
        lockCount = 0;
        countingLocks = true;
        p->processBlock (buffer, midi);
        countingLocks = false;
        midi.clear();
        ++blocks;
        for (int i = 0; i < std::min (lockCount, maxRecorded); ++i)
        {
            if (inside (lockedMutexes[i], p->keyboardState))
                ++keyboardLocks;
            else
                otherLocks.push_back (lockedMutexes[i]);
        }
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < length; ++i)
                finite = finite && std::isfinite (buffer.getSample (ch, i));
    }

    std::string describeOtherLocks() const
    {
        std::string text;
        for (const void* mutex : otherLocks)
        {
            std::string owner = "elsewhere";
            for (int i = 0; i < TolvekAudioProcessor::numParameters; ++i)
                if (inside (mutex, *p->getParameters()[i]))
                    owner = "in parameter " + std::to_string (i) + " (" + p->getParameters()[i]->getName (100).toStdString() + ")";
            if (owner == "elsewhere" && inside (mutex, *p))
                owner = "in the processor object (framework members)";
            char address[32];
            std::snprintf (address, sizeof (address), "%p", mutex);
            text += std::string ("\n  mutex ") + address + " " + owner;
        }
        return text;
    }

    std::unique_ptr<TolvekAudioProcessor> p;
    juce::AudioBuffer<float> buffer;
    juce::MidiBuffer midi;
    long blocks = 0, keyboardLocks = 0;
    std::vector<const void*> otherLocks;
    bool finite = true;
};
} // namespace

TEST (RealTimeLocks, OnlyTheKeyboardStateIsLockedInProcessBlock)
{
    if (! TOLVEK_COUNT_LOCKS)
        GTEST_SKIP() << "lock counting is off under sanitizers";
    LockRig rig;
    TolvekAudioProcessor& p = *rig.p;
    std::mt19937 random (7);
    std::uniform_real_distribution<float> uniform (0.0f, 1.0f);

    for (double rate : { 44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0, 22050.0 })
        for (int length : { 1, 7, 64, 512, 8192, 10000, 0 })
        {
            p.setRateAndBufferSizeDetails (rate, std::max (length, 1));
            p.prepareToPlay (rate, std::max (length, 1));
            for (bool effects : { false, true })
            {
                for (auto* sw : { p.choruson, p.reverbon, p.eqon, p.tremon, p.driveon })
                    *sw = effects;
                *p.drivecab = effects ? 2 : 0;
                rig.midi.addEvent (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), 0);
                rig.midi.addEvent (juce::MidiMessage::noteOn (1, 67, (juce::uint8) 80), 0);
                rig.midi.addEvent (juce::MidiMessage::controllerEvent (1, 64, 127), 0);
                rig.midi.addEvent (juce::MidiMessage::pitchWheel (1, 10000), 0);
                const int blocksToRender = length == 0 ? 4 : std::max (4, 4096 / length);
                for (int b = 0; b < blocksToRender; ++b)
                {
                    // Parameters move between blocks, as host automation does.
                    p.getParameters()[b % 18]->setValueNotifyingHost (uniform (random));
                    if (b == blocksToRender / 2)
                    {
                        rig.midi.addEvent (juce::MidiMessage::noteOff (1, 60), 0);
                        rig.midi.addEvent (juce::MidiMessage::controllerEvent (1, 64, 0), 0);
                    }
                    rig.block (length);
                }
            }
        }
    EXPECT_TRUE (rig.finite);
    EXPECT_EQ (rig.keyboardLocks, rig.blocks);   // the merge of queued keys, once per block
    EXPECT_TRUE (rig.otherLocks.empty()) << rig.otherLocks.size() << " other locks:" << rig.describeOtherLocks();
    std::printf ("[ locks    ] %ld blocks, %ld keyboard-state locks, %zu others\n", rig.blocks, rig.keyboardLocks, rig.otherLocks.size());
}

TEST (RealTimeLocks, SetsLoadingFromAnotherThreadTakeNoLockInTheBlock)
{
    if (! TOLVEK_COUNT_LOCKS)
        GTEST_SKIP() << "lock counting is off under sanitizers";
    LockRig rig;
    TolvekAudioProcessor& p = *rig.p;
    p.setRateAndBufferSizeDetails (48000, 256);
    p.prepareToPlay (48000, 256);
    const juce::StringArray sets = SamplePath::listSets (p.getSampleFolder());
    ASSERT_GE (sets.size(), 2);

    std::atomic<bool> stop { false };
    std::thread loader ([&] {
        for (int i = 0; i < 6 && ! stop; ++i)
            p.loadSamples (sets[i % 2], &p.tableSize, &p.samples, &p.table);   // the editor's set list does this
        stop = true;
    });
    while (! stop)
    {
        rig.midi.addEvent (juce::MidiMessage::noteOn (1, 48 + (int) (rig.blocks % 24), (juce::uint8) 100), 0);
        rig.block (256);
    }
    loader.join();
    EXPECT_GT (p.setSwapsSeen(), 0u);
    EXPECT_TRUE (rig.finite);
    EXPECT_TRUE (rig.otherLocks.empty()) << rig.otherLocks.size() << " other locks:" << rig.describeOtherLocks();
}

TEST (RealTimeLocks, AMidiProgramChangeLocksOnlyTheFrameworksListenerLists)
{
    if (! TOLVEK_COUNT_LOCKS)
        GTEST_SKIP() << "lock counting is off under sanitizers";
    // A program change sets `program` and tells the host and the listeners;
    // the framework walks its listener lists under their own locks. That is
    // the one lock besides the keyboard state's a block may take, and only in
    // a block that changes the program.
    LockRig rig;
    TolvekAudioProcessor& p = *rig.p;
    p.setRateAndBufferSizeDetails (48000, 64);
    p.prepareToPlay (48000, 64);
    rig.midi.addEvent (juce::MidiMessage::programChange (1, 5), 0);
    rig.block (64);
    EXPECT_EQ (p.program->get(), 5);
    ASSERT_FALSE (rig.otherLocks.empty());
    for (const void* mutex : rig.otherLocks)
        EXPECT_TRUE (inside (mutex, *p.program) || inside (mutex, p)) << rig.describeOtherLocks();
    std::printf ("[ locks    ] a program change took %zu listener locks:%s\n", rig.otherLocks.size(), rig.describeOtherLocks().c_str());

    // The same program again changes nothing and locks nothing else.
    rig.otherLocks.clear();
    rig.midi.addEvent (juce::MidiMessage::programChange (1, 5), 0);
    rig.block (64);
    EXPECT_TRUE (rig.otherLocks.empty()) << rig.describeOtherLocks();
}
