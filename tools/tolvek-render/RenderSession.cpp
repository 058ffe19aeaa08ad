#include "RenderSession.h"
#include "PluginProcessor.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <chrono>
#include <cmath>
#include <cstdio>

namespace
{
struct TimedEvent
{
    int64_t sample;
    juce::MidiMessage message;
};

juce::String describeValidParameters (TolvekAudioProcessor& processor)
{
    juce::StringArray lines;
    for (auto* p : processor.getParameters())
    {
        auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (p);
        const auto& range = ranged->getNormalisableRange();
        lines.add (ranged->paramID + " (" + juce::String (range.start) + ".." + juce::String (range.end) + ")");
    }
    return lines.joinIntoString (", ");
}

bool applySetting (TolvekAudioProcessor& processor, const juce::String& setting, juce::String& error)
{
    const juce::String id = setting.upToFirstOccurrenceOf ("=", false, false).trim();
    const juce::String text = setting.fromFirstOccurrenceOf ("=", false, false).trim();
    auto* param = processor.getParameterById (id);
    if (param == nullptr)
    {
        error = "--set: unknown parameter '" + id + "'; valid: " + describeValidParameters (processor);
        return false;
    }

    double value = 0;
    if (text == "true" || text == "on")
        value = 1;
    else if (text == "false" || text == "off")
        value = 0;
    else if (text.isNotEmpty() && text.containsOnly ("0123456789.-+eE"))
        value = text.getDoubleValue();
    else
    {
        error = "--set " + id + ": '" + text + "' is not a number";
        return false;
    }

    const auto& range = param->getNormalisableRange();
    const bool isWhole = dynamic_cast<juce::AudioParameterInt*> (param) != nullptr
                      || dynamic_cast<juce::AudioParameterBool*> (param) != nullptr;
    if (value < range.start || value > range.end || (isWhole && value != std::floor (value)))
    {
        error = "--set " + id + ": " + text + " is outside " + juce::String (range.start) + ".." + juce::String (range.end)
              + (isWhole ? " (whole numbers)" : "");
        return false;
    }
    param->setValueNotifyingHost (param->convertTo0to1 ((float) value));
    return true;
}

bool readMidi (const juce::String& path, double sampleRate, std::vector<TimedEvent>& events, juce::String& error)
{
    const juce::File file = juce::File::getCurrentWorkingDirectory().getChildFile (path);
    if (! file.existsAsFile())
    {
        error = "cannot read MIDI file " + path + ": no such file";
        return false;
    }
    juce::FileInputStream stream (file);
    if (! stream.openedOk())
    {
        error = "cannot read MIDI file " + path + ": " + stream.getStatus().getErrorMessage();
        return false;
    }
    juce::MidiFile midi;
    if (! midi.readFrom (stream, true) || midi.getTimeFormat() == 0)
    {
        error = "cannot parse MIDI file " + path + ": not a standard MIDI file";
        return false;
    }
    midi.convertTimestampTicksToSeconds();

    juce::MidiMessageSequence merged;
    for (int t = 0; t < midi.getNumTracks(); ++t)
        merged.addSequence (*midi.getTrack (t), 0.0);
    merged.sort();

    for (int i = 0; i < merged.getNumEvents(); ++i)
    {
        const juce::MidiMessage& m = merged.getEventPointer (i)->message;
        if (m.isMetaEvent() || m.isSysEx())
            continue;
        events.push_back ({ (int64_t) std::llround (m.getTimeStamp() * sampleRate), m });
    }
    return true;
}

bool writeStateFile (TolvekAudioProcessor& processor, const juce::String& path, juce::String& error)
{
    juce::MemoryBlock state;
    processor.getStateInformation (state);
    const juce::File file = juce::File::getCurrentWorkingDirectory().getChildFile (path);
    if (! file.replaceWithData (state.getData(), state.getSize()))
    {
        error = "cannot write state file " + path;
        return false;
    }
    return true;
}

double toDb (double level) { return level > 0 ? 20.0 * std::log10 (level) : -200.0; }

void showProgress (double done, double total, double speed)
{
    const int width = 30;
    const double fraction = total > 0 ? juce::jlimit (0.0, 1.0, done / total) : 1.0;
    const int filled = (int) (fraction * width);
    std::fprintf (stderr, "\r[%.*s%*s] %3d%%  %7.2f s  %6.1fx real time", filled, "##############################",
                  width - filled, "", (int) (fraction * 100.0), done, speed);
    std::fflush (stderr);
}
} // namespace

juce::String RenderSummary::describe() const
{
    return juce::String (seconds, 2) + " s, " + juce::String (channels) + " ch, " + juce::String ((int) sampleRate) + " Hz, "
         + format + ": peak " + juce::String (peakDb, 1) + " dBFS, RMS " + juce::String (rmsDb, 1) + " dBFS, "
         + juce::String (speed, 1) + "x real time";
}

bool renderMidiFile (const RenderOptions& options, RenderSummary& summary, juce::String& error)
{
    std::vector<TimedEvent> events;
    if (! readMidi (options.midiFile, options.sampleRate, events, error))
        return false;

    const juce::File folder = juce::File::getCurrentWorkingDirectory().getChildFile (options.sampleFolder);
    if (SamplePath::listSets (folder).isEmpty())
    {
        error = "no sample sets (*.rks) in " + options.sampleFolder + ": the output would be silent";
        return false;
    }

    const juce::File output = juce::File::getCurrentWorkingDirectory().getChildFile (options.outputFile);
    if (output.isDirectory() || ! output.getParentDirectory().isDirectory())
    {
        error = "cannot write " + options.outputFile + ": no such folder";
        return false;
    }

    auto processorOwner = std::make_unique<TolvekAudioProcessor> (folder.getFullPathName());

    auto& processor = *processorOwner;
    processor.setRateAndBufferSizeDetails (options.sampleRate, options.blockSize);

    if (options.stateFile.isNotEmpty())
    {
        juce::MemoryBlock state;
        const juce::File stateFile = juce::File::getCurrentWorkingDirectory().getChildFile (options.stateFile);
        if (! stateFile.loadFileAsData (state))
        {
            error = "cannot read state file " + options.stateFile;
            return false;
        }
        processor.setStateInformation (state.getData(), (int) state.getSize());
    }
    for (const auto& setting : options.parameterSettings)
        if (! applySetting (processor, setting, error))
            return false;
    if (options.setName.isNotEmpty())
    {
        const juce::StringArray sets = SamplePath::listSets (folder);
        const int position = sets.indexOf (options.setName);
        if (position < 0)
        {
            error = "--sample-set: no set '" + options.setName + "' in " + options.sampleFolder + "; sets: " + sets.joinIntoString (", ");
            return false;
        }
        *processor.program = position;
    }
    if (options.saveStateFile.isNotEmpty() && ! writeStateFile (processor, options.saveStateFile, error))
        return false;

    processor.prepareToPlay (options.sampleRate, options.blockSize);

    const int64_t lastEvent = events.empty() ? 0 : events.back().sample;
    const int64_t totalSamples = lastEvent + (int64_t) std::llround (options.tailSeconds * options.sampleRate);
    const int outChannels = options.mono ? 1 : 2;

    juce::AudioBuffer<float> rendered (2, (int) juce::jmax<int64_t> (1, totalSamples));
    rendered.clear();
    juce::AudioBuffer<float> block (2, options.blockSize);
    juce::MidiBuffer midi;

    const auto started = std::chrono::steady_clock::now();
    auto lastProgress = started;
    size_t nextEvent = 0;
    int64_t position = 0;
    while (position < totalSamples)
    {
        int64_t length = juce::jmin<int64_t> (options.blockSize, totalSamples - position);
        if (options.splitAtEvents && nextEvent < events.size() && events[nextEvent].sample > position)
            length = juce::jmin (length, events[nextEvent].sample - position);

        midi.clear();
        while (nextEvent < events.size() && events[nextEvent].sample < position + length)
        {
            const int offset = (int) juce::jmax<int64_t> (0, events[nextEvent].sample - position);
            midi.addEvent (events[nextEvent].message, offset);
            ++nextEvent;
        }

        block.setSize (2, (int) length, false, false, true);
        block.clear();
        processor.processBlock (block, midi);
        for (int ch = 0; ch < 2; ++ch)
            rendered.copyFrom (ch, (int) position, block, ch, 0, (int) length);
        position += length;

        if (options.showProgress)
        {
            const auto now = std::chrono::steady_clock::now();
            if (now - lastProgress > std::chrono::milliseconds (100))
            {
                lastProgress = now;
                const double elapsed = std::chrono::duration<double> (now - started).count();
                showProgress ((double) position / options.sampleRate, (double) totalSamples / options.sampleRate,
                              elapsed > 0 ? (double) position / options.sampleRate / elapsed : 0.0);
            }
        }
    }
    const double elapsed = std::chrono::duration<double> (std::chrono::steady_clock::now() - started).count();
    processor.releaseResources();
    if (options.showProgress)
    {
        showProgress ((double) totalSamples / options.sampleRate, (double) totalSamples / options.sampleRate,
                      elapsed > 0 ? (double) totalSamples / options.sampleRate / elapsed : 0.0);
        std::fputc ('\n', stderr);
    }

    // Write beside the target and rename, so a failed write leaves nothing behind.
    const juce::File temporary = output.getSiblingFile ("." + output.getFileName() + ".partial");
    {
        temporary.deleteFile();
        std::unique_ptr<juce::FileOutputStream> stream (temporary.createOutputStream());
        if (stream == nullptr || ! stream->openedOk())
        {
            temporary.deleteFile();
            error = "cannot write " + options.outputFile;
            return false;
        }
        const int bits = options.format == "pcm16" ? 16 : options.format == "pcm24" ? 24 : 32;
        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatWriter> writer (wav.createWriterFor (stream.get(), options.sampleRate,
                                                                              (unsigned int) outChannels, bits, {}, 0));
        if (writer == nullptr)
        {
            temporary.deleteFile();
            error = "cannot write " + options.outputFile + ": unsupported format";
            return false;
        }
        stream.release();   // the writer owns it now
        const bool ok = writer->writeFromAudioSampleBuffer (rendered, 0, (int) totalSamples);
        writer.reset();
        if (! ok)
        {
            temporary.deleteFile();
            error = "cannot write " + options.outputFile + ": write failed";
            return false;
        }
    }
    if (! temporary.moveFileTo (output))
    {
        temporary.deleteFile();
        error = "cannot write " + options.outputFile;
        return false;
    }

    double peak = 0, sumSquares = 0;
    for (int i = 0; i < (int) totalSamples; ++i)
    {
        const double v = rendered.getSample (0, i);
        peak = juce::jmax (peak, std::abs (v));
        sumSquares += v * v;
    }
    summary.seconds = (double) totalSamples / options.sampleRate;
    summary.peakDb = toDb (peak);
    summary.rmsDb = toDb (totalSamples > 0 ? std::sqrt (sumSquares / (double) totalSamples) : 0.0);
    summary.speed = elapsed > 0 ? summary.seconds / elapsed : 0.0;
    summary.channels = outChannels;
    summary.sampleRate = options.sampleRate;
    summary.format = options.format;
    return true;
}
