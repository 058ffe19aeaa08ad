#pragma once

#include <juce_core/juce_core.h>

// The sample folder is remembered in one path file shared by every instance on
// the machine: the application-data directory's full path followed directly by
// "\TolvakData.txt". On systems where the backslash is no separator the file
// therefore lies beside that directory; files already written rely on this.
namespace SamplePath
{
    constexpr int bufferSize = 1024;
    constexpr const char* notSetText = "Sample Path Not Set";

    // The path file's full name, formed as described above.
    juce::String pathFileName();

    // The folder used when there is no path file.
    juce::String defaultFolderText();

    // Fills `samplePath` as the processor does at construction: the placeholder
    // text, overwritten by up to 1024 bytes of the path file, or the default
    // folder when there is no file. A file whose bytes hold no terminator is
    // ignored, so the buffer always ends within its 1024 bytes.
    void read (char (&samplePath)[bufferSize]);

    // Copies `folderPath` into `samplePath` without touching the path file.
    // Refuses (returns false, changes nothing) a path that does not fit 1023 bytes.
    bool set (char (&samplePath)[bufferSize], const juce::String& folderPath);

    // Copies `folderPath` into `samplePath` and writes the 1024-byte path file.
    // Refuses (returns false, changes nothing) a path that does not fit 1023
    // bytes. Returns true also when the file itself could not be written: the
    // new folder is then kept for this instance only.
    bool choose (char (&samplePath)[bufferSize], const juce::String& folderPath);

    // The text of `samplePath` up to its first zero byte, as UTF-8.
    juce::String text (const char (&samplePath)[bufferSize]);

    // The folder named by `samplePath`.
    juce::File folder (const char (&samplePath)[bufferSize]);

    // The "*.rks" files of `folder`, not recursive, hidden files included, in
    // the order the directory iterator yields them (not sorted): list position
    // i is `program` value i.
    juce::StringArray listSets (const juce::File& folder);
}
