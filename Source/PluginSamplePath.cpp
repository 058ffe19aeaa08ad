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

static void copyText (char (&samplePath)[bufferSize], const char* utf8, size_t length)
{
    jassert (length < (size_t) bufferSize);
    std::memcpy (samplePath, utf8, length);
    samplePath[length] = 0;
}

void read (char (&samplePath)[bufferSize])
{
    copyText (samplePath, notSetText, std::strlen (notSetText));

    // Plain byte stream: the name holds a backslash that must stay a character.
    std::FILE* file = std::fopen (pathFileName().toRawUTF8(), "rb");
    if (file == nullptr)
    {
        const juce::String fallback = defaultFolderText();
        const size_t length = std::strlen (fallback.toRawUTF8());
        if (length < (size_t) bufferSize)
            copyText (samplePath, fallback.toRawUTF8(), length);
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
        const juce::String fallback = defaultFolderText();
        const size_t length = std::strlen (fallback.toRawUTF8());
        if (length < (size_t) bufferSize)
            copyText (samplePath, fallback.toRawUTF8(), length);
        return;
    }
    std::memcpy (samplePath, merged, sizeof (merged));
}

bool choose (char (&samplePath)[bufferSize], const juce::String& folderPath)
{
    const char* utf8 = folderPath.toRawUTF8();
    const size_t length = std::strlen (utf8);
    if (length >= (size_t) bufferSize)
        return false;

    const juce::String fileName = pathFileName();
    if (std::strlen (fileName.toRawUTF8()) >= (size_t) bufferSize)
        return false;

    // Bytes after the new terminator keep their old content, as the file always has.
    std::memcpy (samplePath, utf8, length + 1);

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
