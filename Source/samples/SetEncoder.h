#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One zone to be written into a set file. For a looped zone the loop is the
// last loopLength samples of `samples` (the zone ends with its loop).
struct ZoneSource
{
    std::vector<int16_t> samples;
    int rootNote = 60;
    int velocity = 127;
    uint32_t sampleRate = 44100;
    bool looped = false;
    uint32_t loopLength = 0;
    uint32_t loopDecay = 0;     // loopGain = 1 - loopDecay / 1e6
    int spareBit = 0;
};

// Why the encoder would refuse this zone (empty text: it can be encoded).
std::string checkZoneSource (const ZoneSource& zone);

// Encodes a whole set into bytes. Returns an empty string on success, else a
// one-line reason (too many zones, rate too high, loop too long, ...).
std::string encodeSet (const std::vector<ZoneSource>& zones, int kind, std::vector<uint8_t>& bytes);

// Encodes and writes atomically: a temporary file beside `path`, then a rename.
// On failure nothing is left at `path` that was not there before.
std::string writeSetFile (const std::string& path, const std::vector<ZoneSource>& zones, int kind);
