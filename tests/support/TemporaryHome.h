#pragma once

// Points HOME at a fresh folder for the life of the object, so tests that read
// or write the path file never touch the user's.

#include <juce_core/juce_core.h>

#include <cstdlib>

struct TemporaryHome
{
    TemporaryHome()
    {
        folder = juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile ("tolvek-home", "", false);
        folder.createDirectory();
        if (const char* old = std::getenv ("HOME"))
            previousHome = old;
        if (const char* old = std::getenv ("XDG_CONFIG_HOME"))
            previousConfig = old;
        setenv ("HOME", folder.getFullPathName().toRawUTF8(), 1);
        unsetenv ("XDG_CONFIG_HOME");
        folder.getChildFile (".config").createDirectory();
    }
    ~TemporaryHome()
    {
        setenv ("HOME", previousHome.toRawUTF8(), 1);
        if (previousConfig.isNotEmpty())
            setenv ("XDG_CONFIG_HOME", previousConfig.toRawUTF8(), 1);
        folder.deleteRecursively();
    }
    TemporaryHome (const TemporaryHome&) = delete;
    TemporaryHome& operator= (const TemporaryHome&) = delete;

    // Where the backslash is no separator the file lies beside the directory.
    juce::File pathFile() const { return folder.getChildFile (".config\\TolvakData.txt"); }

    juce::File folder;
    juce::String previousHome, previousConfig;
};
