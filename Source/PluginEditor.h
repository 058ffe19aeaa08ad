#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

class TolvekAudioProcessor;

// Placeholder window of the final size until the full editor lands.
class TolvekAudioProcessorEditor : public juce::AudioProcessorEditor
{
public:
    explicit TolvekAudioProcessorEditor (TolvekAudioProcessor&);
    void paint (juce::Graphics&) override;
};
