#pragma once

#include <atomic>
#include <cstdint>
#include <cstddef>
#include <cstdio>
#include <memory>

// One zone of a loaded sample set. The zones' samples lie one after another in
// the set's single sample buffer; `data` points at the zone's first sample.
struct tableDataType
{
    uint8_t rootNote = 0;
    uint8_t velocity = 0;
    bool looped = false;
    uint32_t loopLength = 0;     // the last loopLength samples of the zone; only when looped
    double loopGain = 1.0;       // gain factor per loop pass; only when looped
    double samplePeriod = 0.0;   // 1 / zone sample rate
    uint32_t length = 0;         // samples that play
    uint8_t spareBit = 0;        // stored, never used by playback
    const short* data = nullptr;
};

// The 12-byte file header.
struct SetFileHeader
{
    int zoneCount = 0;          // 0..255
    uint32_t totalSamples = 0;  // samples of all zones together
    int kind = 0;               // 2: the set is played with "tines.tin"
};

enum class SetDecodeStatus
{
    ok,         // set decoded
    empty,      // zone count or sample count 0: nothing allocated
    malformed   // refused: nothing kept
};

// A decoded set: exactly two heap arrays, owned here until handed on.
struct DecodedSet
{
    std::unique_ptr<short[]> samples;
    std::unique_ptr<tableDataType[]> table;
    short zoneCount = 0;
};

// What the stream said about one zone beyond its table record (for tools).
struct ZoneStreamInfo
{
    uint32_t sampleRate = 0;
    uint32_t blockCount = 0;
    uint32_t loopDecay = 0;
    uint32_t padding = 0;
    int minWidth = 0;           // narrowest and widest block, in bits per delta
    int maxWidth = 0;
};

// Reads one set file in a single pass, 4 bytes at a time, as the bit reader
// needs them. Usage: open, readHeader, then (possibly after loading another
// set in between) decode.
class SetFileReader
{
public:
    SetFileReader() = default;
    ~SetFileReader();
    SetFileReader (const SetFileReader&) = delete;
    SetFileReader& operator= (const SetFileReader&) = delete;

    // False when the path names no regular file or it cannot be opened.
    bool open (const char* path);

    // Reads a set from memory (a stdio stream over the bytes, so the same
    // decoding path runs). Does not count in openCount(). The bytes must stay
    // alive until close().
    bool openMemory (const void* data, std::size_t size);

    // Reads the header and the first word of the bit stream. False for a file
    // shorter than 16 bytes.
    bool readHeader (SetFileHeader& header);

    // Decodes all zones. On anything but ok, `out` is left empty. `info`, when
    // given, has room for header.zoneCount records and receives each zone's
    // stream details.
    SetDecodeStatus decode (const SetFileHeader& header, DecodedSet& out, ZoneStreamInfo* info = nullptr);

    void close();

    // False when a file of `fileSize` bytes cannot hold the zone headers and
    // the blocks of header.totalSamples samples (each 64 take at least 68
    // bits); decode() refuses such a header before allocating anything.
    static bool headerFitsFileSize (const SetFileHeader& header, long long fileSize);

    // Number of successful opens since program start (lets tests count real file reads).
    static std::atomic<int>& openCount();

private:
    std::FILE* file = nullptr;
    long long fileSize = 0;
    uint32_t firstWord = 0;
    int firstWordBytes = 0;     // bytes of the first stream word actually present
    bool headerRead = false;    // decode() needs a header and runs once
};
