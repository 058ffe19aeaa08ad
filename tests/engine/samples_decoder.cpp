// Set-file decoder: the format's worked examples, the signed-delta rule,
// loop fields, and every kind of file it must refuse.

#include "SetFixtures.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace setfixtures;

namespace
{
// The 56-byte file: one unlooped zone, root 60, velocity 100, 44100 Hz, one
// block of width 4 with raw values 1, 2, 8, 9, 15, 0 and then zeros.
const std::vector<uint8_t> exampleFile = [] {
    std::vector<uint8_t> bytes = { 0x01, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                   0x00, 0x1e, 0x32, 0x22, 0x56, 0x01, 0x00, 0x60, 0x42, 0x30, 0x1f, 0x00 };
    bytes.resize (56, 0x00);
    return bytes;
}();

// Decodes a single-zone file and returns the zone's first samples.
std::vector<int> firstSamples (const DecodedSet& set, size_t count)
{
    std::vector<int> out;
    for (size_t i = 0; i < count; ++i)
        out.push_back (set.table[0].data[i]);
    return out;
}

std::vector<uint8_t> oneBlockFile (int n, const std::vector<uint32_t>& raws)
{
    RawSetBuilder raw (1, 64);
    raw.zoneHeader (60, 100, 44100, 1);
    raw.block (n, raws);
    return raw.finish();
}
} // namespace

TEST (SamplesDecoder, FiftySixByteExampleDecodesToItsZone)
{
    DecodedSet set;
    SetFileHeader header;
    ASSERT_EQ (decodeBytes (exampleFile, set, &header), SetDecodeStatus::ok);
    EXPECT_EQ (header.zoneCount, 1);
    EXPECT_EQ (header.totalSamples, 64u);
    EXPECT_EQ (header.kind, 0);

    ASSERT_EQ (set.zoneCount, 1);
    const tableDataType& zone = set.table[0];
    EXPECT_FALSE (zone.looped);
    EXPECT_EQ (zone.rootNote, 60);
    EXPECT_EQ (zone.velocity, 100);
    EXPECT_EQ (zone.length, 64u);
    EXPECT_EQ (zone.samplePeriod, 1.0 / 44100.0);
    EXPECT_EQ (zone.spareBit, 0);
    EXPECT_EQ (zone.data, set.samples.get());

    std::vector<int> expected = { 1, 3, 11, 4, 3, 3 };
    expected.resize (64, 3);
    EXPECT_EQ (firstSamples (set, 64), expected);
}

TEST (SamplesDecoder, ExampleThroughARealFileMatchesMemory)
{
    TempFolder folder;
    ASSERT_TRUE (writeBytes (folder.file ("example.rks"), exampleFile));
    DecodedSet set;
    ASSERT_EQ (decodeFile (folder.file ("example.rks"), set), SetDecodeStatus::ok);
    EXPECT_EQ (firstSamples (set, 6), (std::vector<int> { 1, 3, 11, 4, 3, 3 }));
}

TEST (SamplesDecoder, SignedDeltaRule)
{
    struct Case
    {
        int n;
        std::vector<uint32_t> raws;
        std::vector<int> samples;
    };
    const Case cases[] = {
        // 1-bit deltas are 0 or -1.
        { 1, { 1, 0, 1, 1 }, { -1, -1, -2, -3 } },
        // n = 4: 8 = 2^(n-1) is +8, above it negative.
        { 4, { 1, 2, 8, 9, 15, 0 }, { 1, 3, 11, 4, 3, 3 } },
        { 2, { 2, 3, 1, 0 }, { 2, 1, 2, 2 } },
        // n = 16: 32768 is +32768, which wraps to -32768; 32769 is -32767.
        { 16, { 32768, 32769, 65535, 1 }, { -32768, 1, 0, 1 } },
        { 16, { 32767, 1 }, { 32767, -32768 } },
        { 9, { 256, 257, 511 }, { 256, 1, 0 } },
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE ("n = " + std::to_string (c.n));
        DecodedSet set;
        ASSERT_EQ (decodeBytes (oneBlockFile (c.n, c.raws), set), SetDecodeStatus::ok);
        EXPECT_EQ (firstSamples (set, c.samples.size()), c.samples);
    }
}

TEST (SamplesDecoder, SixteenBitWrapAroundBothWays)
{
    // Up from 32767 by +1 and down from -32768 by -1, across a block boundary.
    RawSetBuilder raw (1, 128);
    raw.zoneHeader (60, 100, 48000, 2);
    std::vector<uint32_t> first (64, 0);
    first[0] = 32767;
    raw.block (16, first);
    raw.block (2, { 1, 1, 3, 3 });
    const std::vector<uint8_t> bytes = raw.finish();

    DecodedSet set;
    ASSERT_EQ (decodeBytes (bytes, set), SetDecodeStatus::ok);
    EXPECT_EQ (set.table[0].data[63], 32767);
    EXPECT_EQ (set.table[0].data[64], -32768);
    EXPECT_EQ (set.table[0].data[65], -32767);
    EXPECT_EQ (set.table[0].data[66], -32768);
    EXPECT_EQ (set.table[0].data[67], 32767);
}

TEST (SamplesDecoder, RunningValueRestartsAtEveryZone)
{
    RawSetBuilder raw (2, 128);
    raw.zoneHeader (40, 10, 22050, 1, 1);
    raw.block (8, { 100 });
    raw.zoneHeader (41, 11, 96000, 1);
    raw.block (8, { 5 });
    DecodedSet set;
    ASSERT_EQ (decodeBytes (raw.finish(), set), SetDecodeStatus::ok);
    ASSERT_EQ (set.zoneCount, 2);
    EXPECT_EQ (set.table[0].data[63], 100);
    EXPECT_EQ (set.table[1].data, set.samples.get() + 64);
    EXPECT_EQ (set.table[1].data[0], 5);
    EXPECT_EQ (set.table[0].spareBit, 1);
    EXPECT_EQ (set.table[1].spareBit, 0);
    EXPECT_EQ (set.table[0].samplePeriod, 1.0 / 22050.0);
    EXPECT_EQ (set.table[1].samplePeriod, 1.0 / 96000.0);
}

TEST (SamplesDecoder, LoopFieldsAndGain)
{
    struct Case
    {
        uint32_t loopDecay;
        double loopGain;
    };
    // Single precision, then widened: 0.995f is 0.9950000047683716.
    const Case cases[] = { { 5000, 0.9950000047683716 }, { 0, 1.0 }, { 1000000, 0.0 },
                           { 1, double (1.0f - 1.0f / 1000000.0f) }, { 1048575, double (1.0f + 1048575.0f / -1000000.0f) } };
    for (const Case& c : cases)
    {
        SCOPED_TRACE ("loopDecay " + std::to_string (c.loopDecay));
        RawSetBuilder raw (1, 128);
        raw.loopedZoneHeader (50, 90, 44100, 2, 30, c.loopDecay, 10);
        raw.block (1, {});
        raw.block (1, {});
        DecodedSet set;
        ASSERT_EQ (decodeBytes (raw.finish(), set), SetDecodeStatus::ok);
        const tableDataType& zone = set.table[0];
        EXPECT_TRUE (zone.looped);
        EXPECT_EQ (zone.length, 118u);
        EXPECT_EQ (zone.loopLength, 30u);
        EXPECT_EQ (zone.loopGain, c.loopGain);
    }
}

TEST (SamplesDecoder, EmptyHeadersGiveAnEmptySet)
{
    struct Case
    {
        int zoneCount;
        uint32_t totalSamples;
    };
    for (const Case c : { Case { 0, 0 }, Case { 0, 640 }, Case { 3, 0 } })
    {
        RawSetBuilder raw (c.zoneCount, c.totalSamples, 2);
        raw.zoneHeader (60, 100, 44100, 10);
        DecodedSet set;
        SetFileHeader header;
        EXPECT_EQ (decodeBytes (raw.finish(), set, &header), SetDecodeStatus::empty);
        EXPECT_EQ (header.kind, 2);
        EXPECT_EQ (set.samples, nullptr);
        EXPECT_EQ (set.table, nullptr);
        EXPECT_EQ (set.zoneCount, 0);
    }
}

TEST (SamplesDecoder, SampleCountBeyondTheZonesIsZeroFilled)
{
    RawSetBuilder raw (1, 200);
    raw.zoneHeader (60, 100, 44100, 1);
    raw.block (4, { 1, 1, 1 });
    DecodedSet set;
    ASSERT_EQ (decodeBytes (raw.finish (64), set), SetDecodeStatus::ok);
    EXPECT_EQ (set.table[0].data[63], 3);
    for (int i = 64; i < 200; ++i)
        ASSERT_EQ (set.samples[size_t (i)], 0) << i;
}

TEST (SamplesDecoder, StreamDetailsReportWidths)
{
    RawSetBuilder raw (1, 192);
    raw.zoneHeader (60, 100, 44100, 3);
    raw.block (5, {});
    raw.block (1, {});
    raw.block (12, {});
    const std::vector<uint8_t> bytes = raw.finish();
    SetFileReader reader;
    SetFileHeader header;
    ASSERT_TRUE (reader.openMemory (bytes.data(), bytes.size()));
    ASSERT_TRUE (reader.readHeader (header));
    DecodedSet set;
    ZoneStreamInfo info;
    ASSERT_EQ (reader.decode (header, set, &info), SetDecodeStatus::ok);
    EXPECT_EQ (info.sampleRate, 44100u);
    EXPECT_EQ (info.blockCount, 3u);
    EXPECT_EQ (info.minWidth, 1);
    EXPECT_EQ (info.maxWidth, 12);
}

TEST (SamplesDecoder, FilesShorterThanHeaderAndWordAreRefused)
{
    for (size_t size = 1; size < 16; ++size)
    {
        const std::vector<uint8_t> bytes (exampleFile.begin(), exampleFile.begin() + long (size));
        SetFileReader reader;
        SetFileHeader header;
        ASSERT_TRUE (reader.openMemory (bytes.data(), bytes.size()));
        EXPECT_FALSE (reader.readHeader (header)) << size;
        DecodedSet set;
        EXPECT_EQ (reader.decode (header, set), SetDecodeStatus::malformed);
    }
    SetFileReader reader;
    EXPECT_FALSE (reader.openMemory (exampleFile.data(), 0));
}

TEST (SamplesDecoder, CutFilesAreRefusedWithoutCrashing)
{
    // Several zones, looped and not, widths from 1 to 16: every cut of the
    // encoder's output loses bits the decoder needs.
    std::vector<ZoneSource> zones = { sineZone (60, 100, 300), noiseZone (61, 90, 200, 7),
                                      loopedSineZone (62, 80, 500, 123, 5000), rampZone (63, 70, 64, 0, 0) };
    const std::vector<uint8_t> whole = encode (zones);
    ASSERT_FALSE (whole.empty());
    {
        DecodedSet set;
        ASSERT_EQ (decodeBytes (whole, set), SetDecodeStatus::ok);
    }
    for (size_t size = 0; size < whole.size(); ++size)
    {
        // A copy of exactly `size` bytes, so a sanitizer catches reads past it.
        std::vector<uint8_t> cut (whole.begin(), whole.begin() + long (size));
        DecodedSet set;
        EXPECT_EQ (decodeBytes (cut, set), SetDecodeStatus::malformed) << size;
        EXPECT_EQ (set.samples, nullptr);
    }
}

TEST (SamplesDecoder, ShortFinalWordIsNormalWhenItsMissingBytesAreNotNeeded)
{
    // The example's stream needs 321 bits: 41 bytes after the header.
    for (size_t size : { size_t (53), size_t (54), size_t (55), size_t (56), size_t (60) })
    {
        std::vector<uint8_t> bytes = exampleFile;
        bytes.resize (size, 0);
        DecodedSet set;
        ASSERT_EQ (decodeBytes (bytes, set), SetDecodeStatus::ok) << size;
        EXPECT_EQ (set.table[0].data[2], 11);
    }
    std::vector<uint8_t> cut (exampleFile.begin(), exampleFile.begin() + 52);
    DecodedSet set;
    EXPECT_EQ (decodeBytes (cut, set), SetDecodeStatus::malformed);
}

TEST (SamplesDecoder, MalformedZonesAreRefused)
{
    struct Case
    {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    auto looped = [] (uint32_t blocks, uint32_t loopLength, uint32_t padding) {
        RawSetBuilder raw (1, 64 * blocks);
        raw.loopedZoneHeader (60, 100, 44100, blocks, loopLength, 0, padding);
        for (uint32_t b = 0; b < blocks; ++b)
            raw.block (1, {});
        return raw.finish();
    };
    auto twoZones = [] (uint32_t totalSamples) {
        RawSetBuilder raw (2, totalSamples);
        raw.zoneHeader (60, 100, 44100, 1);
        raw.block (1, {});
        raw.zoneHeader (61, 100, 44100, 2);
        raw.block (1, {});
        raw.block (1, {});
        return raw.finish (64);
    };
    const Case cases[] = {
        { "blocks beyond the sample count", twoZones (191) },
        { "padding larger than the zone", looped (1, 1, 65) },
        { "padding as large as the zone", looped (1, 1, 64) },
        { "loop longer than the zone", looped (2, 120, 9) },
        { "loop of length 0", looped (1, 0, 0) },
    };
    for (const Case& c : cases)
    {
        DecodedSet set;
        EXPECT_EQ (decodeBytes (c.bytes, set), SetDecodeStatus::malformed) << c.what;
        EXPECT_EQ (set.samples, nullptr) << c.what;
        EXPECT_EQ (set.zoneCount, 0) << c.what;
    }

    // The limits themselves are fine.
    DecodedSet set;
    EXPECT_EQ (decodeBytes (twoZones (192), set), SetDecodeStatus::ok);
    EXPECT_EQ (decodeBytes (looped (2, 65, 63), set), SetDecodeStatus::ok);
    EXPECT_EQ (set.table[0].length, 65u);
    EXPECT_EQ (decodeBytes (looped (1, 1, 127), set), SetDecodeStatus::malformed);
    EXPECT_EQ (decodeBytes (looped (2, 1, 127), set), SetDecodeStatus::ok);
    EXPECT_EQ (set.table[0].length, 1u);
    EXPECT_EQ (decodeBytes (looped (3, 1, 127), set), SetDecodeStatus::ok);
    EXPECT_EQ (set.table[0].length, 65u);
}

TEST (SamplesDecoder, SampleCountTheFileCannotHoldIsRefusedBeforeAllocating)
{
    // Bits for one zone header and N width-1 blocks: 6 + 55 + 68 N.
    auto header = [] (int zones, uint32_t samples) {
        SetFileHeader h;
        h.zoneCount = zones;
        h.totalSamples = samples;
        return h;
    };
    const long long bytesForTen = 12 + (6 + 55 + 68 * 10 + 7) / 8;
    EXPECT_TRUE (SetFileReader::headerFitsFileSize (header (1, 640), bytesForTen));
    EXPECT_TRUE (SetFileReader::headerFitsFileSize (header (1, 703), bytesForTen));
    EXPECT_FALSE (SetFileReader::headerFitsFileSize (header (1, 704), bytesForTen));
    EXPECT_FALSE (SetFileReader::headerFitsFileSize (header (1, 640), bytesForTen - 1));
    EXPECT_FALSE (SetFileReader::headerFitsFileSize (header (255, 64), 100));
    EXPECT_FALSE (SetFileReader::headerFitsFileSize (header (1, 0xffffffffu), 1ll << 28));

    // A 16-byte file claiming four billion samples: refused, not allocated.
    RawSetBuilder raw (1, 0xffffffffu);
    raw.zoneHeader (60, 100, 44100, 1);
    DecodedSet set;
    EXPECT_EQ (decodeBytes (raw.finish(), set), SetDecodeStatus::malformed);
}

TEST (SamplesDecoder, NamesThatAreNoRegularFileAreRefused)
{
    TempFolder folder;
    ASSERT_TRUE (writeBytes (folder.file ("set.rks"), exampleFile));
    ASSERT_EQ (::mkdir (folder.file ("sub.rks").c_str(), 0755), 0);

    SetFileReader reader;
    const int before = SetFileReader::openCount().load();
    EXPECT_FALSE (reader.open (""));
    EXPECT_FALSE (reader.open (nullptr));
    EXPECT_FALSE (reader.open (folder.path.c_str()));
    EXPECT_FALSE (reader.open (folder.file ("sub.rks").c_str()));
    EXPECT_FALSE (reader.open (folder.file ("missing.rks").c_str()));
    EXPECT_FALSE (reader.open ("/dev/zero"));
    EXPECT_EQ (SetFileReader::openCount().load(), before);

    // Nothing read: no header, no decode.
    SetFileHeader header;
    EXPECT_FALSE (reader.readHeader (header));
    DecodedSet set;
    EXPECT_EQ (reader.decode (header, set), SetDecodeStatus::malformed);

    EXPECT_TRUE (reader.open (folder.file ("set.rks").c_str()));
    EXPECT_TRUE (reader.open (folder.file ("set.rks").c_str()));
    EXPECT_EQ (SetFileReader::openCount().load(), before + 2);
    EXPECT_TRUE (reader.openMemory (exampleFile.data(), exampleFile.size()));
    EXPECT_EQ (SetFileReader::openCount().load(), before + 2);
}

TEST (SamplesDecoder, DecodeRunsOncePerHeader)
{
    SetFileReader reader;
    SetFileHeader header;
    ASSERT_TRUE (reader.openMemory (exampleFile.data(), exampleFile.size()));
    DecodedSet set;
    EXPECT_EQ (reader.decode (header, set), SetDecodeStatus::malformed);
    ASSERT_TRUE (reader.readHeader (header));
    EXPECT_EQ (reader.decode (header, set), SetDecodeStatus::ok);
    EXPECT_EQ (reader.decode (header, set), SetDecodeStatus::malformed);
    EXPECT_EQ (set.samples, nullptr);
}

TEST (SamplesDecoder, ReadersInterleave)
{
    // The loader reads the main header, loads the tine set, then decodes.
    TempFolder folder;
    const std::string main = writeSet (folder, "main.rks", { sineZone (60, 100, 1000) }, 2);
    const std::string tines = writeSet (folder, "tines.tin", { rampZone (80, 100, 640, -5, 3) });
    ASSERT_FALSE (main.empty());
    ASSERT_FALSE (tines.empty());

    SetFileReader mainReader;
    SetFileHeader mainHeader;
    ASSERT_TRUE (mainReader.open (main.c_str()));
    ASSERT_TRUE (mainReader.readHeader (mainHeader));
    EXPECT_EQ (mainHeader.kind, 2);

    DecodedSet tineSet;
    ASSERT_EQ (decodeFile (tines, tineSet), SetDecodeStatus::ok);
    DecodedSet mainSet;
    ASSERT_EQ (mainReader.decode (mainHeader, mainSet), SetDecodeStatus::ok);
    EXPECT_EQ (tineSet.table[0].data[639], int16_t (-5 + 3 * 639));
    EXPECT_EQ (mainSet.table[0].data[999], sineZone (60, 100, 1000).samples[999]);
}
