#include "PluginEditor.h"
#include "PluginProcessor.h"

TolvekAudioProcessorEditor::TolvekAudioProcessorEditor (TolvekAudioProcessor& p)
    : juce::AudioProcessorEditor (p)
{
    setSize (850, 500);
}

void TolvekAudioProcessorEditor::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0xFF1A1C1A));
}
