// Host battery, threads and state: random values for all 26 parameters between
// blocks and from the message thread while an audio thread renders, with the
// sample set switching underneath; save, randomise, restore round trips and
// restores while rendering; the editor opened and closed while processing.
#include "battery_support.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <dlfcn.h>

#include <atomic>
#include <random>
#include <thread>

namespace juce
{
// The framework's own step of its dispatch loop (modal loops are disabled).
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
} // namespace juce

namespace
{
using namespace battery;

constexpr int blockLength = 256;
constexpr int parameterRounds = 100;
constexpr int stateRounds = 20;

// Random settings: up to eight notes with full tines (16), three EQ bands at
// +15 dB (about 17), the reverb's combs near their steady-state gain at
// reflection 1 (about 830 for a held tone) and volume 5. Only a runaway or a
// broken filter gets past this.
constexpr float randomSettingsBound = 1.0e6f;

// Under a bare X server without a window manager, the hosted editors ask for
// window-manager atoms that do not exist and the server refuses the request.
// Xlib's default handler would end the process on that; this one notes it.
std::atomic<int> xErrors { 0 };
int noteXError (void*, void*)
{
    ++xErrors;
    return 0;
}
void tolerateXErrors()
{
    using Handler = int (*) (void*, void*);
    using SetHandler = Handler (*) (Handler);
    static const auto setHandler = reinterpret_cast<SetHandler> (dlsym (RTLD_DEFAULT, "XSetErrorHandler"));
    if (setHandler != nullptr)
        setHandler (noteXError);
}

// A plug-in's copy of JUCE puts back, when its last window goes, the X error
// handler it found when it opened its display. Opening the host's display
// first makes that the host's handler rather than Xlib's exiting default.
struct HostDisplayFirst : public testing::Environment
{
    void SetUp() override { juce::Desktop::getInstance().getDisplays(); }
};
const auto* const hostDisplayFirst = testing::AddGlobalTestEnvironment (new HostDisplayFirst);

void pump (int milliseconds, bool withEditors = false)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) milliseconds;
    do
    {
        if (withEditors)
            tolerateXErrors();   // a plug-in's own message thread may have put Xlib's back
        if (! juce::dispatchNextMessageOnSystemQueue (true))
            juce::Thread::sleep (1);
    } while (juce::Time::getMillisecondCounter() < end);
}

// Renders blocks with notes coming and going, counted and checked.
struct Renderer
{
    explicit Renderer (Hosted& h) : hosted (h), buffer (h.numChannels(), blockLength) { midi.ensureSize (1024); }

    void renderBlock()
    {
        if ((blockNumber % 24) == 0)
            for (int n = 0; n < 4; ++n)
                midi.addEvent (juce::MidiMessage::noteOn (1, 40 + (int) ((blockNumber / 24 * 5 + n * 7) % 50), (juce::uint8) 110), 0);
        if ((blockNumber % 24) == 12)
        {
            midi.addEvent (juce::MidiMessage::allNotesOff (1), 0);
            for (int note = 40; note < 90; ++note)
                midi.addEvent (juce::MidiMessage::noteOff (1, note), 0);
            midi.addEvent (juce::MidiMessage::controllerEvent (1, 64, blockNumber % 48 < 24 ? 127 : 0), 0);
            midi.addEvent (juce::MidiMessage::pitchWheel (1, (int) (blockNumber * 997 % 16384)), 0);
        }
        buffer.clear();
        if (countingAvailable())
            beginCounting();
        hosted.instance->processBlock (buffer, midi);
        if (countingAvailable())
            tally.add (endCounting());
        midi.clear();
        output.add (buffer, blockLength);
        ++blockNumber;
    }

    void start()
    {
        stop = false;
        thread = std::thread ([this] {
            while (! stop.load())
                renderBlock();
        });
    }
    void join()
    {
        stop = true;
        if (thread.joinable())
            thread.join();
    }

    void expectClean (const std::string& where, float bound = randomSettingsBound) const
    {
        EXPECT_GT (blockNumber, 0) << where;
        EXPECT_EQ (output.notFinite, 0) << where;
        EXPECT_EQ (output.denormal, 0) << where;
        EXPECT_LT (output.peak, bound) << where;
        if (countingAvailable())
        {
            EXPECT_EQ (tally.tolvekAllocations, 0) << where << tally.tolvekReport();
            EXPECT_EQ (tally.tolvekLocks, 0) << where << tally.tolvekReport();
        }
    }

    Hosted& hosted;
    juce::AudioBuffer<float> buffer;
    juce::MidiBuffer midi;
    OutputCheck output;
    RealtimeTally tally;
    long blockNumber = 0;
    std::thread thread;
    std::atomic<bool> stop { false };
};

struct Threads : public testing::TestWithParam<Format>
{
    void SetUp() override
    {
        ASSERT_GE (home.numberOfSets(), 2);
        hosted = load (GetParam());
        ASSERT_NE (hosted, nullptr) << "could not load " << formatName (GetParam());
        hosted->instance->prepareToPlay (48000, blockLength);
    }
    void TearDown() override
    {
        if (hosted != nullptr)
            hosted->instance->releaseResources();
    }

    // Every parameter at a random normalised value.
    void randomise()
    {
        for (const auto& known : parameterNames)
            (*hosted)[known.id].setValue (uniform (random));
    }

    // Makes the set at `position` the current one: the program parameter, then
    // a host reset (VST3) or a restore of the instance's own state, which ends
    // in a reset inside the plug-in (JUCE's LV2 host has no reset to pass on).
    void switchSet (int position)
    {
        (*hosted)["program"].setValue ((float) position / 255.0f);
        if (GetParam() == Format::vst3)
        {
            hosted->instance->reset();
            return;
        }
        juce::MemoryBlock state;
        hosted->instance->getStateInformation (state);
        hosted->instance->setStateInformation (state.getData(), (int) state.getSize());
    }

    juce::MemoryBlock state() const
    {
        juce::MemoryBlock block;
        hosted->instance->getStateInformation (block);
        return block;
    }

    BatteryHome home;
    std::unique_ptr<Hosted> hosted;
    std::mt19937 random { 20261211 };
    std::uniform_real_distribution<float> uniform { 0.0f, 1.0f };
};
} // namespace

TEST_P (Threads, RandomParametersBetweenBlocksAndWhileRendering)
{
    Renderer renderer (*hosted);
    for (int round = 0; round < parameterRounds; ++round)
    {
        randomise();
        if (round % 10 == 0)
            switchSet ((round / 10) % 2);
        for (int b = 0; b < 3; ++b)
            renderer.renderBlock();
    }
    renderer.expectClean ("between blocks");

    Renderer concurrent (*hosted);
    concurrent.start();
    for (int round = 0; round < parameterRounds; ++round)
    {
        randomise();
        if (round % 10 == 5)
            switchSet ((round / 10) % 2);
        pump (2);
    }
    concurrent.join();
    concurrent.expectClean ("while rendering");
    std::printf ("[ battery  ] %s: %d rounds between blocks, %d while rendering (%ld blocks)\n[ battery  ] %s\n",
                 formatName (GetParam()), parameterRounds, parameterRounds, concurrent.blockNumber, concurrent.tally.summary().c_str());
}

TEST_P (Threads, StateRoundTripsAndRestoresWhileRendering)
{
    Renderer renderer (*hosted);
    for (int round = 0; round < stateRounds; ++round)
    {
        randomise();
        renderer.renderBlock();
        const juce::MemoryBlock saved = state();
        randomise();
        renderer.renderBlock();
        hosted->instance->setStateInformation (saved.getData(), (int) saved.getSize());
        renderer.renderBlock();
        EXPECT_EQ (state(), saved) << "round " << round;
    }
    renderer.expectClean ("state round trips");

    // Restores while an audio thread renders: the last one restored is what stays.
    std::vector<juce::MemoryBlock> states;
    for (int round = 0; round < stateRounds; ++round)
    {
        randomise();
        renderer.renderBlock();
        states.push_back (state());
    }
    Renderer concurrent (*hosted);
    concurrent.start();
    for (const auto& saved : states)
    {
        hosted->instance->setStateInformation (saved.getData(), (int) saved.getSize());
        pump (3);
    }
    concurrent.join();
    concurrent.renderBlock();
    EXPECT_EQ (state(), states.back());
    concurrent.expectClean ("restores while rendering");
}

TEST_P (Threads, EditorOpensAndClosesWhileProcessing)
{
    // TOLVEK_BATTERY_SHOW_EDITORS=1 also puts each editor on the desktop.
    const bool showEditors = std::getenv ("TOLVEK_BATTERY_SHOW_EDITORS") != nullptr;
    Renderer renderer (*hosted);
    renderer.start();
    for (int round = 0; round < 4; ++round)
    {
        tolerateXErrors();
        std::unique_ptr<juce::AudioProcessorEditor> editor (hosted->instance->createEditorIfNeeded());
        tolerateXErrors();
        ASSERT_NE (editor, nullptr) << "round " << round;
        if (showEditors)
        {
            editor->addToDesktop (0);
            editor->setVisible (true);
        }
        pump (60, true);
        // The editor's poll follows these, and moves its set list with the program.
        randomise();
        (*hosted)["program"].setValue ((float) (round % 2) / 255.0f);
        pump (120, true);
        editor.reset();
        pump (20, true);
    }
    renderer.join();
    renderer.expectClean ("editor open and closed");
    std::printf ("[ battery  ] %s: 4 editors opened and closed, %d X errors tolerated\n", formatName (GetParam()), xErrors.load());
}

INSTANTIATE_TEST_SUITE_P (Formats, Threads, testing::Values (Format::vst3, Format::lv2),
                          [] (const testing::TestParamInfo<Format>& info) { return std::string (formatName (info.param)); });
