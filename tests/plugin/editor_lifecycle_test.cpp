// Opening and closing the editor while the audio thread renders.
#include "editor_fixtures.h"

#include <atomic>
#include <thread>

using namespace editortest;

TEST (EditorLifecycle, OpenAndCloseAHundredTimesWhileRendering)
{
    TemporaryHome home;
    SetFolder sets { "one.rks", "two.rks", "three.rks" };
    EditorRig rig (sets.folder);
    auto& processor = *rig.processor;
    processor.drivecab->setValueNotifyingHost (processor.drivecab->convertTo0to1 (2.0f));
    processor.driveon->setValueNotifyingHost (1.0f);

    std::atomic<bool> running { true };
    std::atomic<int> blocks { 0 };
    std::thread audio ([&]
    {
        juce::AudioBuffer<float> buffer (2, 256);
        int note = 48;
        while (running.load())
        {
            buffer.clear();
            juce::MidiBuffer midi;
            if (blocks.load() % 8 == 0)
            {
                midi.addEvent (juce::MidiMessage::noteOn (1, note, (juce::uint8) 100), 0);
                midi.addEvent (juce::MidiMessage::noteOff (1, note == 48 ? 72 : note - 1), 10);
                note = note == 72 ? 48 : note + 1;
            }
            processor.processBlock (buffer, midi);
            blocks.fetch_add (1);
        }
    });

    const int desktopComponentsBefore = juce::Desktop::getInstance().getNumComponents();
    for (int round = 0; round < 100; ++round)
    {
        std::unique_ptr<juce::AudioProcessorEditor> editor (processor.createEditorIfNeeded());
        ASSERT_NE (editor, nullptr);
        auto* ours = dynamic_cast<TolvekAudioProcessorEditor*> (editor.get());
        ASSERT_NE (ours, nullptr);
        // Work the controls that reach into the processor.
        if (round % 3 == 1)
            ours->sampleSetBox->setSelectedItemIndex (round % 3, juce::sendNotificationAsync);
        if (round % 5 == 2)
            processor.program->setValueNotifyingHost (processor.program->convertTo0to1 ((float) (round % 4)));
        if (round % 7 == 3)
            for (auto* c : ours->paramComboBoxes)
                if (c->getName() == "drivecab")
                    c->setSelectedItemIndex (round % 6, juce::sendNotificationAsync);
        (void) editor->createComponentSnapshot (editor->getLocalBounds());
        pump (round % 10 == 0 ? 40 : 5);
        editor.reset();
        EXPECT_EQ (processor.getActiveEditor(), nullptr);
    }
    pump (20);

    running.store (false);
    audio.join();
    EXPECT_GT (blocks.load(), 0);
    EXPECT_EQ (juce::Desktop::getInstance().getNumComponents(), desktopComponentsBefore);
}
