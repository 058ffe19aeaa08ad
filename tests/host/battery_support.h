#pragma once

// Shared pieces of the host battery: a temporary HOME whose path file points
// at a copy of the default sets, the two hosted formats, parameter lookup by
// ID, output checks and the real-time counters (battery_hooks.cpp).

#include <gtest/gtest.h>

#include <juce_audio_processors/juce_audio_processors.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace battery
{
// The instrument's parameters, ID and the name hosts show, in index order.
struct ParameterName
{
    const char* id;
    const char* name;
};
constexpr ParameterName parameterNames[26] = {
    { "attack", "Attack" }, { "release", "Release" }, { "decay", "Decay" }, { "sustain", "Sustain" },
    { "tinemix", "Tine Mix" }, { "low", "Low" }, { "mid", "Mid" }, { "high", "High" },
    { "tremspeed", "Trem Speed" }, { "tremapm", "Trem Amp" }, { "drivegain", "Drive Gain" },
    { "reverbmix", "Reverb Mix" }, { "reverbrefecl", "Reflection Fact." }, { "roomsize", "Room Size" },
    { "tail", "Reverb Tail" }, { "chorusdelay", "Chorus Speed." }, { "chorusmix", "Chorus Streng." },
    { "mainout", "Output Vol." }, { "drivecab", "Cabinet" }, { "program", "Program" }, { "choruson", "Chorus" },
    { "reverbon", "Reverb" }, { "eqon", "EQ" }, { "tineon", "Tine Octave Up" }, { "tremon", "Trem" }, { "driveon", "Drive" },
};

//==============================================================================
// HOME points at a fresh folder whose path file names a copy of the default
// sets, so every hosted instance finds them. Restored on destruction.
struct BatteryHome
{
    BatteryHome()
    {
        home = juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile ("tolvek-battery", "", false);
        sets = home.getChildFile ("sets");
        sets.createDirectory();
        home.getChildFile (".config").createDirectory();
        for (const auto& entry : juce::RangedDirectoryIterator (juce::File (TOLVEK_BINARY_DIR "/samples"), false, "*"))
            entry.getFile().copyFileTo (sets.getChildFile (entry.getFile().getFileName()));

        std::string pathFile (1024, '\0');
        const std::string folder = sets.getFullPathName().toStdString();
        std::copy (folder.begin(), folder.end(), pathFile.begin());
        home.getChildFile (".config\\TolvakData.txt").replaceWithData (pathFile.data(), pathFile.size());

        if (const char* old = std::getenv ("HOME"))
            previousHome = old;
        if (const char* old = std::getenv ("XDG_CONFIG_HOME"))
            previousConfig = old;
        setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);
        unsetenv ("XDG_CONFIG_HOME");
    }
    ~BatteryHome()
    {
        setenv ("HOME", previousHome.toRawUTF8(), 1);
        if (previousConfig.isNotEmpty())
            setenv ("XDG_CONFIG_HOME", previousConfig.toRawUTF8(), 1);
        home.deleteRecursively();
    }
    int numberOfSets() const { return sets.getNumberOfChildFiles (juce::File::findFiles, "*.rks"); }

    juce::File home, sets;
    juce::String previousHome, previousConfig;
};

//==============================================================================
enum class Format
{
    vst3,
    lv2
};

inline const char* formatName (Format f) { return f == Format::vst3 ? "VST3" : "LV2"; }

// A loaded plug-in with its parameters found by ID.
struct Hosted
{
    std::unique_ptr<juce::AudioPluginFormat> format;
    std::unique_ptr<juce::AudioPluginInstance> instance;
    std::map<std::string, juce::AudioProcessorParameter*> parameters;

    juce::AudioProcessorParameter& operator[] (const char* id) { return *parameters.at (id); }
    int numChannels() const
    {
        return std::max (instance->getTotalNumInputChannels(), instance->getTotalNumOutputChannels());
    }
};

inline std::unique_ptr<Hosted> load (Format which, double rate = 48000.0, int block = 512)
{
    auto hosted = std::make_unique<Hosted>();
    juce::String identifier;
    if (which == Format::vst3)
    {
        hosted->format = std::make_unique<juce::VST3PluginFormat>();
        identifier = TOLVEK_VST3_BUNDLE;
    }
    else
    {
        hosted->format = std::make_unique<juce::LV2PluginFormat>();
        hosted->format->searchPathsForPlugins (juce::FileSearchPath (juce::File (TOLVEK_LV2_BUNDLE).getParentDirectory().getFullPathName()), false, false);
        identifier = "https://quarmbeck.net/plugins/tolvek";
    }
    juce::OwnedArray<juce::PluginDescription> found;
    hosted->format->findAllTypesForFile (found, identifier);
    if (found.size() != 1)
        return nullptr;
    juce::String error;
    hosted->instance = hosted->format->createInstanceFromDescription (*found[0], rate, block, error);
    if (hosted->instance == nullptr)
        return nullptr;
    for (auto* p : hosted->instance->getParameters())
        for (const auto& known : parameterNames)
            if (p->getName (100) == known.name)
                hosted->parameters[known.id] = p;
    if (hosted->parameters.size() != 26)
        return nullptr;
    return hosted;
}

//==============================================================================
// What one stretch of output held.
struct OutputCheck
{
    long samples = 0, notFinite = 0, denormal = 0;
    float peak = 0.0f;

    void add (const juce::AudioBuffer<float>& buffer, int numSamples)
    {
        for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
        {
            const float* x = buffer.getReadPointer (ch);
            for (int i = 0; i < numSamples; ++i)
            {
                const int kind = std::fpclassify (x[i]);
                if (kind == FP_NAN || kind == FP_INFINITE)
                    ++notFinite;
                else if (kind == FP_SUBNORMAL)
                    ++denormal;
                else
                    peak = std::max (peak, std::abs (x[i]));
            }
            samples += numSamples;
        }
    }
};

//==============================================================================
// Counting of allocations and mutex locks on the calling thread, between
// begin and end (battery_hooks.cpp). Unavailable under sanitizers, which
// bring their own allocator.
struct CallSite
{
    const char* module = nullptr;     // the shared object that called
    const char* function = nullptr;   // the calling function, from its symbols
    uintptr_t offset = 0;             // for addr2line -e module
    const void* mutex = nullptr;
};
// Counted on the calling thread and split by origin: Tolvek's processBlock
// (with the keyboard state's lock apart), the plug-in's format wrapper around
// it, and the host side.
struct RealtimeCounts
{
    int tolvekAllocations = 0, tolvekLocks = 0, keyboardStateLocks = 0;
    int wrapperAllocations = 0, wrapperLocks = 0;
    int hostAllocations = 0, hostLocks = 0;
    static constexpr int maxRecorded = 8;
    CallSite tolvekAllocationsSeen[maxRecorded];
    CallSite tolvekLocksSeen[maxRecorded];
    CallSite wrapperLocksSeen[maxRecorded];
};
bool countingAvailable();
void beginCounting();
RealtimeCounts endCounting();
std::string describe (const CallSite& site);

// Counts over many blocks, with the call sites seen.
struct RealtimeTally
{
    long blocks = 0;
    long tolvekAllocations = 0, tolvekLocks = 0, keyboardStateLocks = 0;
    long wrapperAllocations = 0, wrapperLocks = 0, hostAllocations = 0, hostLocks = 0;
    std::vector<CallSite> tolvekSites;
    std::map<std::string, long> wrapperLockFunctions;

    void add (const RealtimeCounts& c)
    {
        ++blocks;
        tolvekAllocations += c.tolvekAllocations;
        tolvekLocks += c.tolvekLocks;
        keyboardStateLocks += c.keyboardStateLocks;
        wrapperAllocations += c.wrapperAllocations;
        wrapperLocks += c.wrapperLocks;
        hostAllocations += c.hostAllocations;
        hostLocks += c.hostLocks;
        for (int i = 0; i < std::min (c.tolvekAllocations, RealtimeCounts::maxRecorded); ++i)
            if (tolvekSites.size() < 8)
                tolvekSites.push_back (c.tolvekAllocationsSeen[i]);
        for (int i = 0; i < std::min (c.tolvekLocks, RealtimeCounts::maxRecorded); ++i)
            if (tolvekSites.size() < 8)
                tolvekSites.push_back (c.tolvekLocksSeen[i]);
        for (int i = 0; i < std::min (c.wrapperLocks, RealtimeCounts::maxRecorded); ++i)
            ++wrapperLockFunctions[c.wrapperLocksSeen[i].function != nullptr ? c.wrapperLocksSeen[i].function : "?"];
    }
    std::string tolvekReport() const
    {
        std::string text;
        for (const auto& site : tolvekSites)
            text += std::string ("\n  ") + (site.mutex != nullptr ? "lock" : "allocation") + " in Tolvek's processBlock: " + describe (site);
        return text;
    }
    std::string summary() const
    {
        std::string text = std::to_string (blocks) + " blocks; inside Tolvek's processBlock " + std::to_string (tolvekAllocations)
                           + " allocations, " + std::to_string (tolvekLocks) + " locks besides "
                           + std::to_string (keyboardStateLocks) + " of the keyboard state; in the format wrapper "
                           + std::to_string (wrapperAllocations) + " allocations, " + std::to_string (wrapperLocks)
                           + " locks; host side " + std::to_string (hostAllocations) + " allocations, "
                           + std::to_string (hostLocks) + " locks";
        for (const auto& entry : wrapperLockFunctions)
            text += "\n    wrapper locks in " + entry.first + ": " + std::to_string (entry.second);
        return text;
    }
};
} // namespace battery
