#include "samples/SampleSet.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <sys/stat.h>

namespace
{
constexpr long long headerBytes = 12;
constexpr int skippedStreamBits = 6;

// Fewest stream bits a zone header can take (unlooped) and a block can take
// (width 1): used to refuse headers that promise more than the file can hold.
constexpr unsigned long long minZoneHeaderBits = 1 + 8 + 8 + 17 + 20 + 1;
constexpr unsigned long long minBlockBits = 4 + 64;

// Least-significant-bit-first reader over the stream. It refills one 32-bit
// little-endian word only when a field needs more bits than it holds; `left`
// counts only bits that really came from the file, so a field that would need
// bits past the end is seen as such instead of decoding stale bits.
struct StreamBits
{
    std::FILE* file;
    uint64_t holding;
    int left;

    // Reads up to 4 bytes. getc_unlocked is an inline buffer read, which keeps
    // 4-byte refills cheap; the caller holds the stream's lock.
    inline void refill()
    {
        uint64_t word = 0;
        int bytes = 0;
        for (; bytes < 4; ++bytes)
        {
            const int c = getc_unlocked (file);
            if (c == EOF)
                break;
            word |= uint64_t (unsigned (c)) << (8 * bytes);
        }
        holding |= word << left;
        left += 8 * bytes;
    }

    // n is 1..20, so `left` never passes 63 after a refill.
    inline bool read (int n, uint32_t& value)
    {
        if (left < n)
        {
            refill();
            if (left < n)
                return false;
        }
        value = uint32_t (holding) & ((1u << n) - 1u);
        holding >>= n;
        left -= n;
        return true;
    }
};

// Decodes 64 deltas of width n into `out`, carrying the running value.
inline bool decodeBlock (StreamBits& bits, int n, uint16_t& running, short* out)
{
    const uint32_t mask = (1u << n) - 1u;
    // Raw values above the threshold are negative; for n >= 2 the raw value
    // 2^(n-1) itself is positive, and 1-bit values are 0 or -1.
    const uint32_t threshold = n == 1 ? 0u : (1u << (n - 1));
    const uint32_t span = 1u << n;
    uint32_t s = running;
    uint64_t holding = bits.holding;
    int left = bits.left;
    int remaining = 64;

    while (remaining > 0)
    {
        if (left < n)
        {
            bits.holding = holding;
            bits.left = left;
            bits.refill();
            holding = bits.holding;
            left = bits.left;
            if (left < n)
                return false;
        }
        int count = left / n;
        if (count > remaining)
            count = remaining;
        for (int i = 0; i < count; ++i)
        {
            const uint32_t raw = uint32_t (holding) & mask;
            holding >>= n;
            s += raw - (raw > threshold ? span : 0u);
            *out++ = short (uint16_t (s));
        }
        left -= count * n;
        remaining -= count;
    }

    bits.holding = holding;
    bits.left = left;
    running = uint16_t (s);
    return true;
}

// The stream's lock is held across the whole decode so getc_unlocked is safe.
struct StreamLock
{
    std::FILE* file;
    explicit StreamLock (std::FILE* f) : file (f) { flockfile (file); }
    ~StreamLock() { funlockfile (file); }
};
} // namespace

SetFileReader::~SetFileReader()
{
    close();
}

std::atomic<int>& SetFileReader::openCount()
{
    static std::atomic<int> count { 0 };
    return count;
}

bool SetFileReader::open (const char* path)
{
    close();
    if (path == nullptr || path[0] == '\0')
        return false;

    struct stat info;
    if (::stat (path, &info) != 0 || ! S_ISREG (info.st_mode))
        return false;

    file = std::fopen (path, "rb");
    if (file == nullptr)
        return false;

    // Size from the open stream, not the name, in case the name was replaced
    // in between.
    if (::fstat (fileno (file), &info) != 0 || ! S_ISREG (info.st_mode))
    {
        close();
        return false;
    }
    fileSize = (long long) info.st_size;
    openCount().fetch_add (1, std::memory_order_relaxed);
    return true;
}

bool SetFileReader::openMemory (const void* data, std::size_t size)
{
    close();
    // fmemopen refuses a zero size on some C libraries; such a stream holds no
    // header anyway.
    if (data == nullptr || size == 0)
        return false;
    file = ::fmemopen (const_cast<void*> (data), size, "rb");
    if (file == nullptr)
        return false;
    fileSize = (long long) size;
    return true;
}

void SetFileReader::close()
{
    if (file != nullptr)
        std::fclose (file);
    file = nullptr;
    fileSize = 0;
    firstWord = 0;
    firstWordBytes = 0;
    headerRead = false;
}

bool SetFileReader::readHeader (SetFileHeader& header)
{
    header = SetFileHeader();
    headerRead = false;
    if (file == nullptr || fileSize < headerBytes + 4)
        return false;

    uint8_t bytes[headerBytes + 4];
    if (std::fread (bytes, 1, sizeof (bytes), file) != sizeof (bytes))
        return false;

    header.zoneCount = bytes[0];
    header.totalSamples = uint32_t (bytes[1]) | (uint32_t (bytes[2]) << 8)
                        | (uint32_t (bytes[3]) << 16) | (uint32_t (bytes[4]) << 24);
    header.kind = bytes[5];
    firstWord = uint32_t (bytes[12]) | (uint32_t (bytes[13]) << 8)
              | (uint32_t (bytes[14]) << 16) | (uint32_t (bytes[15]) << 24);
    firstWordBytes = 4;
    headerRead = true;
    return true;
}

bool SetFileReader::headerFitsFileSize (const SetFileHeader& header, long long fileSize)
{
    if (fileSize < headerBytes || header.zoneCount < 0)
        return false;
    const unsigned long long streamBits = (unsigned long long) (fileSize - headerBytes) * 8u;
    const unsigned long long leastBits = skippedStreamBits
                                       + minZoneHeaderBits * (unsigned long long) header.zoneCount
                                       + minBlockBits * (header.totalSamples / 64u);
    return leastBits <= streamBits;
}

SetDecodeStatus SetFileReader::decode (const SetFileHeader& header, DecodedSet& out, ZoneStreamInfo* info)
{
    out = DecodedSet();
    if (file == nullptr || ! headerRead)
        return SetDecodeStatus::malformed;
    headerRead = false;

    if (header.zoneCount <= 0 || header.totalSamples == 0)
        return SetDecodeStatus::empty;
    if (header.zoneCount > 255)
        return SetDecodeStatus::malformed;

    // Nothing is allocated that the file cannot fill.
    if (! headerFitsFileSize (header, fileSize))
        return SetDecodeStatus::malformed;

    std::unique_ptr<short[]> samples (new (std::nothrow) short[header.totalSamples]);
    std::unique_ptr<tableDataType[]> table (new (std::nothrow) tableDataType[header.zoneCount]);
    if (samples == nullptr || table == nullptr)
        return SetDecodeStatus::malformed;

    StreamLock lock (file);
    StreamBits bits { file, uint64_t (firstWord >> skippedStreamBits), 8 * firstWordBytes - skippedStreamBits };

    const unsigned long long capacity = header.totalSamples;
    unsigned long long written = 0;

    for (int z = 0; z < header.zoneCount; ++z)
    {
        uint32_t looped, rootNote, velocity, sampleRate, blockCount, spare;
        if (! bits.read (1, looped) || ! bits.read (8, rootNote) || ! bits.read (8, velocity)
            || ! bits.read (17, sampleRate) || ! bits.read (20, blockCount) || ! bits.read (1, spare))
            return SetDecodeStatus::malformed;

        const unsigned long long zoneSamples = 64ull * blockCount;
        if (zoneSamples > capacity - written)
            return SetDecodeStatus::malformed;

        tableDataType& zone = table[z];
        zone.rootNote = uint8_t (rootNote);
        zone.velocity = uint8_t (velocity);
        zone.looped = looped != 0;
        zone.samplePeriod = 1.0 / double (sampleRate);
        zone.spareBit = uint8_t (spare);
        zone.length = uint32_t (zoneSamples);
        zone.data = samples.get() + written;

        uint32_t decayRead = 0, paddingRead = 0;
        if (zone.looped)
        {
            uint32_t loopLength, loopDecay, padding;
            if (! bits.read (19, loopLength) || ! bits.read (20, loopDecay) || ! bits.read (7, padding))
                return SetDecodeStatus::malformed;
            if (padding > zoneSamples)
                return SetDecodeStatus::malformed;
            zone.length = uint32_t (zoneSamples - padding);
            if (loopLength == 0 || loopLength > zone.length)
                return SetDecodeStatus::malformed;
            zone.loopLength = loopLength;
            zone.loopGain = double (1.0f + float (loopDecay) / -1000000.0f);
            decayRead = loopDecay;
            paddingRead = padding;
        }

        short* target = samples.get() + written;
        uint16_t running = 0;
        int minWidth = 16, maxWidth = 0;
        for (uint32_t b = 0; b < blockCount; ++b)
        {
            uint32_t widthCode;
            if (! bits.read (4, widthCode) || ! decodeBlock (bits, int (widthCode) + 1, running, target))
                return SetDecodeStatus::malformed;
            target += 64;
            minWidth = std::min (minWidth, int (widthCode) + 1);
            maxWidth = std::max (maxWidth, int (widthCode) + 1);
        }
        written += zoneSamples;

        if (info != nullptr)
        {
            ZoneStreamInfo& details = info[z];
            details = ZoneStreamInfo();
            details.sampleRate = sampleRate;
            details.blockCount = blockCount;
            details.minWidth = blockCount > 0 ? minWidth : 0;
            details.maxWidth = maxWidth;
            if (zone.looped)
            {
                details.loopDecay = decayRead;
                details.padding = paddingRead;
            }
        }
    }

    // Samples the header counts beyond the zones are never played; keep them
    // defined.
    if (written < capacity)
        std::memset (samples.get() + written, 0, size_t (capacity - written) * sizeof (short));

    out.samples = std::move (samples);
    out.table = std::move (table);
    out.zoneCount = short (header.zoneCount);
    return SetDecodeStatus::ok;
}
