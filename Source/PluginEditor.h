#pragma once

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

#include "PluginLookAndFeel.h"

class TolvekAudioProcessor;

// The plug-in's window: one control per parameter, built from the processor's
// parameter list and placed by parameter ID, section frames, title, logo and
// version. Controls write their parameters at once; a 33 ms poll brings host
// changes back into them.
class TolvekAudioProcessorEditor : public juce::AudioProcessorEditor,
                                   public juce::Timer,
                                   public juce::Slider::Listener,
                                   public juce::ComboBox::Listener,
                                   public juce::Button::Listener
{
public:
    explicit TolvekAudioProcessorEditor (TolvekAudioProcessor&);
    ~TolvekAudioProcessorEditor() override;

    void paint (juce::Graphics&) override;
    void resized() override;
    void timerCallback() override;
    void sliderValueChanged (juce::Slider*) override;
    void comboBoxChanged (juce::ComboBox*) override;
    void buttonClicked (juce::Button*) override;

    // Refills `box` with the sets of the sample folder and selects item `index`.
    void getSampleLib (juce::ComboBox* box, int index);

    // What the folder chooser does when it closes: `chosen` is the folder, or
    // a default File when the user cancelled. Public so it can be driven
    // without a dialog.
    void sampleFolderChosen (const juce::File& chosen);

    TolvekAudioProcessor& audioProcessor;

    juce::Image logoImage;
    juce::Image titleImage;
    juce::OwnedArray<juce::Slider> paramSliders;
    juce::OwnedArray<juce::ComboBox> paramComboBoxes;
    juce::OwnedArray<juce::Label> paramLabels;
    juce::OwnedArray<juce::Button> paramButtons;
    juce::Array<juce::Component*> paramControls;
    juce::ComboBox* sampleSetBox = nullptr;
    OtherLookAndFeel otherLookAndFeel;
    juce::GroupComponent libraryFrame, outputFrame, headerFrame, eqFrame, envelopeFrame,
                         tremoloFrame, chorusFrame, reverbFrame, tineFrame, driveFrame;
    juce::TextButton sampleFolderButton;

    // Alive while its dialog is open: the chooser runs asynchronously.
    std::unique_ptr<juce::FileChooser> folderChooser;

private:
    juce::AudioProcessorParameter* parameterFor (juce::Component* control) const;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TolvekAudioProcessorEditor)
};
