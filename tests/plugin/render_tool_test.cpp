// tolvek-render end to end: output against a direct processBlock render, block
// schemes, and the error cases.
#include <gtest/gtest.h>

#include "PluginProcessor.h"
#include "samples/SetEncoder.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <cmath>

namespace
{
const juce::File renderTool { TOLVEK_BINARY_DIR "/bin/tolvek-render" };

struct Workspace
{
    Workspace()
    {
        folder = juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile ("tolvek-render", "", false);
        folder.createDirectory();
        sets = folder.getChildFile ("sets");
        sets.createDirectory();
        std::vector<ZoneSource> zones;
        for (int root = 40; root <= 88; root += 12)
        {
            ZoneSource zone;
            zone.rootNote = root;
            zone.velocity = 90;
            zone.sampleRate = 44100;
            zone.samples.resize (30000);
            for (size_t i = 0; i < zone.samples.size(); ++i)
                zone.samples[i] = (int16_t) (10000.0 * std::sin (2.0 * M_PI * 440.0 * std::pow (2.0, (root - 69) / 12.0) * (double) i / 44100.0)
                                             * std::exp (-(double) i / 20000.0));
            zones.push_back (zone);
        }
        EXPECT_TRUE (writeSetFile (sets.getChildFile ("test.rks").getFullPathName().toStdString(), zones, 0).empty());
    }
    ~Workspace() { folder.deleteRecursively(); }

    // Notes at the given sample times (at 48 kHz), written as a MIDI file at 120 bpm, 960 ticks:
    // one tick is 1/1920 s = 25 samples.
    juce::File writeMidi (const std::vector<std::pair<int, juce::MidiMessage>>& events) const
    {
        juce::MidiMessageSequence track;
        juce::MidiMessage tempo = juce::MidiMessage::tempoMetaEvent (500000);
        tempo.setTimeStamp (0);
        track.addEvent (tempo);
        for (auto [sample, message] : events)
        {
            message.setTimeStamp (sample / 25.0);
            track.addEvent (message);
        }
        track.updateMatchedPairs();
        juce::MidiFile midi;
        midi.setTicksPerQuarterNote (960);
        midi.addTrack (track);
        const juce::File file = folder.getChildFile ("in.mid");
        file.deleteFile();
        juce::FileOutputStream out (file);
        midi.writeTo (out);
        return file;
    }

    juce::File folder, sets;
};

struct ToolResult
{
    int exitCode;
    juce::String output;
};

ToolResult runTool (const juce::StringArray& args)
{
    juce::StringArray command;
    command.add (renderTool.getFullPathName());
    command.addArray (args);
    juce::ChildProcess child;
    if (! child.start (command, juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr))
        return { -1, "could not start" };
    const juce::String output = child.readAllProcessOutput();
    child.waitForProcessToFinish (60000);
    return { (int) child.getExitCode(), output };
}

std::vector<float> readWav (const juce::File& file, int channel = 0)
{
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatReader> reader (wav.createReaderFor (file.createInputStream().release(), true));
    if (reader == nullptr)
        return {};
    juce::AudioBuffer<float> buffer ((int) reader->numChannels, (int) reader->lengthInSamples);
    reader->read (&buffer, 0, (int) reader->lengthInSamples, 0, true, true);
    return std::vector<float> (buffer.getReadPointer (channel), buffer.getReadPointer (channel) + buffer.getNumSamples());
}

// A plain render in the test itself: blocks of `blockSize`, ending early at every event.
std::vector<float> renderDirect (const juce::File& sets, const std::vector<std::pair<int, juce::MidiMessage>>& events,
                                 int totalSamples, int blockSize, const std::function<void (TolvekAudioProcessor&)>& setup)
{
    auto pOwner = std::make_unique<TolvekAudioProcessor> (sets.getFullPathName());
    auto& p = *pOwner;
    p.setRateAndBufferSizeDetails (48000, blockSize);
    setup (p);
    p.prepareToPlay (48000, blockSize);
    std::vector<float> out;
    size_t next = 0;
    int position = 0;
    while (position < totalSamples)
    {
        int length = std::min (blockSize, totalSamples - position);
        if (next < events.size() && events[next].first > position)
            length = std::min (length, events[next].first - position);
        juce::MidiBuffer midi;
        while (next < events.size() && events[next].first < position + length)
            midi.addEvent (events[next++].second, 0);
        juce::AudioBuffer<float> buffer (2, length);
        buffer.clear();
        p.processBlock (buffer, midi);
        out.insert (out.end(), buffer.getReadPointer (0), buffer.getReadPointer (0) + length);
        position += length;
    }
    return out;
}
} // namespace

TEST (RenderTool, MatchesADirectRenderBitForBit)
{
    ASSERT_TRUE (renderTool.existsAsFile());
    Workspace ws;
    const std::vector<std::pair<int, juce::MidiMessage>> events = {
        { 0, juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100) },
        { 1000, juce::MidiMessage::controllerEvent (1, 64, 127) },
        { 1725, juce::MidiMessage::noteOn (1, 64, (juce::uint8) 80) },
        { 4800, juce::MidiMessage::noteOff (1, 60) },
        { 9575, juce::MidiMessage::pitchWheel (1, 9000) },
        { 12000, juce::MidiMessage::controllerEvent (1, 64, 0) },
        { 15000, juce::MidiMessage::noteOff (1, 64) },
    };
    const juce::File midi = ws.writeMidi (events);
    const juce::File out = ws.folder.getChildFile ("out.wav");
    const ToolResult result = runTool ({ "--quiet", "--samples", ws.sets.getFullPathName(), "--format", "float32",
                                         "--tail", "0.5", "--set", "reverbon=1", "--set", "tremon=1",
                                         midi.getFullPathName(), out.getFullPathName() });
    ASSERT_EQ (result.exitCode, 0) << result.output;
    const std::vector<float> rendered = readWav (out);
    ASSERT_EQ ((int) rendered.size(), 15000 + 24000);

    const std::vector<float> direct = renderDirect (ws.sets, events, 15000 + 24000, 512, [] (TolvekAudioProcessor& p)
    {
        *p.reverbon = true;
        *p.tremon = true;
    });
    EXPECT_EQ (rendered, direct);
    EXPECT_EQ (readWav (out, 1), rendered);   // stereo, identical channels
}

TEST (RenderTool, BlockSizeDoesNotMatterWhenEventsFallOnBlockStarts)
{
    Workspace ws;
    const juce::File midi = ws.writeMidi ({
        { 0, juce::MidiMessage::noteOn (1, 52, (juce::uint8) 110) },
        { 2048, juce::MidiMessage::noteOn (1, 67, (juce::uint8) 70) },
        { 10240, juce::MidiMessage::noteOff (1, 52) },
        { 12800, juce::MidiMessage::noteOff (1, 67) },
    });
    std::vector<float> results[2];
    const char* blocks[] = { "64", "512" };
    for (int i = 0; i < 2; ++i)
    {
        const juce::File out = ws.folder.getChildFile (juce::String ("out") + blocks[i] + ".wav");
        const ToolResult result = runTool ({ "--quiet", "--samples", ws.sets.getFullPathName(), "--format", "float32",
                                             "--no-split", "--block", blocks[i], "--set", "choruson=1", "--set", "driveon=1",
                                             midi.getFullPathName(), out.getFullPathName() });
        ASSERT_EQ (result.exitCode, 0) << result.output;
        results[i] = readWav (out);
    }
    ASSERT_FALSE (results[0].empty());
    EXPECT_EQ (results[0], results[1]);
}

TEST (RenderTool, ErrorsSayWhatIsWrongAndLeaveNoFile)
{
    Workspace ws;
    const juce::File midi = ws.writeMidi ({ { 0, juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100) } });
    const juce::File notMidi = ws.folder.getChildFile ("text.mid");
    notMidi.replaceWithText ("this is not a MIDI file");
    const juce::File emptySets = ws.folder.getChildFile ("nosets");
    emptySets.createDirectory();
    const juce::File out = ws.folder.getChildFile ("out.wav");
    const juce::String samples = ws.sets.getFullPathName();

    struct Case
    {
        juce::StringArray args;
        const char* expected;
        juce::File output;
    };
    const Case cases[] = {
        { { "--samples", samples, ws.folder.getChildFile ("missing.mid").getFullPathName(), out.getFullPathName() }, "missing.mid", out },
        { { "--samples", samples, notMidi.getFullPathName(), out.getFullPathName() }, "cannot parse MIDI file", out },
        { { "--samples", emptySets.getFullPathName(), midi.getFullPathName(), out.getFullPathName() }, "silent", out },
        { { "--samples", samples, midi.getFullPathName(), ws.folder.getChildFile ("no/such/dir/out.wav").getFullPathName() }, "cannot write",
          ws.folder.getChildFile ("no/such/dir/out.wav") },
        { { "--samples", samples, "--set", "bogus=1", midi.getFullPathName(), out.getFullPathName() }, "valid: attack", out },
        { { "--samples", samples, "--set", "drivecab=9", midi.getFullPathName(), out.getFullPathName() }, "outside 0..5", out },
        { { "--samples", samples, "--format", "mp3", midi.getFullPathName(), out.getFullPathName() }, "--format", out },
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE (c.expected);
        const ToolResult result = runTool (c.args);
        EXPECT_NE (result.exitCode, 0);
        EXPECT_TRUE (result.output.contains (c.expected)) << result.output;
        EXPECT_EQ (result.output.trim().indexOfChar ('\n'), -1) << "one line: " << result.output;
        EXPECT_FALSE (c.output.exists());
        EXPECT_FALSE (c.output.getSiblingFile ("." + c.output.getFileName() + ".partial").exists());
    }
}
