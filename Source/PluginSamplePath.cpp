#include "PluginSamplePath.h"

#include <cstdio>
#include <cstring>

namespace SamplePath
{
juce::String pathFileName()
{
    return juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory).getFullPathName()
           + "\\TolvakData.txt";
}

juce::String defaultFolderText()
{
    return juce::File::getSpecialLocation (juce::File::currentExecutableFile).getFullPathName()
           + "\\RErozedid\\";
}

void read (char (&samplePath)[bufferSize])
{
    set (samplePath, notSetText);

    // Plain byte stream: the name holds a backslash that must stay a character.
    std::FILE* file = std::fopen (pathFileName().toRawUTF8(), "rb");
    if (file == nullptr)
    {
        set (samplePath, defaultFolderText());
        return;
    }

    char bytes[bufferSize];
    const size_t got = std::fread (bytes, 1, sizeof (bytes), file);
    std::fclose (file);

    // Without a terminator among the bytes that end up in the buffer the text
    // would run past it: ignore such a file and fall back as if it were missing.
    char merged[bufferSize];
    std::memcpy (merged, samplePath, sizeof (merged));
    std::memcpy (merged, bytes, got);
    if (std::memchr (merged, 0, sizeof (merged)) == nullptr)
    {
        set (samplePath, defaultFolderText());
        return;
    }
    std::memcpy (samplePath, merged, sizeof (merged));
}

bool set (char (&samplePath)[bufferSize], const juce::String& folderPath)
{
    const char* utf8 = folderPath.toRawUTF8();
    const size_t length = std::strlen (utf8);
    if (length >= (size_t) bufferSize)
        return false;
    // Bytes after the new terminator keep their old content, as the file always has.
    std::memcpy (samplePath, utf8, length + 1);
    return true;
}

bool choose (char (&samplePath)[bufferSize], const juce::String& folderPath)
{
    const juce::String fileName = pathFileName();
    if (std::strlen (fileName.toRawUTF8()) >= (size_t) bufferSize)
        return false;
    if (! set (samplePath, folderPath))
        return false;

    if (std::FILE* file = std::fopen (fileName.toRawUTF8(), "wb"))
    {
        std::fwrite (samplePath, 1, bufferSize, file);
        std::fclose (file);
    }
    return true;
}

juce::String text (const char (&samplePath)[bufferSize])
{
    const void* end = std::memchr (samplePath, 0, bufferSize);
    const size_t length = end != nullptr ? (size_t) ((const char*) end - samplePath) : (size_t) bufferSize;
    return juce::String::fromUTF8 (samplePath, (int) length);
}

juce::File folder (const char (&samplePath)[bufferSize])
{
    // A relative text is taken against the working directory, as the framework does.
    const juce::String path = text (samplePath);
    if (juce::File::isAbsolutePath (path))
        return juce::File (path);
    return juce::File::getCurrentWorkingDirectory().getChildFile (path);
}

juce::StringArray listSets (const juce::File& folderToList)
{
    juce::StringArray names;
    if (! folderToList.isDirectory())
        return names;
    for (const auto& entry : juce::RangedDirectoryIterator (folderToList, false, "*.rks", juce::File::findFiles))
        names.add (entry.getFile().getFileName());
    return names;
}
} // namespace SamplePath
