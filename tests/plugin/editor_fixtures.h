#pragma once

// Shared set-up for the editor tests: a temporary HOME (so the path file is
// never the user's), folders of small set files, a prepared processor with its
// editor, and message-loop pumping.

#include <gtest/gtest.h>

#include "PluginEditor.h"
#include "PluginProcessor.h"
#include "samples/SetEncoder.h"
#include "TemporaryHome.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>

namespace juce
{
// The framework's own step of its dispatch loop (its Linux message queue).
// runDispatchLoopUntil needs modal loops, which the plug-in leaves disabled.
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
} // namespace juce

namespace editortest
{
// Runs the message loop for `milliseconds` on this (the message) thread.
inline void pump (int milliseconds)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) milliseconds;
    do
    {
        if (! juce::dispatchNextMessageOnSystemQueue (true))
            juce::Thread::sleep (1);
    } while (juce::Time::getMillisecondCounter() < end);
}

// Sets a parameter's normalised value without telling anyone, as a host
// restoring state does.
inline void setQuietly (juce::AudioProcessorParameter* parameter, float normalisedValue)
{
    parameter->setValue (normalisedValue);
}

// Bounding box of the pixels in `area` that satisfy `test`.
template <typename Test>
juce::Rectangle<int> boundsOf (const juce::Image& image, juce::Rectangle<int> area, Test test)
{
    int left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN;
    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
            if (test (image.getPixelAt (x, y)))
            {
                left = std::min (left, x);
                top = std::min (top, y);
                right = std::max (right, x + 1);
                bottom = std::max (bottom, y + 1);
            }
    return left == INT_MAX ? juce::Rectangle<int>() : juce::Rectangle<int> (left, top, right - left, bottom - top);
}

// Runs the message loop until `done` holds or `limitMs` has passed.
inline bool pumpUntil (const std::function<bool()>& done, int limitMs = 2000)
{
    for (int waited = 0; waited < limitMs; waited += 5)
    {
        if (done())
            return true;
        pump (5);
    }
    return done();
}

using ::TemporaryHome;

// A fresh folder holding the named set files (one short zone each).
struct SetFolder
{
    explicit SetFolder (std::initializer_list<const char*> names = {}, const juce::String& leafName = "tolvek-editor-sets")
    {
        folder = juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile (leafName, "", false);
        folder.createDirectory();
        for (const char* name : names)
            add (name);
    }
    ~SetFolder() { folder.deleteRecursively(); }
    SetFolder (const SetFolder&) = delete;
    SetFolder& operator= (const SetFolder&) = delete;

    void add (const juce::String& name, int rootNote = 60)
    {
        ZoneSource zone;
        zone.rootNote = rootNote;
        zone.velocity = 100;
        zone.samples.resize (2048);
        for (size_t i = 0; i < zone.samples.size(); ++i)
            zone.samples[i] = (int16_t) std::lround (8000.0 * std::sin (0.05 * (double) i));
        const std::string error = writeSetFile (folder.getChildFile (name).getFullPathName().toStdString(), { zone }, 0);
        EXPECT_TRUE (error.empty()) << error;
    }

    // The sets as the processor lists them (iterator order).
    juce::StringArray listed() const { return SamplePath::listSets (folder); }

    juce::File folder;
};

// A processor at 44.1 kHz pointed at `folder` (for this instance only) and
// its editor; the editor is made on demand so tests can set parameters first.
struct EditorRig
{
    explicit EditorRig (const juce::File& sampleFolder = {})
    {
        processor = std::make_unique<TolvekAudioProcessor>();
        if (sampleFolder != juce::File())
            processor->setSampleFolderForThisInstance (sampleFolder.getFullPathName());
        processor->setRateAndBufferSizeDetails (44100.0, 256);
        processor->prepareToPlay (44100.0, 256);
    }
    ~EditorRig()
    {
        editor.reset();
        processor->releaseResources();
    }

    TolvekAudioProcessorEditor& open()
    {
        editor = std::make_unique<TolvekAudioProcessorEditor> (*processor);
        pump (20);   // the constructor's asynchronous list notifications
        return *editor;
    }

    void processOneBlock()
    {
        juce::AudioBuffer<float> buffer (2, 256);
        buffer.clear();
        juce::MidiBuffer midi;
        processor->processBlock (buffer, midi);
    }

    // Changes a parameter as a host does: normalised value, host notified.
    void hostSets (juce::RangedAudioParameter* parameter, float realValue)
    {
        parameter->setValueNotifyingHost (parameter->convertTo0to1 (realValue));
    }

    template <typename ControlType>
    ControlType* control (const juce::String& id) const
    {
        for (auto* c : editor->paramControls)
            if (c->getName() == id)
                return dynamic_cast<ControlType*> (c);
        return nullptr;
    }

    std::unique_ptr<TolvekAudioProcessor> processor;
    std::unique_ptr<TolvekAudioProcessorEditor> editor;
};
} // namespace editortest
