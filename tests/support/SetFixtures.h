#pragma once

// Builders for sample-set fixtures: zones made of sines, ramps and noise,
// encoded with the set encoder and written into a temporary folder.

#include "samples/SampleSet.h"
#include "samples/SetEncoder.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace setfixtures
{
// A sine of `frequency` Hz at `rate`, `amplitude` in sample units.
inline ZoneSource sineZone (int rootNote, int velocity, size_t length, double frequency = 440.0,
                            double amplitude = 12000.0, uint32_t rate = 44100)
{
    ZoneSource zone;
    zone.rootNote = rootNote;
    zone.velocity = velocity;
    zone.sampleRate = rate;
    zone.samples.resize (length);
    const double step = 2.0 * M_PI * frequency / double (rate);
    for (size_t i = 0; i < length; ++i)
        zone.samples[i] = int16_t (std::lround (amplitude * std::sin (step * double (i))));
    return zone;
}

// A sine whose last `loopLength` samples are its sustain loop.
inline ZoneSource loopedSineZone (int rootNote, int velocity, size_t length, uint32_t loopLength,
                                  uint32_t loopDecay = 0, double frequency = 440.0)
{
    ZoneSource zone = sineZone (rootNote, velocity, length, frequency);
    zone.looped = true;
    zone.loopLength = loopLength;
    zone.loopDecay = loopDecay;
    return zone;
}

// start, start + step, ... wrapping at 16 bits.
inline ZoneSource rampZone (int rootNote, int velocity, size_t length, int start = 0, int step = 1)
{
    ZoneSource zone;
    zone.rootNote = rootNote;
    zone.velocity = velocity;
    zone.samples.resize (length);
    for (size_t i = 0; i < length; ++i)
        zone.samples[i] = int16_t (uint16_t (start + step * (long long) i));
    return zone;
}

// Uniform noise in -amplitude .. +amplitude (the full 16-bit range for 32768).
inline ZoneSource noiseZone (int rootNote, int velocity, size_t length, uint32_t seed, int amplitude = 32768)
{
    ZoneSource zone;
    zone.rootNote = rootNote;
    zone.velocity = velocity;
    zone.samples.resize (length);
    std::mt19937 random (seed);
    std::uniform_int_distribution<int> value (std::max (-amplitude, -32768), std::min (amplitude, 32767));
    for (size_t i = 0; i < length; ++i)
        zone.samples[i] = int16_t (value (random));
    return zone;
}

// Hand-made set files, field by field, for inputs the encoder would never
// write (odd widths, bad headers, cut streams).
struct RawSetBuilder
{
    std::vector<uint8_t> bytes;
    uint64_t bitCount = 0;

    RawSetBuilder (int zoneCount, uint32_t totalSamples, int kind = 0)
    {
        bytes.assign (12, 0);
        bytes[0] = uint8_t (zoneCount);
        for (int i = 0; i < 4; ++i)
            bytes[size_t (1 + i)] = uint8_t (totalSamples >> (8 * i));
        bytes[5] = uint8_t (kind);
        field (0, 6);
    }

    // Appends the low n bits of value, least significant first.
    void field (uint32_t value, int n)
    {
        for (int i = 0; i < n; ++i, ++bitCount)
        {
            if (bitCount % 8 == 0)
                bytes.push_back (0);
            if ((value >> i) & 1u)
                bytes.back() |= uint8_t (1u << (bitCount % 8));
        }
    }

    void zoneHeader (int rootNote, int velocity, uint32_t rate, uint32_t blockCount, int spare = 0)
    {
        field (0, 1);
        field (uint32_t (rootNote), 8);
        field (uint32_t (velocity), 8);
        field (rate, 17);
        field (blockCount, 20);
        field (uint32_t (spare), 1);
    }

    void loopedZoneHeader (int rootNote, int velocity, uint32_t rate, uint32_t blockCount, uint32_t loopLength,
                           uint32_t loopDecay, uint32_t padding, int spare = 0)
    {
        field (1, 1);
        field (uint32_t (rootNote), 8);
        field (uint32_t (velocity), 8);
        field (rate, 17);
        field (blockCount, 20);
        field (uint32_t (spare), 1);
        field (loopLength, 19);
        field (loopDecay, 20);
        field (padding, 7);
    }

    // One block of width n: the given raw values, then zeros up to 64.
    void block (int n, const std::vector<uint32_t>& raws)
    {
        field (uint32_t (n - 1), 4);
        for (size_t i = 0; i < 64; ++i)
            field (i < raws.size() ? raws[i] : 0u, n);
    }

    // The bytes, padded with zeros to at least `minimumSize`.
    std::vector<uint8_t> finish (size_t minimumSize = 16) const
    {
        std::vector<uint8_t> out = bytes;
        if (out.size() < minimumSize)
            out.resize (minimumSize, 0);
        return out;
    }
};

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes.
struct TempFolder
{
    std::string path;

    TempFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "tolvek-test-XXXXXX").string();
        if (::mkdtemp (&pattern[0]) != nullptr)
            path = pattern;
    }
    ~TempFolder()
    {
        if (! path.empty())
        {
            std::error_code ignored;
            std::filesystem::remove_all (path, ignored);
        }
    }
    TempFolder (const TempFolder&) = delete;
    TempFolder& operator= (const TempFolder&) = delete;

    std::string file (const std::string& name) const { return path + "/" + name; }
};

// Encodes `zones`; empty bytes if the encoder refused them.
inline std::vector<uint8_t> encode (const std::vector<ZoneSource>& zones, int kind = 0)
{
    std::vector<uint8_t> bytes;
    if (! encodeSet (zones, kind, bytes).empty())
        bytes.clear();
    return bytes;
}

inline bool writeBytes (const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out (path, std::ios::binary | std::ios::trunc);
    out.write (reinterpret_cast<const char*> (bytes.data()), std::streamsize (bytes.size()));
    return bool (out);
}

// Writes the set as `name` in `folder` and returns its full path, or an empty
// string if the encoder refused the zones.
inline std::string writeSet (const TempFolder& folder, const std::string& name,
                             const std::vector<ZoneSource>& zones, int kind = 0)
{
    const std::string path = folder.file (name);
    return writeSetFile (path, zones, kind).empty() ? path : std::string();
}

// A small set of a few keys, two velocities each, the upper ones looped.
inline std::vector<ZoneSource> smallPianoZones (size_t length = 4096)
{
    std::vector<ZoneSource> zones;
    for (int root : { 36, 48, 60, 72, 84 })
    {
        const double frequency = 440.0 * std::pow (2.0, (root - 69) / 12.0);
        zones.push_back (sineZone (root, 64, length, frequency, 6000.0));
        zones.push_back (loopedSineZone (root, 127, length, uint32_t (length / 4), 2000, frequency));
    }
    return zones;
}

// Decodes a set file; the status of the attempt (malformed if it would not open
// or has no header).
inline SetDecodeStatus decodeFile (const std::string& path, DecodedSet& set, SetFileHeader* header = nullptr)
{
    set = DecodedSet();
    SetFileReader reader;
    SetFileHeader read;
    if (! reader.open (path.c_str()) || ! reader.readHeader (read))
        return SetDecodeStatus::malformed;
    if (header != nullptr)
        *header = read;
    return reader.decode (read, set);
}

inline SetDecodeStatus decodeBytes (const std::vector<uint8_t>& bytes, DecodedSet& set, SetFileHeader* header = nullptr)
{
    set = DecodedSet();
    SetFileReader reader;
    SetFileHeader read;
    if (! reader.openMemory (bytes.data(), bytes.size()) || ! reader.readHeader (read))
        return SetDecodeStatus::malformed;
    if (header != nullptr)
        *header = read;
    return reader.decode (read, set);
}
} // namespace setfixtures
