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
    if (GetParam() == 0)
        EXPECT_EQ (description.version, "1.3.1");   // LV2 descriptions carry no version text
    EXPECT_TRUE (description.isInstrument);

    auto instance = instantiate();
    ASSERT_NE (instance, nullptr);
    EXPECT_EQ (instance->getTotalNumOutputChannels(), 2);
    EXPECT_TRUE (instance->acceptsMidi());

    // VST3 hosts see the parameters in index order. JUCE's LV2 host lists them
    // by symbol with its own bypass in front, so there only the set is checked.
    const auto& params = instance->getParameters();
    ASSERT_GE (params.size(), 26);
    auto byName = [&] (const char* name) -> juce::AudioProcessorParameter*
    {
        for (auto* p : params)
            if (p->getName (100) == name)
                return p;
        return nullptr;
    };
    for (int i = 0; i < 26; ++i)
    {
        if (GetParam() == 0)
            EXPECT_EQ (params[i]->getName (100), parameterNames[i]) << "parameter " << i;
        else
            EXPECT_NE (byName (parameterNames[i]), nullptr) << parameterNames[i];
    }

    // Fresh defaults, normalised: drivecab 3 of 0..5, sustain 1, switches off.
    EXPECT_NEAR (byName ("Cabinet")->getValue(), 0.6f, 1e-6);
    EXPECT_NEAR (byName ("Sustain")->getValue(), 1.0f, 1e-6);
    EXPECT_NEAR (byName ("Drive")->getValue(), 0.0f, 1e-6);
    EXPECT_NEAR (byName ("Release")->getValue(), 0.02f, 1e-6);
}

TEST_P (HostedPlugin, StateMovesBetweenInstancesAndABlockRenders)
{
    auto first = instantiate();
    auto second = instantiate();
    ASSERT_NE (first, nullptr);
    ASSERT_NE (second, nullptr);

    // LV2 hands parameter changes to the plug-in inside its run call, so each
    // step below is followed by a block.
    juce::AudioBuffer<float> buffer (2, 512);
    juce::MidiBuffer midi;
    auto renderBlock = [&] (juce::AudioPluginInstance& instance)
    {
        buffer.clear();
        instance.processBlock (buffer, midi);
        midi.clear();
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < 512; ++i)
                ASSERT_TRUE (std::isfinite (buffer.getSample (ch, i)));
    };
    first->prepareToPlay (48000.0, 512);
    second->prepareToPlay (48000.0, 512);

    const auto& params = first->getParameters();
    auto isInstrumentParameter = [] (juce::AudioProcessorParameter* p)
    {
        return std::find_if (std::begin (parameterNames), std::end (parameterNames),
                             [p] (const char* name) { return p->getName (100) == name; }) != std::end (parameterNames);
    };
    // Values on each kind's grid: switches on or off, whole cabinet numbers.
    for (int i = 0; i < params.size(); ++i)
    {
        if (! isInstrumentParameter (params[i]))
            continue;
        const juce::String name = params[i]->getName (100);
        float value = (float) ((i * 37) % 100) / 100.0f;
        if (name == "Cabinet")
            value = 0.2f;
        else if (name == "Program")
            value = 0.0f;
        else if (name == "Chorus" || name == "Reverb" || name == "EQ" || name == "Tine Octave Up" || name == "Trem" || name == "Drive")
            value = (float) (i % 2);
        params[i]->setValueNotifyingHost (value);
    }
    renderBlock (*first);

    // The host's own copies of the values are refreshed by a restore, which
    // brings in the plug-in's grid-snapped values: restore into both.
    const juce::MemoryBlock saved = stateOf (*first);
    first->setStateInformation (saved.getData(), (int) saved.getSize());
    second->setStateInformation (saved.getData(), (int) saved.getSize());
    renderBlock (*first);
    renderBlock (*second);
    // The restored instance shows the values of the first, up to the 0.01 grid
    // the plug-in snaps to (JUCE's LV2 host keeps the value it sent, unsnapped).
    for (int i = 0; i < params.size(); ++i)
        if (isInstrumentParameter (params[i]))
            EXPECT_NEAR (second->getParameters()[i]->getValue(), params[i]->getValue(), 0.006) << params[i]->getName (100);
    EXPECT_EQ (stateOf (*second), saved);
    EXPECT_EQ (stateOf (*first), saved);

    midi.addEvent (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), 0);
    for (int block = 0; block < 8; ++block)
        renderBlock (*first);
    first->releaseResources();
    second->releaseResources();
}

INSTANTIATE_TEST_SUITE_P (Formats, HostedPlugin, testing::Values (0, 1),
                          [] (const testing::TestParamInfo<int>& info) { return info.param == 0 ? "VST3" : "LV2"; });
