#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A WAV file as the set tools read it: PCM 8/16/24/32-bit or 32-bit float,
// mono or stereo, and the first loop of a 'smpl' chunk.
struct WavAudio
{
    uint32_t sampleRate = 0;
    int channels = 0;
    int bitsPerSample = 0;
    bool floatingPoint = false;
    // Interleaved frames scaled to 16-bit units (full scale is +-32768);
    // exact for every integer format.
    std::vector<double> frames;

    bool hasLoop = false;
    uint32_t loopStart = 0;     // first sample of the loop
    uint32_t loopEnd = 0;       // one past its last sample

    size_t frameCount() const { return channels > 0 ? frames.size() / size_t (channels) : 0; }
};

enum class WavChannel
{
    left,
    right,
    mix         // average of both
};

// Empty on success, else a one-line reason (without the file name).
std::string readWavFile (const std::string& path, WavAudio& audio);

// One channel as 16-bit samples, rounded to nearest (halves away from zero)
// and clipped. A mono file gives its only channel whatever `channel` says.
std::vector<int16_t> wavTo16BitMono (const WavAudio& audio, WavChannel channel);

// Writes 16-bit mono PCM; with a loop (end exclusive) a 'smpl' chunk holding
// it and the root note. Empty on success, else a one-line reason.
std::string writeWavFile16 (const std::string& path, const std::vector<int16_t>& samples, uint32_t sampleRate,
                            bool looped = false, uint32_t loopStart = 0, uint32_t loopEnd = 0, int rootNote = 60);
