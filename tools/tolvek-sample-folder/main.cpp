// tolvek-sample-folder: shows or sets the sample folder that every Tolvek
// instance reads from the path file, writing the file exactly as the editor does.
#include "PluginSamplePath.h"

#include <juce_events/juce_events.h>

#include <cstdio>

namespace
{
const char* const usage =
    "usage: tolvek-sample-folder [--show | --set DIR | --init DIR]\n"
    "  --show      print the path file's name and the folder it names (default)\n"
    "  --set DIR   make DIR the sample folder (rewrites the path file)\n"
    "  --init DIR  as --set, but only when there is no path file yet\n";

int fail (const juce::String& message)
{
    std::fprintf (stderr, "tolvek-sample-folder: %s\n", message.toRawUTF8());
    return 1;
}
} // namespace

int main (int argc, char** argv)
{
    const juce::String mode = argc > 1 ? juce::String (juce::CharPointer_UTF8 (argv[1])) : juce::String ("--show");
    const juce::String pathFile = SamplePath::pathFileName();

    if (mode == "--help" || mode == "-h")
    {
        std::fputs (usage, stdout);
        return 0;
    }
    if (mode == "--show" && argc <= 2)
    {
        char samplePath[SamplePath::bufferSize];
        SamplePath::read (samplePath);
        std::printf ("path file: %s%s\nsample folder: %s\n", pathFile.toRawUTF8(),
                     juce::File (pathFile).existsAsFile() ? "" : " (missing: the default folder is used)",
                     SamplePath::text (samplePath).toRawUTF8());
        return 0;
    }
    if ((mode != "--set" && mode != "--init") || argc != 3)
    {
        std::fputs (usage, stderr);
        return 2;
    }

    const juce::File folder = juce::File::getCurrentWorkingDirectory().getChildFile (juce::String (juce::CharPointer_UTF8 (argv[2])));
    if (! folder.isDirectory())
        return fail ("no such folder: " + folder.getFullPathName());

    if (mode == "--init" && juce::File (pathFile).exists())
    {
        std::printf ("kept the existing path file %s\n", pathFile.toRawUTF8());
        return 0;
    }

    char samplePath[SamplePath::bufferSize] {};
    if (! SamplePath::choose (samplePath, folder.getFullPathName()))
        return fail ("folder path too long (at most 1023 bytes): " + folder.getFullPathName());
    if (! juce::File (pathFile).existsAsFile())
        return fail ("cannot write the path file " + pathFile);
    std::printf ("wrote the path file %s -> %s\n", pathFile.toRawUTF8(), folder.getFullPathName().toRawUTF8());
    return 0;
}
