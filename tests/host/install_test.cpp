// The per-user installer: bundles, sets and the path file in a temporary HOME,
// then the installed bundles loaded as a host would, sounding at the first note.
#include <gtest/gtest.h>

#include <juce_audio_processors/juce_audio_processors.h>

#include <cstdlib>

namespace
{
struct InstallHome
{
    InstallHome()
    {
        home = juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile ("tolvek-install", "", false);
        home.getChildFile (".config").createDirectory();
        if (const char* old = std::getenv ("HOME"))
            previousHome = old;
    }
    ~InstallHome()
    {
        setenv ("HOME", previousHome.toRawUTF8(), 1);
        home.deleteRecursively();
    }

    int run (const juce::String& arguments) const
    {
        const juce::String command = "HOME='" + home.getFullPathName() + "' bash '" TOLVEK_SOURCE_DIR "/scripts/install.sh' "
                                     + arguments + " > '" + home.getFullPathName() + "/install.log' 2>&1";
        return std::system (command.toRawUTF8());
    }
    juce::String log() const { return home.getChildFile ("install.log").loadFileAsString(); }
    juce::File pathFile() const { return home.getChildFile (".config\\TolvakData.txt"); }
    std::vector<juce::File> installedFiles() const
    {
        std::vector<juce::File> files;
        for (const auto& entry : juce::RangedDirectoryIterator (home, true, "*", juce::File::findFilesAndDirectories))
            if (entry.getFile() != home.getChildFile ("install.log") && entry.getFile() != pathFile()
                && entry.getFile() != home.getChildFile (".config"))
                files.push_back (entry.getFile());
        return files;
    }

    juce::File home;
    juce::String previousHome;
};

float loudestSampleOfANote (juce::AudioPluginFormat& format, const juce::String& identifier)
{
    juce::OwnedArray<juce::PluginDescription> found;
    format.findAllTypesForFile (found, identifier);
    if (found.isEmpty())
        return -1.0f;
    juce::String error;
    auto instance = format.createInstanceFromDescription (*found[0], 48000.0, 512, error);
    if (instance == nullptr)
        return -1.0f;
    instance->prepareToPlay (48000.0, 512);
    juce::AudioBuffer<float> buffer (2, 512);
    juce::MidiBuffer midi;
    midi.addEvent (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), 0);
    float peak = 0.0f;
    for (int block = 0; block < 20; ++block)
    {
        buffer.clear();
        instance->processBlock (buffer, midi);
        midi.clear();
        peak = std::max (peak, buffer.getMagnitude (0, 0, 512));
    }
    instance->releaseResources();
    return peak;
}
} // namespace

TEST (Install, PerUserInstallSoundsAtTheFirstNoteAndUninstallsCleanly)
{
    InstallHome install;
    ASSERT_EQ (install.run (""), 0) << install.log();
    EXPECT_TRUE (install.log().contains ("wrote the path file")) << install.log();

    const juce::File sets = install.home.getChildFile (".local/share/tolvek/samples");
    EXPECT_TRUE (install.home.getChildFile (".vst3/Tolvek.vst3").isDirectory());
    EXPECT_TRUE (install.home.getChildFile (".lv2/Tolvek.lv2/manifest.ttl").existsAsFile());
    EXPECT_TRUE (install.home.getChildFile (".local/bin/Tolvek").existsAsFile());
    EXPECT_TRUE (sets.getChildFile ("tines.tin").existsAsFile());

    juce::MemoryBlock pathBytes;
    ASSERT_TRUE (install.pathFile().loadFileAsData (pathBytes));
    ASSERT_EQ (pathBytes.getSize(), 1024u);
    EXPECT_EQ (juce::String::fromUTF8 ((const char*) pathBytes.getData()), sets.getFullPathName());

    // Re-running upgrades in place and leaves the path file alone.
    ASSERT_EQ (install.run (""), 0) << install.log();
    EXPECT_TRUE (install.log().contains ("kept the existing path file")) << install.log();

    setenv ("HOME", install.home.getFullPathName().toRawUTF8(), 1);
    {
        juce::VST3PluginFormat vst3;
        EXPECT_GT (loudestSampleOfANote (vst3, install.home.getChildFile (".vst3/Tolvek.vst3").getFullPathName()), 0.001f);
        juce::LV2PluginFormat lv2;
        lv2.searchPathsForPlugins (juce::FileSearchPath (install.home.getChildFile (".lv2").getFullPathName()), false, false);
        EXPECT_GT (loudestSampleOfANote (lv2, "https://quarmbeck.net/plugins/tolvek"), 0.001f);
    }

    const juce::File ownSet = sets.getChildFile ("my own.rks");
    ownSet.replaceWithText ("mine");
    ASSERT_EQ (install.run ("--uninstall"), 0) << install.log();
    EXPECT_TRUE (install.pathFile().existsAsFile());
    EXPECT_TRUE (ownSet.existsAsFile());
    ownSet.deleteFile();
    for (const juce::File& left : install.installedFiles())
        EXPECT_TRUE (left.isDirectory()) << "left behind: " << left.getFullPathName();
}

TEST (Install, AnExistingPathFileIsNeverTouched)
{
    InstallHome install;
    std::string mine (1024, '\0');
    const std::string folder = "/somewhere/else";
    std::copy (folder.begin(), folder.end(), mine.begin());
    mine[700] = 'x';   // filler the user's editor left
    install.pathFile().replaceWithData (mine.data(), mine.size());

    ASSERT_EQ (install.run (""), 0) << install.log();
    EXPECT_TRUE (install.log().contains ("kept the existing path file")) << install.log();
    juce::MemoryBlock after;
    install.pathFile().loadFileAsData (after);
    EXPECT_EQ (after, juce::MemoryBlock (mine.data(), mine.size()));

    ASSERT_EQ (install.run ("--uninstall"), 0) << install.log();
    after.reset();
    install.pathFile().loadFileAsData (after);
    EXPECT_EQ (after, juce::MemoryBlock (mine.data(), mine.size()));
}
