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

// Xlib's default handler ends the process on an X error; this one counts it,
// so that a refused request fails the test instead.
std::atomic<int> xErrors { 0 };
int noteXError (void*, void*)
{
    ++xErrors;
    return 0;
}
void catchXErrors()
{
    using Handler = int (*) (void*, void*);
    using SetHandler = Handler (*) (Handler);
    static const auto setHandler = reinterpret_cast<SetHandler> (dlsym (RTLD_DEFAULT, "XSetErrorHandler"));
    if (setHandler != nullptr)
        setHandler (noteXError);
}

// JUCE looks up the window-manager atoms it uses only if they exist. A bare X
// server has none of them, and a hosted editor then sends a request with atom
// 0, which the server refuses. Creating them first, on a connection of the
// test's own that stays open, gives the server what a desktop would have.
// Then the host's display is opened before any plug-in opens its own.
struct WindowManagerAtoms : public testing::Environment
{
    void SetUp() override
    {
        using OpenDisplay = void* (*) (const char*);
        using InternAtom = unsigned long (*) (void*, const char*, int);
        if (void* x11 = dlopen ("libX11.so.6", RTLD_NOW | RTLD_GLOBAL))
        {
            const auto openDisplay = reinterpret_cast<OpenDisplay> (dlsym (x11, "XOpenDisplay"));
            const auto internAtom = reinterpret_cast<InternAtom> (dlsym (x11, "XInternAtom"));
            if (openDisplay != nullptr && internAtom != nullptr)
                if (void* display = openDisplay (nullptr))
                    for (const char* name : { "WM_PROTOCOLS", "WM_TAKE_FOCUS", "WM_DELETE_WINDOW", "_NET_WM_PING",
                                              "WM_CHANGE_STATE", "WM_STATE", "_NET_WM_WINDOW_TYPE", "_NET_WM_STATE",
                                              "_NET_WM_STATE_HIDDEN", "_NET_WM_STATE_FULLSCREEN", "_NET_FRAME_EXTENTS",
                                              "_NET_WORKAREA", "_MOTIF_WM_HINTS", "_WIN_HINTS", "KWM_WIN_DECORATION",
                                              "_KDE_NET_WM_WINDOW_TYPE_OVERRIDE", "_NET_WM_ALLOWED_ACTIONS",
                                              "_NET_WM_ACTION_MOVE", "_NET_WM_ACTION_RESIZE", "_NET_WM_ACTION_CLOSE",
                                              "_NET_WM_ACTION_MINIMIZE", "_NET_WM_ACTION_MAXIMIZE_HORZ",
                                              "_NET_WM_ACTION_MAXIMIZE_VERT", "_NET_WM_ACTION_FULLSCREEN",
                                              "_NET_WM_WINDOW_TYPE_COMBO", "_NET_WM_WINDOW_TYPE_NORMAL",
                                              "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_ABOVE", "_NET_ACTIVE_WINDOW",
                                              "_NET_WM_PID", "_NET_WM_ICON", "_XEMBED", "_XEMBED_INFO" })
                        internAtom (display, name, 0);
        }
        juce::Desktop::getInstance().getDisplays();
    }
};
const auto* const windowManagerAtoms = testing::AddGlobalTestEnvironment (new WindowManagerAtoms);

void pump (int milliseconds, bool withEditors = false)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) milliseconds;
    do
    {
        if (withEditors)
            catchXErrors();   // a plug-in's own message thread may have put Xlib's back
        if (! juce::dispatchNextMessageOnSystemQueue (true))
            juce::Thread::sleep (1);
    } while (juce::Time::getMillisecondCounter() < end);
}

// Renders blocks with notes coming and going, counted and checked.
struct Renderer
{
    explicit Renderer (Hosted& h) : hosted (h), buffer (h.numChannels(), blockLength) { midi.ensureSize (1024); }
    ~Renderer() { join(); }

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
    Renderer renderer (*hosted);
    renderer.start();
    for (int round = 0; round < 4; ++round)
    {
        catchXErrors();
        std::unique_ptr<juce::AudioProcessorEditor> editor (hosted->instance->createEditorIfNeeded());
        catchXErrors();
        if (editor == nullptr)
        {
            ADD_FAILURE() << "no editor in round " << round;
            break;
        }
        editor->addToDesktop (0);
        editor->setVisible (true);
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
    EXPECT_EQ (xErrors.load(), 0) << "X requests refused";
}

INSTANTIATE_TEST_SUITE_P (Formats, Threads, testing::Values (Format::vst3, Format::lv2),
                          [] (const testing::TestParamInfo<Format>& info) { return std::string (formatName (info.param)); });
