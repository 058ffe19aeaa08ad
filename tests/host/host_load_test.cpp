// Loads the built VST3 and LV2 bundles through JUCE's hosting classes, as a host would.
#include <gtest/gtest.h>

#include <juce_audio_processors/juce_audio_processors.h>

#include <cmath>

namespace
{
const char* const parameterNames[] = {
    "Attack", "Release", "Decay", "Sustain", "Tine Mix", "Low", "Mid", "High", "Trem Speed", "Trem Amp",
    "Drive Gain", "Reverb Mix", "Reflection Fact.", "Room Size", "Reverb Tail", "Chorus Speed.", "Chorus Streng.",
    "Output Vol.", "Cabinet", "Program", "Chorus", "Reverb", "EQ", "Tine Octave Up", "Trem", "Drive"
};

const char* const lv2Uri = "https://quarmbeck.net/plugins/tolvek";

struct HostedFormat
{
    const char* label;
    std::function<std::unique_ptr<juce::AudioPluginFormat>()> makeFormat;
    juce::String identifier;
    juce::String searchFolder;
};

class HostedPlugin : public testing::TestWithParam<int>
{
protected:
    static std::vector<HostedFormat> formats()
    {
        return {
            { "VST3", [] { return std::make_unique<juce::VST3PluginFormat>(); }, TOLVEK_VST3_BUNDLE, {} },
            { "LV2", [] { return std::make_unique<juce::LV2PluginFormat>(); }, lv2Uri,
              juce::File (TOLVEK_LV2_BUNDLE).getParentDirectory().getFullPathName() },
        };
    }

    void SetUp() override
    {
        const HostedFormat hosted = formats()[(size_t) GetParam()];
        format = hosted.makeFormat();
        if (hosted.searchFolder.isNotEmpty())
            format->searchPathsForPlugins (juce::FileSearchPath (hosted.searchFolder), false, false);

        juce::OwnedArray<juce::PluginDescription> found;
        format->findAllTypesForFile (found, hosted.identifier);
        ASSERT_EQ (found.size(), 1) << "no plug-in found at " << hosted.identifier;
        description = *found[0];
    }

    std::unique_ptr<juce::AudioPluginInstance> instantiate()
    {
        juce::String error;
        auto instance = format->createInstanceFromDescription (description, 48000.0, 512, error);
        EXPECT_NE (instance, nullptr) << error;
        return instance;
    }

    std::unique_ptr<juce::AudioPluginFormat> format;
    juce::PluginDescription description;
};

juce::MemoryBlock stateOf (juce::AudioPluginInstance& instance)
{
    juce::MemoryBlock block;
    instance.getStateInformation (block);
    return block;
}
} // namespace

TEST_P (HostedPlugin, IdentityBusesAndParameters)
{
    EXPECT_EQ (description.name, "Tolvek");
    EXPECT_EQ (description.manufacturerName, "Quarmbeck");
    EXPECT_EQ (description.version, "1.3.1");
    EXPECT_TRUE (description.isInstrument);

    auto instance = instantiate();
    ASSERT_NE (instance, nullptr);
    EXPECT_EQ (instance->getTotalNumOutputChannels(), 2);
    EXPECT_TRUE (instance->acceptsMidi());

    const auto& params = instance->getParameters();
    ASSERT_GE (params.size(), 26);
    for (int i = 0; i < 26; ++i)
        EXPECT_EQ (params[i]->getName (100), parameterNames[i]) << "parameter " << i;

    // Fresh defaults, normalised: drivecab 3 of 0..5, sustain 1, switches off.
    EXPECT_NEAR (params[18]->getValue(), 0.6f, 1e-6);
    EXPECT_NEAR (params[3]->getValue(), 1.0f, 1e-6);
    EXPECT_NEAR (params[25]->getValue(), 0.0f, 1e-6);
    EXPECT_NEAR (params[1]->getValue(), 0.02f, 1e-6);
}

TEST_P (HostedPlugin, StateMovesBetweenInstancesAndABlockRenders)
{
    auto first = instantiate();
    auto second = instantiate();
    ASSERT_NE (first, nullptr);
    ASSERT_NE (second, nullptr);

    const auto& params = first->getParameters();
    for (int i = 0; i < 26; ++i)
        params[i]->setValueNotifyingHost ((float) ((i * 37) % 100) / 100.0f);

    const juce::MemoryBlock saved = stateOf (*first);
    second->setStateInformation (saved.getData(), (int) saved.getSize());
    for (int i = 0; i < 26; ++i)
        EXPECT_FLOAT_EQ (second->getParameters()[i]->getValue(), params[i]->getValue()) << "parameter " << i;
    EXPECT_EQ (stateOf (*second), saved);

    first->prepareToPlay (48000.0, 512);
    juce::AudioBuffer<float> buffer (2, 512);
    juce::MidiBuffer midi;
    midi.addEvent (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), 0);
    for (int block = 0; block < 8; ++block)
    {
        buffer.clear();
        first->processBlock (buffer, midi);
        midi.clear();
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < 512; ++i)
                ASSERT_TRUE (std::isfinite (buffer.getSample (ch, i)));
    }
    first->releaseResources();
}

INSTANTIATE_TEST_SUITE_P (Formats, HostedPlugin, testing::Values (0, 1),
                          [] (const testing::TestParamInfo<int>& info) { return info.param == 0 ? "VST3" : "LV2"; });
