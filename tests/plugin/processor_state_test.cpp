// Processor identity, the parameter set and the saved state block.
#include <gtest/gtest.h>

#include "PluginProcessor.h"

#include <random>

namespace
{
struct ParameterRow
{
    const char* id;
    const char* name;
    float minimum, maximum, defaultValue;
};

// Index order is what hosts, saved states and the editor rely on.
const ParameterRow parameterRows[] = {
    { "attack", "Attack", 0, 1, 0 },
    { "release", "Release", 0, 5, 0.1f },
    { "decay", "Decay", 0, 1, 0 },
    { "sustain", "Sustain", 0, 1, 1 },
    { "tinemix", "Tine Mix", 0, 1, 0 },
    { "low", "Low", 0.1778f, 5.6234f, 1 },
    { "mid", "Mid", 0.1778f, 5.6234f, 1 },
    { "high", "High", 0.1778f, 5.6234f, 1 },
    { "tremspeed", "Trem Speed", 0, 1, 0.5f },
    { "tremapm", "Trem Amp", 0, 1, 0.5f },
    { "drivegain", "Drive Gain", 1, 50, 1 },
    { "reverbmix", "Reverb Mix", 0, 1, 0.3f },
    { "reverbrefecl", "Reflection Fact.", 0, 1, 0.3f },
    { "roomsize", "Room Size", 10, 100, 10 },
    { "tail", "Reverb Tail", 0, 1, 0.2f },
    { "chorusdelay", "Chorus Speed.", 0.3f, 8, 3 },
    { "chorusmix", "Chorus Streng.", 0.1f, 1, 0.5f },
    { "mainout", "Output Vol.", 0, 5, 1 },
    { "drivecab", "Cabinet", 0, 5, 3 },
    { "program", "Program", 0, 255, 0 },
    { "choruson", "Chorus", 0, 1, 0 },
    { "reverbon", "Reverb", 0, 1, 0 },
    { "eqon", "EQ", 0, 1, 0 },
    { "tineon", "Tine Octave Up", 0, 1, 0 },
    { "tremon", "Trem", 0, 1, 0 },
    { "driveon", "Drive", 0, 1, 0 },
};

juce::MemoryBlock saveState (TolvekAudioProcessor& p)
{
    juce::MemoryBlock block;
    p.getStateInformation (block);
    return block;
}

juce::MemoryBlock stateBlockFromText (const juce::String& xmlText)
{
    juce::MemoryBlock block;
    juce::XmlElement dummy ("x");
    const std::unique_ptr<juce::XmlElement> xml = juce::parseXML (xmlText);
    juce::AudioProcessor::copyXmlToBinary (*xml, block);
    return block;
}

std::vector<float> normalisedValues (TolvekAudioProcessor& p)
{
    std::vector<float> values;
    for (auto* param : p.getParameters())
        values.push_back (param->getValue());
    return values;
}
} // namespace

TEST (Processor, AnswersTheHostsFixedQuestions)
{
    auto pOwner = std::make_unique<TolvekAudioProcessor>();
    auto& p = *pOwner;
    EXPECT_EQ (p.getName(), "Tolvek");
    EXPECT_TRUE (p.acceptsMidi());
    EXPECT_FALSE (p.producesMidi());
    EXPECT_FALSE (p.isMidiEffect());
    EXPECT_EQ (p.getTailLengthSeconds(), 0.0);
    EXPECT_TRUE (p.hasEditor());
    EXPECT_EQ (p.getNumPrograms(), 1);
    p.setCurrentProgram (3);
    EXPECT_EQ (p.getCurrentProgram(), 0);
    EXPECT_EQ (p.getProgramName (0), "");
    EXPECT_EQ (p.getProgramName (7), "");

    ASSERT_EQ (p.getBusCount (false), 1);
    EXPECT_EQ (p.getBus (false, 0)->getName(), "Output");
    EXPECT_TRUE (p.getBus (false, 0)->isEnabledByDefault());
    ASSERT_EQ (p.getBusCount (true), 1);
    EXPECT_EQ (p.getBus (true, 0)->getName(), "Input");
    EXPECT_FALSE (p.getBus (true, 0)->isEnabledByDefault());
}

TEST (Parameters, TwentySixInOrderWithNamesRangesAndDefaults)
{
    auto pOwner = std::make_unique<TolvekAudioProcessor>();
    auto& p = *pOwner;
    const auto& params = p.getParameters();
    ASSERT_EQ (params.size(), 26);
    for (int i = 0; i < 26; ++i)
    {
        const ParameterRow& row = parameterRows[i];
        auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (params[i]);
        ASSERT_NE (ranged, nullptr);
        SCOPED_TRACE (row.id);
        EXPECT_EQ (ranged->paramID, row.id);
        EXPECT_EQ (ranged->getName (100), row.name);
        EXPECT_FLOAT_EQ (ranged->getNormalisableRange().start, row.minimum);
        EXPECT_FLOAT_EQ (ranged->getNormalisableRange().end, row.maximum);
        EXPECT_FLOAT_EQ (p.parameterValue (i), row.defaultValue);
        const bool isFloat = dynamic_cast<juce::AudioParameterFloat*> (ranged) != nullptr;
        const bool isInt = dynamic_cast<juce::AudioParameterInt*> (ranged) != nullptr;
        const bool isBool = dynamic_cast<juce::AudioParameterBool*> (ranged) != nullptr;
        EXPECT_EQ (isFloat, i < 18);
        EXPECT_EQ (isInt, i == 18 || i == 19);
        EXPECT_EQ (isBool, i >= 20);
        if (isFloat)
            EXPECT_FLOAT_EQ (ranged->getNormalisableRange().interval, 0.01f);
    }
}

TEST (Parameters, FloatValuesSnapToTheHundredthGridFromTheMinimum)
{
    auto pOwner = std::make_unique<TolvekAudioProcessor>();
    auto& p = *pOwner;
    EXPECT_EQ (p.low->get(), 1.0f);   // only a fresh instance holds exactly 1
    p.low->setValueNotifyingHost (p.low->convertTo0to1 (1.0f));
    EXPECT_NEAR (p.low->get(), 0.9978f, 1e-6);
    p.mid->setValueNotifyingHost (p.mid->convertTo0to1 (1.0f));
    EXPECT_NEAR (p.mid->get(), 0.9978f, 1e-6);
    *p.chorusdelay = 0.304f;
    EXPECT_NEAR (p.chorusdelay->get(), 0.3f, 1e-6);
    *p.chorusdelay = 7.999f;
    EXPECT_NEAR (p.chorusdelay->get(), 8.0f, 1e-6);
    *p.program = 255;
    EXPECT_EQ (p.program->get(), 255);
    *p.drivecab = 9;
    EXPECT_EQ (p.drivecab->get(), 5);
}

TEST (State, FreshInstanceSavesTheExactBlock)
{
    auto pOwner = std::make_unique<TolvekAudioProcessor>();
    auto& p = *pOwner;
    const juce::MemoryBlock block = saveState (p);
    const auto* bytes = static_cast<const uint8_t*> (block.getData());
    ASSERT_GT (block.getSize(), 9u);
    EXPECT_EQ (std::memcmp (bytes, "VC2!", 4), 0);
    const uint32_t length = juce::ByteOrder::littleEndianInt (bytes + 4);
    EXPECT_EQ (length, block.getSize() - 9);
    EXPECT_EQ (bytes[block.getSize() - 1], 0);

    const juce::String text = juce::String::fromUTF8 (reinterpret_cast<const char*> (bytes + 8), (int) length);
    EXPECT_TRUE (text.startsWith ("<?xml version=\"1.0\" encoding=\"UTF-8\"?> <MYPLUGINSETTINGS attack=\"0.0\" release=\""));
    EXPECT_FALSE (text.containsChar ('\n'));
    // Normalised floats widened to double: 3 of 0..5 is the float 0.6.
    EXPECT_TRUE (text.contains (" drivecab=\"0.6000000238418579\" program=\"0.0\" choruson=\"0.0\""));
    EXPECT_TRUE (text.contains (" sustain=\"1.0\""));
    EXPECT_TRUE (text.endsWith (" driveon=\"0.0\"/>"));

    // Attributes stand in parameter order.
    int previous = -1;
    for (const ParameterRow& row : parameterRows)
    {
        const int at = text.indexOf (juce::String (" ") + row.id + "=\"");
        EXPECT_GT (at, previous) << row.id;
        previous = at;
    }
}

TEST (State, RoundTripIntoAnotherInstanceIsIdentical)
{
    auto aOwner = std::make_unique<TolvekAudioProcessor>();
    auto& a = *aOwner;
    std::mt19937 random (7);
    std::uniform_real_distribution<float> unit (0.0f, 1.0f);
    for (auto* param : a.getParameters())
        param->setValue (unit (random));

    const juce::MemoryBlock saved = saveState (a);
    auto bOwner = std::make_unique<TolvekAudioProcessor>();
    auto& b = *bOwner;
    b.setStateInformation (saved.getData(), (int) saved.getSize());
    EXPECT_EQ (normalisedValues (a), normalisedValues (b));
    EXPECT_EQ (saveState (b), saved);

    // A fresh state restored holds the grid value of the equaliser gains.
    auto freshOwner = std::make_unique<TolvekAudioProcessor>();
    auto& fresh = *freshOwner;
    auto restoredOwner = std::make_unique<TolvekAudioProcessor>();
    auto& restored = *restoredOwner;
    const juce::MemoryBlock freshState = saveState (fresh);
    restored.setStateInformation (freshState.getData(), (int) freshState.getSize());
    EXPECT_NEAR (restored.low->get(), 0.9978f, 1e-6);
    EXPECT_NEAR (restored.high->get(), 0.9978f, 1e-6);
}

TEST (State, RestoreRules)
{
    // Each case starts from a processor whose parameters were moved away from the defaults.
    auto prepared = [] (TolvekAudioProcessor& p)
    {
        *p.attack = 0.5f;
        *p.drivecab = 1;
        *p.tremon = true;
    };

    {
        SCOPED_TRACE ("lower-case tag accepted, one attribute changes one parameter");
        auto pOwner = std::make_unique<TolvekAudioProcessor>();
        auto& p = *pOwner;
        prepared (p);
        const std::vector<float> before = normalisedValues (p);
        const juce::MemoryBlock block = stateBlockFromText ("<mypluginsettings eqon=\"1\"/>");
        p.setStateInformation (block.getData(), (int) block.getSize());
        std::vector<float> expected = before;
        expected[22] = 1.0f;
        EXPECT_EQ (normalisedValues (p), expected);
    }
    {
        SCOPED_TRACE ("attribute names are case-sensitive; unknown attributes ignored");
        auto pOwner = std::make_unique<TolvekAudioProcessor>();
        auto& p = *pOwner;
        prepared (p);
        const std::vector<float> before = normalisedValues (p);
        const juce::MemoryBlock block = stateBlockFromText ("<MYPLUGINSETTINGS EQON=\"1\" foo=\"0.5\"/>");
        p.setStateInformation (block.getData(), (int) block.getSize());
        EXPECT_EQ (normalisedValues (p), before);
    }
    {
        SCOPED_TRACE ("non-numeric attribute gives normalised 0");
        auto pOwner = std::make_unique<TolvekAudioProcessor>();
        auto& p = *pOwner;
        prepared (p);
        const juce::MemoryBlock block = stateBlockFromText ("<MYPLUGINSETTINGS attack=\"abc\" drivecab=\"0.4xyz\"/>");
        p.setStateInformation (block.getData(), (int) block.getSize());
        EXPECT_EQ (p.attack->get(), 0.0f);
        EXPECT_EQ (p.drivecab->get(), 2);
    }
    {
        SCOPED_TRACE ("numbers that are no values: NaN and infinity count as 0, others are clamped");
        auto pOwner = std::make_unique<TolvekAudioProcessor>();
        auto& p = *pOwner;
        prepared (p);
        const juce::MemoryBlock block = stateBlockFromText ("<MYPLUGINSETTINGS attack=\"nan\" release=\"inf\" tremon=\"1.5\" driveon=\"-3\"/>");
        p.setStateInformation (block.getData(), (int) block.getSize());
        EXPECT_EQ (p.attack->get(), 0.0f);
        EXPECT_EQ (p.release->get(), 0.0f);
        EXPECT_EQ (static_cast<juce::AudioProcessorParameter*> (p.tremon)->getValue(), 1.0f);
        EXPECT_EQ (static_cast<juce::AudioProcessorParameter*> (p.driveon)->getValue(), 0.0f);
    }
    {
        SCOPED_TRACE ("another tag resets but changes no parameter");
        auto pOwner = std::make_unique<TolvekAudioProcessor>();
        auto& p = *pOwner;
        prepared (p);
        p.engine.voices[3].active = true;
        const std::vector<float> before = normalisedValues (p);
        const juce::MemoryBlock block = stateBlockFromText ("<OTHER attack=\"1\"/>");
        p.setStateInformation (block.getData(), (int) block.getSize());
        EXPECT_EQ (normalisedValues (p), before);
        EXPECT_FALSE (p.engine.voices[3].active);
    }
}

TEST (State, MalformedBlocksChangeNothingAndDoNotReset)
{
    auto pOwner = std::make_unique<TolvekAudioProcessor>();
    auto& p = *pOwner;
    *p.attack = 0.5f;
    const std::vector<float> before = normalisedValues (p);
    const juce::MemoryBlock good = stateBlockFromText ("<MYPLUGINSETTINGS attack=\"1\"/>");

    std::vector<std::vector<uint8_t>> cases;
    auto bytesOf = [&] (const juce::MemoryBlock& b) { return std::vector<uint8_t> ((const uint8_t*) b.getData(), (const uint8_t*) b.getData() + b.getSize()); };

    cases.push_back ({});                                            // length 0
    const std::vector<uint8_t> goodBytes = bytesOf (good);
    cases.push_back (std::vector<uint8_t> (goodBytes.begin(), goodBytes.begin() + 8));   // short block
    auto wrongMagic = bytesOf (good);
    wrongMagic[0] = 'X';
    cases.push_back (wrongMagic);
    auto zeroLength = bytesOf (good);
    std::memset (zeroLength.data() + 4, 0, 4);
    cases.push_back (zeroLength);
    auto negativeLength = bytesOf (good);
    std::memset (negativeLength.data() + 4, 0xFF, 4);
    cases.push_back (negativeLength);
    cases.push_back ({ 'V', 'C', '2', '!', 1, 0, 0, 0, 0 });          // empty text does not parse
    std::vector<uint8_t> garbage = { 'V', 'C', '2', '!', 5, 0, 0, 0, '<', '<', '>', 'x', '!', 0 };
    cases.push_back (garbage);
    const std::string notUtf8 = "VC2!....<MYPLUGINSETTINGS attack=\"\xff\xfe1\"/>";
    std::vector<uint8_t> badText (notUtf8.begin(), notUtf8.end());
    const uint32_t badLength = (uint32_t) badText.size() - 8;
    std::memcpy (badText.data() + 4, &badLength, 4);
    cases.push_back (badText);

    for (size_t i = 0; i < cases.size(); ++i)
    {
        SCOPED_TRACE (i);
        p.engine.voices[5].active = true;
        p.setStateInformation (cases[i].empty() ? nullptr : cases[i].data(), (int) cases[i].size());
        EXPECT_EQ (normalisedValues (p), before);
        EXPECT_TRUE (p.engine.voices[5].active) << "reset ran";
    }

    // A length field beyond the block is cut to the block.
    auto longLength = bytesOf (good);
    longLength[4] = 0xFF;
    longLength[5] = 0x7F;
    p.setStateInformation (longLength.data(), (int) longLength.size());
    EXPECT_EQ (p.attack->get(), 1.0f);
}

TEST (State, RandomAndTruncatedBlocksNeverCrash)
{
    auto pOwner = std::make_unique<TolvekAudioProcessor>();
    auto& p = *pOwner;
    std::mt19937 random (12345);
    const juce::MemoryBlock good = saveState (p);
    const auto* goodBytes = static_cast<const uint8_t*> (good.getData());

    for (int round = 0; round < 3000; ++round)
    {
        std::vector<uint8_t> bytes;
        switch (round % 3)
        {
            case 0:   // truncated valid block
                bytes.assign (goodBytes, goodBytes + (random() % (good.getSize() + 1)));
                break;
            case 1:   // valid block with flipped bytes and a random length field
            {
                bytes.assign (goodBytes, goodBytes + good.getSize());
                for (int k = 0; k < 4; ++k)
                    bytes[random() % bytes.size()] = (uint8_t) random();
                uint32_t length = (uint32_t) random();
                std::memcpy (bytes.data() + 4, &length, 4);
                break;
            }
            default:  // random bytes behind the right magic
            {
                bytes.resize (random() % 300);
                for (auto& b : bytes)
                    b = (uint8_t) random();
                if (bytes.size() >= 4)
                    std::memcpy (bytes.data(), "VC2!", 4);
                break;
            }
        }
        // Copy into an exact-size heap block so AddressSanitizer sees any overread.
        std::unique_ptr<uint8_t[]> exact (new uint8_t[bytes.size() + 1]);
        if (! bytes.empty())
            std::memcpy (exact.get(), bytes.data(), bytes.size());
        p.setStateInformation (exact.get(), (int) bytes.size());
    }
    SUCCEED();
}
