// Set encoder: bit-exact round trips through the decoder, the narrowest block
// widths, refusals and the atomic file write.

#include "SetFixtures.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fstream>
#include <sys/stat.h>

using namespace setfixtures;

namespace
{
// The decoder's rule, written out on its own: raw r of n bits to a delta.
int decodedDelta (uint32_t r, int n)
{
    const uint32_t threshold = n == 1 ? 0u : (1u << (n - 1));
    return r > threshold ? int (r) - (1 << n) : int (r);
}

// For every step between 16-bit samples (taken modulo 65536), the narrowest
// width whose raw values reach it, found by trying them all.
const std::vector<int>& narrowestWidths()
{
    static const std::vector<int> widths = [] {
        std::vector<int> w (65536, 0);
        for (int n = 16; n >= 1; --n)
            for (uint32_t r = 0; r < (1u << n); ++r)
                w[uint16_t (decodedDelta (r, n))] = n;
        return w;
    }();
    return widths;
}

ZoneSource zoneOf (std::vector<int16_t> samples, bool looped = false, uint32_t loopLength = 0)
{
    ZoneSource zone;
    zone.samples = std::move (samples);
    zone.looped = looped;
    zone.loopLength = loopLength;
    return zone;
}

std::vector<int16_t> repeated (std::initializer_list<int> pattern, size_t length)
{
    std::vector<int16_t> out;
    while (out.size() < length)
        for (int v : pattern)
            if (out.size() < length)
                out.push_back (int16_t (v));
    return out;
}

std::vector<ZoneStreamInfo> decodeWithDetails (const std::vector<uint8_t>& bytes, DecodedSet& set)
{
    SetFileReader reader;
    SetFileHeader header;
    std::vector<ZoneStreamInfo> details;
    if (! reader.openMemory (bytes.data(), bytes.size()) || ! reader.readHeader (header))
        return details;
    details.resize (size_t (header.zoneCount));
    if (reader.decode (header, set, details.data()) != SetDecodeStatus::ok)
        details.clear();
    return details;
}

// Encodes, decodes and checks every field and sample of every zone.
void expectRoundTrip (const std::vector<ZoneSource>& zones, int kind = 0)
{
    std::vector<uint8_t> bytes;
    ASSERT_EQ (encodeSet (zones, kind, bytes), "");
    DecodedSet set;
    SetFileHeader header;
    ASSERT_EQ (decodeBytes (bytes, set, &header), zones.empty() ? SetDecodeStatus::empty : SetDecodeStatus::ok);
    EXPECT_EQ (header.kind, kind);
    EXPECT_EQ (header.zoneCount, int (zones.size()));
    if (zones.empty())
        return;

    uint32_t total = 0;
    for (const ZoneSource& z : zones)
        total += uint32_t ((z.samples.size() + 63) / 64 * 64);
    EXPECT_EQ (header.totalSamples, total);

    const short* next = set.samples.get();
    for (size_t z = 0; z < zones.size(); ++z)
    {
        SCOPED_TRACE ("zone " + std::to_string (z));
        const ZoneSource& source = zones[z];
        const tableDataType& zone = set.table[z];
        const size_t length = source.samples.size();
        const size_t stored = (length + 63) / 64 * 64;
        EXPECT_EQ (zone.data, next);
        EXPECT_EQ (zone.rootNote, source.rootNote);
        EXPECT_EQ (zone.velocity, source.velocity);
        EXPECT_EQ (zone.samplePeriod, 1.0 / double (source.sampleRate));
        EXPECT_EQ (zone.spareBit, source.spareBit);
        EXPECT_EQ (zone.looped, source.looped);
        for (size_t i = 0; i < length; ++i)
            ASSERT_EQ (zone.data[i], source.samples[i]) << "sample " << i;
        if (source.looped)
        {
            EXPECT_EQ (zone.length, length);
            EXPECT_EQ (zone.loopLength, source.loopLength);
            EXPECT_EQ (zone.loopGain, double (1.0f + float (source.loopDecay) / -1000000.0f));
            // The padding continues the loop.
            const size_t loopStart = length - source.loopLength;
            for (size_t i = length; i < stored; ++i)
                ASSERT_EQ (zone.data[i], source.samples[loopStart + (i - length) % source.loopLength]) << i;
        }
        else
        {
            EXPECT_EQ (zone.length, stored);
            // The padding plays: it fades to silence.
            if (stored > length)
                EXPECT_EQ (zone.data[stored - 1], 0);
            for (size_t i = length; i < stored; ++i)
                ASSERT_LE (std::abs (zone.data[i]), std::abs (source.samples[length - 1])) << i;
        }
        next += stored;
    }
}
} // namespace

TEST (SamplesEncoder, RoundTripsBitExactly)
{
    struct Case
    {
        const char* what;
        std::vector<ZoneSource> zones;
    };
    ZoneSource looped = loopedSineZone (72, 127, 1000, 333, 5000);
    ZoneSource rateAndSpare = sineZone (30, 1, 200, 50.0, 32767.0, 131071);
    rateAndSpare.spareBit = 1;
    ZoneSource minimum = rampZone (0, 0, 1, -7);
    minimum.sampleRate = 1;

    const Case cases[] = {
        { "no zones", {} },
        { "full-range noise", { noiseZone (60, 100, 4096, 1) } },
        { "plus-minus-one noise", { noiseZone (60, 100, 999, 2, 1) } },
        { "full-range jumps", { zoneOf (repeated ({ -32768, 32767, 0, 32767, -32768, -1, 32768 - 1 }, 640)) } },
        { "half-range jumps", { zoneOf (repeated ({ 0, -32768, 0, 32767, 1, -32767 }, 700)) } },
        { "constants", { zoneOf (repeated ({ 0 }, 128)), zoneOf (repeated ({ 32767 }, 65)), zoneOf (repeated ({ -32768 }, 63)) } },
        { "ramps across the wrap", { rampZone (60, 100, 1000, 32000, 7), rampZone (61, 100, 300, -32000, -301) } },
        { "odd lengths", { sineZone (60, 1, 1), sineZone (61, 2, 63), sineZone (62, 3, 64), sineZone (63, 4, 65) } },
        { "looped", { looped, loopedSineZone (40, 20, 64, 64), loopedSineZone (41, 21, 65, 1, 1000000) } },
        { "loop shorter than its padding", { loopedSineZone (40, 20, 130, 3, 17) } },
        { "looped noise", { zoneOf (noiseZone (0, 0, 777, 3).samples, true, 500) } },
        { "rate, spare bit and extremes", { rateAndSpare, minimum, rampZone (255, 255, 64) } },
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE (c.what);
        expectRoundTrip (c.zones, 0);
    }
    expectRoundTrip (smallPianoZones(), 2);
    expectRoundTrip ({ sineZone (60, 100, 100) }, 255);
}

TEST (SamplesEncoder, RoundTripsTheMostZones)
{
    std::vector<ZoneSource> zones;
    for (int z = 0; z < 255; ++z)
    {
        ZoneSource zone = (z % 3 == 0) ? noiseZone (z, 255 - z, size_t (1 + z * 7), uint32_t (z), 1 << (z % 16))
                        : (z % 3 == 1) ? sineZone (z, z, size_t (64 + z), 100.0 + z, 100.0 * z)
                                       : loopedSineZone (z, z, size_t (200 + z), uint32_t (1 + z), uint32_t (z * 4000));
        zone.sampleRate = uint32_t (8000 + 300 * z);
        zone.spareBit = z & 1;
        zones.push_back (zone);
    }
    expectRoundTrip (zones, 0);
}

TEST (SamplesEncoder, PicksTheNarrowestWidthPerBlock)
{
    const std::vector<int>& narrowest = narrowestWidths();
    // The table itself: n = 1 holds 0 and -1, n >= 2 runs -(2^(n-1)-1) .. 2^(n-1).
    EXPECT_EQ (narrowest[0], 1);
    EXPECT_EQ (narrowest[0xffff], 1);
    EXPECT_EQ (narrowest[1], 2);
    EXPECT_EQ (narrowest[2], 2);
    EXPECT_EQ (narrowest[uint16_t (-2)], 3);
    EXPECT_EQ (narrowest[32768], 16);
    EXPECT_EQ (narrowest[32767], 16);
    EXPECT_EQ (narrowest[uint16_t (-32767)], 16);
    EXPECT_EQ (narrowest[16384], 15);
    EXPECT_EQ (narrowest[uint16_t (-16384)], 16);

    std::mt19937 random (11);
    for (int trial = 0; trial < 400; ++trial)
    {
        // One block whose steps stay within a random width, so every width occurs.
        const int bound = 1 << (trial % 16);
        std::uniform_int_distribution<int> step (-bound, bound);
        std::vector<int16_t> samples (64);
        uint16_t value = uint16_t (random());
        int expected = 1;
        uint16_t previous = 0;
        for (int i = 0; i < 64; ++i)
        {
            value = uint16_t (value + step (random));
            samples[size_t (i)] = int16_t (value);
            expected = std::max (expected, narrowest[uint16_t (value - previous)]);
            previous = value;
        }
        std::vector<uint8_t> bytes;
        ASSERT_EQ (encodeSet ({ zoneOf (samples) }, 0, bytes), "");
        DecodedSet set;
        const std::vector<ZoneStreamInfo> details = decodeWithDetails (bytes, set);
        ASSERT_EQ (details.size(), 1u);
        ASSERT_EQ (details[0].maxWidth, expected) << "trial " << trial;
        for (int i = 0; i < 64; ++i)
            ASSERT_EQ (set.table[0].data[i], samples[size_t (i)]);
    }
}

TEST (SamplesEncoder, StreamIsAsSmallAsTheWidthsAllow)
{
    // A constant zone of N blocks: header, then 4 + 64 bits a block.
    std::vector<uint8_t> bytes;
    ASSERT_EQ (encodeSet ({ zoneOf (std::vector<int16_t> (640, 0)) }, 0, bytes), "");
    EXPECT_EQ (bytes.size(), size_t (12 + (6 + 55 + 10 * 68 + 7) / 8));
    EXPECT_EQ (bytes[12] & 0x3f, 0);     // the unused first stream bits

    // A single descending step of one: width 1, deltas -1.
    ASSERT_EQ (encodeSet ({ rampZone (60, 100, 64, 0, -1) }, 0, bytes), "");
    DecodedSet set;
    const std::vector<ZoneStreamInfo> details = decodeWithDetails (bytes, set);
    ASSERT_EQ (details.size(), 1u);
    EXPECT_EQ (details[0].maxWidth, 1);
}

TEST (SamplesEncoder, RefusesWhatTheFormatCannotHold)
{
    struct Case
    {
        const char* what;
        std::vector<ZoneSource> zones;
        int kind;
        const char* mentions;
    };
    auto with = [] (auto change) {
        ZoneSource zone = loopedSineZone (60, 100, 1000, 100);
        change (zone);
        return std::vector<ZoneSource> { zone };
    };
    const Case cases[] = {
        { "256 zones", std::vector<ZoneSource> (256, sineZone (60, 100, 64)), 0, "255" },
        { "rate above 17 bits", with ([] (ZoneSource& z) { z.sampleRate = 131072; }), 0, "131072" },
        { "rate 0", with ([] (ZoneSource& z) { z.sampleRate = 0; }), 0, "rate" },
        { "loop of 2^19", with ([] (ZoneSource& z) { z.samples.resize (1u << 19); z.loopLength = 1u << 19; }), 0, "524288" },
        { "loop of 0", with ([] (ZoneSource& z) { z.loopLength = 0; }), 0, "loop length 0" },
        { "loop longer than the zone", with ([] (ZoneSource& z) { z.loopLength = 1001; }), 0, "1001" },
        { "decay of 2^20", with ([] (ZoneSource& z) { z.loopDecay = 1u << 20; }), 0, "1048576" },
        { "2^20 blocks", with ([] (ZoneSource& z) { z.looped = false; z.samples.resize (64u * ((1u << 20) - 1) + 1); }), 0, "1048576" },
        { "root -1", with ([] (ZoneSource& z) { z.rootNote = -1; }), 0, "root" },
        { "root 256", with ([] (ZoneSource& z) { z.rootNote = 256; }), 0, "root" },
        { "velocity 256", with ([] (ZoneSource& z) { z.velocity = 256; }), 0, "velocity" },
        { "velocity -1", with ([] (ZoneSource& z) { z.velocity = -1; }), 0, "velocity" },
        { "no samples", with ([] (ZoneSource& z) { z.samples.clear(); z.looped = false; }), 0, "no samples" },
        { "spare bit 2", with ([] (ZoneSource& z) { z.spareBit = 2; }), 0, "spare" },
        { "kind 256", with ([] (ZoneSource&) {}), 256, "kind" },
        { "kind -1", with ([] (ZoneSource&) {}), -1, "kind" },
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE (c.what);
        std::vector<uint8_t> bytes = { 1, 2, 3 };
        const std::string reason = encodeSet (c.zones, c.kind, bytes);
        EXPECT_NE (reason, "");
        EXPECT_EQ (reason.find ('\n'), std::string::npos);
        EXPECT_NE (reason.find (c.mentions), std::string::npos) << reason;
        EXPECT_TRUE (bytes.empty());
    }

    // The largest values that fit.
    const std::vector<ZoneSource> largest = with ([] (ZoneSource& z) {
        z.samples.resize ((1u << 19) - 1);
        z.loopLength = (1u << 19) - 1;
        z.loopDecay = (1u << 20) - 1;
        z.sampleRate = 131071;
        z.rootNote = 255;
        z.velocity = 0;
    });
    expectRoundTrip (largest, 0);
    expectRoundTrip (std::vector<ZoneSource> (255, sineZone (60, 100, 64)), 0);
}

namespace
{
std::vector<std::string> folderEntries (const std::string& path)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir (path.c_str()))
    {
        while (dirent* entry = ::readdir (dir))
            if (std::string (entry->d_name) != "." && std::string (entry->d_name) != "..")
                names.push_back (entry->d_name);
        ::closedir (dir);
    }
    std::sort (names.begin(), names.end());
    return names;
}

std::vector<uint8_t> fileBytes (const std::string& path)
{
    std::ifstream in (path, std::ios::binary);
    return std::vector<uint8_t> ((std::istreambuf_iterator<char> (in)), std::istreambuf_iterator<char>());
}
} // namespace

TEST (SamplesEncoder, WritesFilesAtomically)
{
    TempFolder folder;
    const std::string path = folder.file ("set.rks");
    const std::vector<ZoneSource> zones = smallPianoZones (300);

    ASSERT_EQ (writeSetFile (path, zones, 2), "");
    EXPECT_EQ (folderEntries (folder.path), std::vector<std::string> { "set.rks" });
    EXPECT_EQ (fileBytes (path), encode (zones, 2));
    struct stat info;
    ASSERT_EQ (::stat (path.c_str(), &info), 0);
    EXPECT_EQ (info.st_mode & 0777, 0644u);

    // A refused set leaves the old file as it was and no temporary behind.
    const std::vector<uint8_t> before = fileBytes (path);
    std::vector<ZoneSource> bad = zones;
    bad[3].sampleRate = 200000;
    const std::string reason = writeSetFile (path, bad, 0);
    EXPECT_NE (reason.find ("zone 3"), std::string::npos) << reason;
    EXPECT_EQ (fileBytes (path), before);
    EXPECT_EQ (folderEntries (folder.path), std::vector<std::string> { "set.rks" });

    // A good set replaces it whole.
    ASSERT_EQ (writeSetFile (path, { sineZone (60, 100, 64) }, 0), "");
    EXPECT_EQ (fileBytes (path), encode ({ sineZone (60, 100, 64) }, 0));
    EXPECT_EQ (folderEntries (folder.path), std::vector<std::string> { "set.rks" });

    // A folder that does not exist, or a folder in the way of the name.
    EXPECT_NE (writeSetFile (folder.file ("missing/set.rks"), zones, 0), "");
    ASSERT_EQ (::mkdir (folder.file ("taken.rks").c_str(), 0755), 0);
    EXPECT_NE (writeSetFile (folder.file ("taken.rks"), zones, 0), "");
    EXPECT_EQ (folderEntries (folder.path), (std::vector<std::string> { "set.rks", "taken.rks" }));
    EXPECT_EQ (folderEntries (folder.file ("taken.rks")), std::vector<std::string>());
}

TEST (SamplesEncoder, FixtureFilesDecodeThroughTheFileReader)
{
    TempFolder folder;
    const std::vector<ZoneSource> zones = smallPianoZones();
    const std::string path = writeSet (folder, "piano.rks", zones, 2);
    ASSERT_FALSE (path.empty());
    DecodedSet set;
    SetFileHeader header;
    ASSERT_EQ (decodeFile (path, set, &header), SetDecodeStatus::ok);
    EXPECT_EQ (header.kind, 2);
    ASSERT_EQ (set.zoneCount, short (zones.size()));
    for (size_t z = 0; z < zones.size(); ++z)
        for (size_t i = 0; i < zones[z].samples.size(); ++i)
            ASSERT_EQ (set.table[z].data[i], zones[z].samples[i]);
}
