#pragma once

#include <juce_core/juce_core.h>

struct RenderOptions
{
    juce::String midiFile, outputFile, sampleFolder, stateFile, saveStateFile;
    juce::StringArray parameterSettings;   // "id=value", plain values
    juce::String setName;                  // picks `program` by the set's file name
    double sampleRate = 48000.0;
    int blockSize = 512;
    double tailSeconds = 3.0;
    bool splitAtEvents = true;
    juce::String format = "pcm24";
    bool mono = false;
    bool quiet = false;
    bool showProgress = false;
};

struct RenderSummary
{
    double seconds = 0, peakDb = -200, rmsDb = -200, speed = 0;
    int channels = 2;
    double sampleRate = 48000;
    juce::String format;
    juce::String describe() const;
};

// Renders the whole file and writes the WAV (through a temporary file, renamed
// at the end, so no partial output is ever left). On failure returns false with
// a one-line reason naming the file or option.
bool renderMidiFile (const RenderOptions& options, RenderSummary& summary, juce::String& error);
