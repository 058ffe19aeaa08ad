// The sample folder, the path file, set selection and set loading in the processor.
#include <gtest/gtest.h>

#include "PluginProcessor.h"
#include "samples/SetEncoder.h"
#include "TemporaryHome.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace
{
struct TemporaryFolder
{
    TemporaryFolder()
    {
        folder = juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile ("tolvek-sets", "", false);
        folder.createDirectory();
    }
    ~TemporaryFolder() { folder.deleteRecursively(); }
    juce::File folder;
};

ZoneSource sineZone (int root, int velocity, int length, bool looped)
{
    ZoneSource zone;
    zone.rootNote = root;
    zone.velocity = velocity;
    zone.sampleRate = 44100;
    zone.samples.resize ((size_t) length);
    const double frequency = 440.0 * std::pow (2.0, (root - 69) / 12.0);
    for (int i = 0; i < length; ++i)
        zone.samples[(size_t) i] = (int16_t) std::lround (12000.0 * std::sin (2.0 * M_PI * frequency * i / 44100.0));
    zone.looped = looped;
    if (looped)
    {
        zone.loopLength = (uint32_t) (length / 4);
        zone.loopDecay = 1000;
    }
    return zone;
}

void writeSet (const juce::File& file, int kind, int zones, int root = 48)
{
    std::vector<ZoneSource> sources;
    for (int z = 0; z < zones; ++z)
        sources.push_back (sineZone (root + 12 * z, 100, 4000 + 64 * z, z % 2 == 0));
    const std::string error = writeSetFile (file.getFullPathName().toStdString(), sources, kind);
    ASSERT_TRUE (error.empty()) << error;
}

void renderBlock (TolvekAudioProcessor& p, int length, juce::MidiBuffer& midi)
{
    juce::AudioBuffer<float> buffer (2, length);
    buffer.clear();
    p.processBlock (buffer, midi);
}
} // namespace

TEST (PathFile, LiesBesideTheApplicationDataFolderAndRoundTrips)
{
    TemporaryHome home;
    EXPECT_EQ (SamplePath::pathFileName(), home.folder.getFullPathName() + "/.config\\TolvakData.txt");

    {
        auto pOwner = std::make_unique<TolvekAudioProcessor>();   // no path file yet: the default folder text
        auto& p = *pOwner;
        EXPECT_EQ (SamplePath::text (p.samplePath), SamplePath::defaultFolderText());
        EXPECT_TRUE (SamplePath::defaultFolderText().endsWith ("\\RErozedid\\"));
    }

    const juce::String chosen = home.folder.getChildFile (juce::CharPointer_UTF8 ("Kl\xc3\xa4nge \xe6\x97\xa5\xe6\x9c\xac")).getFullPathName();
    {
        auto pOwner = std::make_unique<TolvekAudioProcessor>();
        auto& p = *pOwner;
        ASSERT_TRUE (p.chooseSampleFolder (chosen));
        EXPECT_EQ (SamplePath::text (p.samplePath), chosen);
    }
    ASSERT_TRUE (home.pathFile().existsAsFile());
    juce::MemoryBlock bytes;
    home.pathFile().loadFileAsData (bytes);
    ASSERT_EQ (bytes.getSize(), 1024u);
    const juce::String written = juce::String::fromUTF8 ((const char*) bytes.getData());
    EXPECT_EQ (written, chosen);
    EXPECT_EQ (((const char*) bytes.getData())[std::strlen (chosen.toRawUTF8())], 0);

    auto laterOwner = std::make_unique<TolvekAudioProcessor>();

    auto& later = *laterOwner;
    EXPECT_EQ (SamplePath::text (later.samplePath), chosen);
}

TEST (PathFile, RefusesWhatDoesNotFit)
{
    TemporaryHome home;
    auto pOwner = std::make_unique<TolvekAudioProcessor>();
    auto& p = *pOwner;
    const juce::String before = SamplePath::text (p.samplePath);
    EXPECT_FALSE (p.chooseSampleFolder ("/" + juce::String::repeatedString ("x", 1023)));
    EXPECT_EQ (SamplePath::text (p.samplePath), before);
    EXPECT_FALSE (home.pathFile().exists());
    EXPECT_TRUE (p.chooseSampleFolder ("/" + juce::String::repeatedString ("y", 1022)));

    // 1024 bytes with no terminator: ignored, the default folder is used.
    std::string noTerminator (1024, 'a');
    home.pathFile().replaceWithData (noTerminator.data(), noTerminator.size());
    auto unterminatedOwner = std::make_unique<TolvekAudioProcessor>();
    auto& unterminated = *unterminatedOwner;
    EXPECT_EQ (SamplePath::text (unterminated.samplePath), SamplePath::defaultFolderText());

    // A short file overwrites only the leading bytes of the placeholder text.
    home.pathFile().replaceWithText ("/tmp/ab");
    auto shortFileOwner = std::make_unique<TolvekAudioProcessor>();
    auto& shortFile = *shortFileOwner;
    EXPECT_EQ (SamplePath::text (shortFile.samplePath), juce::String ("/tmp/ab") + juce::String (SamplePath::notSetText).substring (7));

    // An empty file leaves the placeholder, which names no folder.
    home.pathFile().replaceWithText ("");
    auto emptyFileOwner = std::make_unique<TolvekAudioProcessor>();
    auto& emptyFile = *emptyFileOwner;
    EXPECT_EQ (SamplePath::text (emptyFile.samplePath), SamplePath::notSetText);
}

TEST (SetSelection, ProgramPicksTheSetAtItsPositionInIteratorOrder)
{
    TemporaryFolder sets;
    writeSet (sets.folder.getChildFile ("b.rks"), 0, 1, 40);
    writeSet (sets.folder.getChildFile ("a.rks"), 0, 2, 50);
    writeSet (sets.folder.getChildFile ("c.rks"), 1, 3, 60);
    writeSet (sets.folder.getChildFile ("notaset.wav"), 0, 1);
    sets.folder.getChildFile ("sub").createDirectory();
    writeSet (sets.folder.getChildFile ("sub/d.rks"), 0, 1);

    juce::StringArray iteratorOrder;
    for (const auto& entry : juce::RangedDirectoryIterator (sets.folder, false, "*.rks", juce::File::findFiles))
        iteratorOrder.add (entry.getFile().getFileName());
    ASSERT_EQ (iteratorOrder.size(), 3);
    EXPECT_EQ (SamplePath::listSets (sets.folder), iteratorOrder);

    auto pOwner = std::make_unique<TolvekAudioProcessor> (sets.folder.getFullPathName());

    auto& p = *pOwner;
    p.setRateAndBufferSizeDetails (48000, 512);
    for (int position = 0; position < 3; ++position)
    {
        *p.program = position;
        p.prepareToPlay (48000, 512);
        EXPECT_EQ (p.loadedSetName, iteratorOrder[position]);
    }
    const juce::String before = p.loadedSetName;
    const short zonesBefore = p.tableSize;
    *p.program = 3;
    p.prepareToPlay (48000, 512);
    EXPECT_EQ (p.loadedSetName, before);
    EXPECT_EQ (p.tableSize, zonesBefore);
}

TEST (SetLoading, RereadsOnlyTineSetsAndHandlesMissingParts)
{
    TemporaryFolder sets;
    writeSet (sets.folder.getChildFile ("plain.rks"), 0, 3);
    writeSet (sets.folder.getChildFile ("withtines.rks"), 2, 2);
    writeSet (sets.folder.getChildFile ("tines.tin"), 0, 4, 60);
    writeSet (sets.folder.getChildFile ("empty.rks"), 0, 0);

    auto pOwner = std::make_unique<TolvekAudioProcessor> (sets.folder.getFullPathName());

    auto& p = *pOwner;
    auto load = [&p] (const char* name) { p.loadSamples (name, &p.tableSize, &p.samples, &p.table); };
    auto opens = [] { return SetFileReader::openCount().load(); };

    int before = opens();
    load ("plain.rks");
    load ("plain.rks");
    EXPECT_EQ (opens() - before, 1);
    EXPECT_EQ (p.tableSize, 3);
    EXPECT_EQ (p.setKind, 0);

    before = opens();
    load ("withtines.rks");
    load ("withtines.rks");
    EXPECT_EQ (opens() - before, 4);
    EXPECT_EQ (p.tableSize, 2);
    EXPECT_EQ (p.tineTableSize, 4);
    EXPECT_EQ (p.setKind, 2);
    EXPECT_EQ (p.loadedSetName, "tines.tin");

    // The tine set stays loaded when a set of another kind follows.
    load ("plain.rks");
    EXPECT_EQ (p.setKind, 0);
    EXPECT_EQ (p.tineTableSize, 4);

    load ("empty.rks");
    EXPECT_EQ (p.tableSize, 0);
    EXPECT_EQ (p.samples, nullptr);

    before = opens();
    load ("missing.rks");
    load ("missing.rks");
    EXPECT_EQ (opens() - before, 0);
    EXPECT_EQ (p.loadedSetName, "missing.rks");
    EXPECT_EQ (p.tableSize, 0);

    load ("");   // names the folder itself: no set
    EXPECT_EQ (p.tableSize, 0);

    sets.folder.getChildFile ("tines.tin").deleteFile();
    load ("withtines.rks");
    EXPECT_EQ (p.tableSize, 2);
    EXPECT_EQ (p.tineTableSize, 0);
}

TEST (SetLoading, AudioThreadTakesNewSetBetweenBlocksWithAllVoicesStopped)
{
    TemporaryFolder sets;
    writeSet (sets.folder.getChildFile ("one.rks"), 0, 3);
    writeSet (sets.folder.getChildFile ("two.rks"), 2, 2);
    writeSet (sets.folder.getChildFile ("tines.tin"), 0, 4, 60);

    auto pOwner = std::make_unique<TolvekAudioProcessor> (sets.folder.getFullPathName());

    auto& p = *pOwner;
    p.setRateAndBufferSizeDetails (48000, 256);
    p.prepareToPlay (48000, 256);

    juce::MidiBuffer midi;
    midi.addEvent (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), 0);
    renderBlock (p, 256, midi);
    int sounding = 0;
    for (const auto& v : p.engine.voices)
        sounding += v.active ? 1 : 0;
    EXPECT_EQ (sounding, 1);

    const uint32_t swaps = p.setSwapsSeen();
    p.loadSamples ("two.rks", &p.tableSize, &p.samples, &p.table);
    juce::MidiBuffer none;
    renderBlock (p, 256, none);
    EXPECT_EQ (p.setSwapsSeen(), swaps + 1);
    for (const auto& v : p.engine.voices)
        EXPECT_FALSE (v.active);
}

TEST (SetLoading, SwitchingSetsWhileRenderingIsSafe)
{
    TemporaryFolder sets;
    writeSet (sets.folder.getChildFile ("one.rks"), 0, 3);
    writeSet (sets.folder.getChildFile ("two.rks"), 2, 2);
    writeSet (sets.folder.getChildFile ("tines.tin"), 0, 4, 60);

    auto pOwner = std::make_unique<TolvekAudioProcessor> (sets.folder.getFullPathName());

    auto& p = *pOwner;
    p.setRateAndBufferSizeDetails (48000, 64);
    p.prepareToPlay (48000, 64);

    std::atomic<bool> stop { false };
    std::atomic<int> blocks { 0 };
    std::thread audio ([&]
    {
        juce::AudioBuffer<float> buffer (2, 64);
        juce::MidiBuffer midi;
        int key = 0;
        while (! stop.load())
        {
            midi.clear();
            midi.addEvent (juce::MidiMessage::noteOn (1, 36 + key, (juce::uint8) 100), 0);
            midi.addEvent (juce::MidiMessage::noteOff (1, 36 + (key + 40) % 64), 0);
            key = (key + 1) % 64;
            buffer.clear();
            p.processBlock (buffer, midi);
            for (int i = 0; i < 64; ++i)
                ASSERT_TRUE (std::isfinite (buffer.getSample (0, i)));
            blocks.fetch_add (1);
        }
    });

    for (int round = 0; round < 1000; ++round)
        p.loadSamples (round % 2 == 0 ? "two.rks" : "one.rks", &p.tableSize, &p.samples, &p.table);
    stop.store (true);
    audio.join();
    EXPECT_GT (blocks.load(), 0);
}
