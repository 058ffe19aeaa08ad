#include "samples/SetEncoder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
constexpr uint32_t maxSampleRate = (1u << 17) - 1u;
constexpr uint32_t loopLengthLimit = 1u << 19;
constexpr uint32_t loopDecayLimit = 1u << 20;
constexpr uint32_t blockCountLimit = 1u << 20;

// Appends fields least significant bit first.
struct BitWriter
{
    std::vector<uint8_t>& bytes;
    uint64_t pending = 0;
    int pendingBits = 0;

    void write (uint32_t value, int n)
    {
        pending |= uint64_t (value & ((n == 32 ? 0u : (1u << n)) - 1u)) << pendingBits;
        pendingBits += n;
        while (pendingBits >= 8)
        {
            bytes.push_back (uint8_t (pending));
            pending >>= 8;
            pendingBits -= 8;
        }
    }

    void finish()
    {
        if (pendingBits > 0)
            bytes.push_back (uint8_t (pending));
        pending = 0;
        pendingBits = 0;
    }
};

// The decoder's delta for a step between two 16-bit samples: the step taken
// modulo 65536, as the representative a width can hold (-32767 .. +32768).
inline int deltaFor (uint16_t from, uint16_t to)
{
    const int step = int (uint16_t (to - from));
    return step <= 32768 ? step : step - 65536;
}

// Narrowest width n for which the decoder reads `delta` back: n = 1 holds
// 0 and -1, n >= 2 holds -(2^(n-1) - 1) .. +2^(n-1).
inline int widthFor (int delta)
{
    if (delta == 0 || delta == -1)
        return 1;
    // Smallest n >= 2 with 2^(n-1) >= bound.
    const unsigned bound = delta > 0 ? unsigned (delta) : unsigned (1 - delta);
    if (bound <= 2)
        return 2;
    return 1 + (32 - __builtin_clz (bound - 1u));
}
} // namespace

std::string checkZoneSource (const ZoneSource& zone)
{
    const size_t length = zone.samples.size();
    if (length == 0)
        return "has no samples";
    if (zone.rootNote < 0 || zone.rootNote > 255)
        return "root note " + std::to_string (zone.rootNote) + " is outside 0..255";
    if (zone.velocity < 0 || zone.velocity > 255)
        return "velocity " + std::to_string (zone.velocity) + " is outside 0..255";
    if (zone.sampleRate == 0 || zone.sampleRate > maxSampleRate)
        return "sample rate " + std::to_string (zone.sampleRate) + " Hz is outside 1..131071 Hz";
    if (zone.spareBit != 0 && zone.spareBit != 1)
        return "spare bit must be 0 or 1";

    const size_t blocks = (length + 63) / 64;
    if (blocks >= blockCountLimit)
        return std::to_string (length) + " samples need "
             + std::to_string (blocks) + " blocks, more than 1048575";

    if (zone.looped)
    {
        if (zone.loopLength == 0)
            return "loop length 0";
        if (zone.loopLength >= loopLengthLimit)
            return "loop length " + std::to_string (zone.loopLength)
                 + " does not fit 19 bits (at most 524287)";
        if (zone.loopLength > length)
            return "loop length " + std::to_string (zone.loopLength)
                 + " is longer than the zone's " + std::to_string (length) + " samples";
        if (zone.loopDecay >= loopDecayLimit)
            return "loop decay " + std::to_string (zone.loopDecay)
                 + " does not fit 20 bits (at most 1048575)";
    }
    return {};
}

namespace
{
// The zone's samples padded to whole blocks. A looped zone's padding repeats
// its loop from the start, so the deltas stay as small as inside the loop; an
// unlooped zone fades linearly to 0, so the extra samples (which do play)
// end in silence rather than on a step.
void padZone (const ZoneSource& zone, std::vector<int16_t>& padded)
{
    const size_t length = zone.samples.size();
    const size_t total = (length + 63) / 64 * 64;
    padded.assign (zone.samples.begin(), zone.samples.end());
    padded.resize (total);
    if (zone.looped)
    {
        const size_t loopStart = length - zone.loopLength;
        for (size_t i = length; i < total; ++i)
            padded[i] = zone.samples[loopStart + (i - length) % zone.loopLength];
    }
    else
    {
        const long long last = zone.samples[length - 1];
        const long long steps = (long long) (total - length);
        for (size_t i = length; i < total; ++i)
            padded[i] = int16_t (last * (steps - (long long) (i - length + 1)) / steps);
    }
}

void encodeZone (const ZoneSource& zone, const std::vector<int16_t>& padded, BitWriter& bits)
{
    const uint32_t blockCount = uint32_t (padded.size() / 64);
    bits.write (zone.looped ? 1u : 0u, 1);
    bits.write (uint32_t (zone.rootNote), 8);
    bits.write (uint32_t (zone.velocity), 8);
    bits.write (zone.sampleRate, 17);
    bits.write (blockCount, 20);
    bits.write (uint32_t (zone.spareBit), 1);
    if (zone.looped)
    {
        bits.write (zone.loopLength, 19);
        bits.write (zone.loopDecay, 20);
        bits.write (uint32_t (padded.size() - zone.samples.size()), 7);
    }

    uint16_t running = 0;
    int deltas[64];
    for (uint32_t b = 0; b < blockCount; ++b)
    {
        const int16_t* block = padded.data() + size_t (b) * 64;
        int width = 1;
        for (int i = 0; i < 64; ++i)
        {
            const uint16_t value = uint16_t (block[i]);
            deltas[i] = deltaFor (running, value);
            running = value;
            const int w = widthFor (deltas[i]);
            if (w > width)
                width = w;
        }
        bits.write (uint32_t (width - 1), 4);
        // Negative deltas go out as their n-bit two's-complement pattern, which
        // the decoder reads back as above its threshold.
        for (int i = 0; i < 64; ++i)
            bits.write (uint32_t (deltas[i]), width);
    }
}
} // namespace

std::string encodeSet (const std::vector<ZoneSource>& zones, int kind, std::vector<uint8_t>& bytes)
{
    bytes.clear();
    if (zones.size() > 255)
        return "too many zones: " + std::to_string (zones.size()) + " (a set holds at most 255)";
    if (kind < 0 || kind > 255)
        return "kind " + std::to_string (kind) + " is outside 0..255";

    unsigned long long totalSamples = 0;
    for (size_t z = 0; z < zones.size(); ++z)
    {
        std::string problem = checkZoneSource (zones[z]);
        if (! problem.empty())
            return "zone " + std::to_string (z) + ": " + problem;
        totalSamples += (zones[z].samples.size() + 63) / 64 * 64;
    }
    if (totalSamples > 0xffffffffull)
        return "too many samples in the set: " + std::to_string (totalSamples) + " (at most 4294967295)";

    bytes.reserve (16 + size_t (totalSamples) * 2);
    bytes.push_back (uint8_t (zones.size()));
    for (int i = 0; i < 4; ++i)
        bytes.push_back (uint8_t (totalSamples >> (8 * i)));
    bytes.push_back (uint8_t (kind));
    bytes.insert (bytes.end(), 6, uint8_t (0));

    BitWriter bits { bytes };
    bits.write (0, 6);
    std::vector<int16_t> padded;
    for (const ZoneSource& zone : zones)
    {
        padZone (zone, padded);
        encodeZone (zone, padded, bits);
    }
    bits.finish();

    // The reader wants the header and one whole stream word.
    while (bytes.size() < 16)
        bytes.push_back (0);
    return {};
}

std::string writeSetFile (const std::string& path, const std::vector<ZoneSource>& zones, int kind)
{
    std::vector<uint8_t> bytes;
    std::string problem = encodeSet (zones, kind, bytes);
    if (! problem.empty())
        return problem;

    if (path.empty())
        return "no output file name";

    std::string temporary = path + ".tmp-XXXXXX";
    const int fd = ::mkstemp (&temporary[0]);
    if (fd < 0)
        return "cannot create " + temporary + ": " + std::strerror (errno);

    auto fail = [&] (const std::string& what) {
        const std::string reason = what + ": " + std::strerror (errno);
        ::close (fd);
        ::unlink (temporary.c_str());
        return reason;
    };

    size_t done = 0;
    while (done < bytes.size())
    {
        const ssize_t n = ::write (fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail ("cannot write " + temporary);
        done += size_t (n);
    }
    if (::fchmod (fd, 0644) != 0)
        return fail ("cannot set permissions of " + temporary);
    if (::fsync (fd) != 0)
        return fail ("cannot flush " + temporary);
    if (::close (fd) != 0)
    {
        const std::string reason = "cannot close " + temporary + ": " + std::strerror (errno);
        ::unlink (temporary.c_str());
        return reason;
    }
    if (::rename (temporary.c_str(), path.c_str()) != 0)
    {
        const std::string reason = "cannot rename " + temporary + " to " + path + ": " + std::strerror (errno);
        ::unlink (temporary.c_str());
        return reason;
    }
    return {};
}
