// The set tools end to end (tolvek-pack, tolvek-info) and the WAV reader and
// writer under them. WAV inputs are written here byte by byte, independently
// of the code under test.

#include "SetFixtures.h"
#include "samples/WavFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace setfixtures;

namespace
{
const std::string packTool = std::string (TOLVEK_BINARY_DIR) + "/tools/tolvek-pack/tolvek-pack";
const std::string infoTool = std::string (TOLVEK_BINARY_DIR) + "/tools/tolvek-info/tolvek-info";

struct ToolRun
{
    int status = -1;
    std::string out;
    std::string err;
};

std::string readText (const std::string& path)
{
    std::ifstream in (path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs a tool with arguments (no quoting needed: temporary paths have no spaces).
ToolRun runTool (const TempFolder& folder, const std::string& tool, const std::string& arguments)
{
    ToolRun run;
    const std::string out = folder.file ("stdout.txt"), err = folder.file ("stderr.txt");
    const std::string command = tool + " " + arguments + " >" + out + " 2>" + err;
    const int raw = std::system (command.c_str());
    run.status = WIFEXITED (raw) ? WEXITSTATUS (raw) : -1;
    run.out = readText (out);
    run.err = readText (err);
    std::remove (out.c_str());
    std::remove (err.c_str());
    return run;
}

bool exists (const std::string& path)
{
    struct stat info;
    return ::stat (path.c_str(), &info) == 0;
}

void put (std::string& out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back (char (uint8_t (value >> (8 * i))));
}

// A WAV file from raw sample codes (already in the file's encoding).
struct WavSpec
{
    int format = 1;         // 1 PCM, 3 float, 0xfffe extensible
    int subFormat = 1;
    int channels = 1;
    int bits = 16;
    uint32_t rate = 44100;
    std::vector<uint32_t> codes;    // interleaved
    bool loop = false;
    uint32_t loopStart = 0, loopLastSample = 0;
    bool junkChunk = false;
};

void writeWav (const std::string& path, const WavSpec& wav)
{
    std::string body = "WAVE";
    if (wav.junkChunk)
    {
        body += "LIST";
        put (body, 3, 4);
        body += "abc";
        body.push_back ('\0');     // pad byte of an odd-sized chunk
    }
    const int blockAlign = wav.channels * wav.bits / 8;
    body += "fmt ";
    put (body, wav.format == 0xfffe ? 40 : 16, 4);
    put (body, uint32_t (wav.format), 2);
    put (body, uint32_t (wav.channels), 2);
    put (body, wav.rate, 4);
    put (body, wav.rate * uint32_t (blockAlign), 4);
    put (body, uint32_t (blockAlign), 2);
    put (body, uint32_t (wav.bits), 2);
    if (wav.format == 0xfffe)
    {
        put (body, 22, 2);
        put (body, uint32_t (wav.bits), 2);
        put (body, 0, 4);
        put (body, uint32_t (wav.subFormat), 2);
        body += std::string ("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71", 14);
    }
    if (wav.loop)
    {
        body += "smpl";
        put (body, 60, 4);
        for (int i = 0; i < 7; ++i)
            put (body, 0, 4);
        put (body, 1, 4);
        put (body, 0, 4);
        put (body, 0, 4);
        put (body, 0, 4);
        put (body, wav.loopStart, 4);
        put (body, wav.loopLastSample, 4);
        put (body, 0, 4);
        put (body, 0, 4);
    }
    body += "data";
    put (body, uint32_t (wav.codes.size()) * uint32_t (wav.bits / 8), 4);
    for (uint32_t code : wav.codes)
        put (body, code, wav.bits / 8);

    std::string file = "RIFF";
    put (file, uint32_t (body.size()), 4);
    file += body;
    std::ofstream (path, std::ios::binary) << file;
}

WavSpec mono16 (const std::vector<int16_t>& samples, uint32_t rate = 44100)
{
    WavSpec wav;
    wav.rate = rate;
    for (int16_t s : samples)
        wav.codes.push_back (uint16_t (s));
    return wav;
}

uint32_t floatCode (float f)
{
    uint32_t code;
    std::memcpy (&code, &f, 4);
    return code;
}

void writeManifest (const std::string& path, const std::string& text)
{
    std::ofstream (path) << text;
}
} // namespace

TEST (SamplesWav, ReadsEveryEncodingAsRounded16Bit)
{
    struct Case
    {
        const char* what;
        WavSpec wav;
        WavChannel channel;
        std::vector<int16_t> expected;
    };
    auto wav = [] (int format, int bits, int channels, std::vector<uint32_t> codes) {
        WavSpec s;
        s.format = format;
        s.bits = bits;
        s.channels = channels;
        s.codes = std::move (codes);
        return s;
    };
    WavSpec extensible = wav (0xfffe, 24, 1, { 0x000100, 0xffff00 });
    WavSpec extensibleFloat = wav (0xfffe, 32, 1, { floatCode (0.25f) });
    extensibleFloat.subFormat = 3;
    const Case cases[] = {
        { "8-bit", wav (1, 8, 1, { 0, 128, 255, 129 }), WavChannel::mix, { -32768, 0, 32512, 256 } },
        { "16-bit", wav (1, 16, 1, { 0x8000, 0x7fff, 1, 0xffff }), WavChannel::mix, { -32768, 32767, 1, -1 } },
        // 24-bit: x / 256, halves away from zero, the top clipped.
        { "24-bit", wav (1, 24, 1, { 0x7fffff, 0x800000, 0x000080, 0xffff80, 0x00017f, 0x000181 }),
          WavChannel::mix, { 32767, -32768, 1, -1, 1, 2 } },
        { "32-bit", wav (1, 32, 1, { 0x7fffffff, 0x80000000, 0x00008000, 0x00017fff }), WavChannel::mix,
          { 32767, -32768, 1, 1 } },
        { "float", wav (3, 32, 1, { floatCode (1.0f), floatCode (-1.0f), floatCode (2.0f), floatCode (0.5f / 32768.0f),
                                     floatCode (-1.5f / 32768.0f), floatCode (0.25f) }),
          WavChannel::mix, { 32767, -32768, 32767, 1, -2, 8192 } },
        { "extensible 24-bit", extensible, WavChannel::mix, { 1, -1 } },
        { "extensible float", extensibleFloat, WavChannel::mix, { 8192 } },
        { "stereo left", wav (1, 16, 2, { 100, 200, 0xffff, 3 }), WavChannel::left, { 100, -1 } },
        { "stereo right", wav (1, 16, 2, { 100, 200, 0xffff, 3 }), WavChannel::right, { 200, 3 } },
        { "stereo mix", wav (1, 16, 2, { 100, 201, 0xffff, 4, 0x8000, 0x8000 }), WavChannel::mix, { 151, 2, -32768 } },
        { "mono ignores the channel", wav (1, 16, 1, { 5 }), WavChannel::right, { 5 } },
    };
    TempFolder folder;
    for (const Case& c : cases)
    {
        SCOPED_TRACE (c.what);
        writeWav (folder.file ("in.wav"), c.wav);
        WavAudio audio;
        ASSERT_EQ (readWavFile (folder.file ("in.wav"), audio), "");
        EXPECT_EQ (audio.channels, c.wav.channels);
        EXPECT_EQ (audio.sampleRate, 44100u);
        EXPECT_EQ (wavTo16BitMono (audio, c.channel), c.expected);
    }
}

TEST (SamplesWav, ReadsTheLoopAndSkipsOtherChunks)
{
    TempFolder folder;
    WavSpec wav = mono16 (std::vector<int16_t> (100, 7), 22050);
    wav.loop = true;
    wav.loopStart = 10;
    wav.loopLastSample = 89;
    wav.junkChunk = true;
    writeWav (folder.file ("loop.wav"), wav);
    WavAudio audio;
    ASSERT_EQ (readWavFile (folder.file ("loop.wav"), audio), "");
    EXPECT_TRUE (audio.hasLoop);
    EXPECT_EQ (audio.loopStart, 10u);
    EXPECT_EQ (audio.loopEnd, 90u);
    EXPECT_EQ (audio.frameCount(), 100u);
    EXPECT_EQ (audio.sampleRate, 22050u);
}

TEST (SamplesWav, RefusesWhatItCannotRead)
{
    TempFolder folder;
    WavAudio audio;
    EXPECT_NE (readWavFile (folder.file ("missing.wav"), audio), "");
    std::ofstream (folder.file ("text.wav")) << "not a wav file at all";
    EXPECT_NE (readWavFile (folder.file ("text.wav"), audio), "");
    WavSpec wav = mono16 ({ 1, 2 });
    wav.channels = 3;
    writeWav (folder.file ("three.wav"), wav);
    EXPECT_NE (readWavFile (folder.file ("three.wav"), audio).find ("channels"), std::string::npos);
    wav = mono16 ({ 1, 2 });
    wav.format = 2;
    writeWav (folder.file ("adpcm.wav"), wav);
    EXPECT_NE (readWavFile (folder.file ("adpcm.wav"), audio), "");
    wav = mono16 ({ 1, 2 });
    wav.format = 3;
    writeWav (folder.file ("float16.wav"), wav);
    EXPECT_NE (readWavFile (folder.file ("float16.wav"), audio), "");
}

TEST (SamplesWav, WriterRoundTripsThroughTheReader)
{
    TempFolder folder;
    const std::vector<int16_t> samples = noiseZone (0, 0, 1001, 5).samples;
    ASSERT_EQ (writeWavFile16 (folder.file ("out.wav"), samples, 96000, true, 400, 1001, 61), "");
    WavAudio audio;
    ASSERT_EQ (readWavFile (folder.file ("out.wav"), audio), "");
    EXPECT_EQ (audio.sampleRate, 96000u);
    EXPECT_EQ (audio.bitsPerSample, 16);
    EXPECT_EQ (wavTo16BitMono (audio, WavChannel::mix), samples);
    EXPECT_TRUE (audio.hasLoop);
    EXPECT_EQ (audio.loopStart, 400u);
    EXPECT_EQ (audio.loopEnd, 1001u);
    EXPECT_NE (writeWavFile16 (folder.file ("bad.wav"), samples, 96000, true, 400, 1002), "");
}

class SamplesTools : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE (exists (packTool)) << "build the tolvek-pack target: " << packTool;
        ASSERT_TRUE (exists (infoTool)) << "build the tolvek-info target: " << infoTool;
        ASSERT_EQ (::mkdir (folder.file ("wav").c_str(), 0755), 0);
    }

    TempFolder folder;
};

TEST_F (SamplesTools, PackInfoAndExtractRoundTrip)
{
    const std::vector<int16_t> low = sineZone (0, 0, 5000, 110.0, 20000.0).samples;
    const std::vector<int16_t> high = noiseZone (0, 0, 3000, 9, 4000).samples;
    writeWav (folder.file ("wav/low.wav"), mono16 (low, 44100));
    WavSpec looped = mono16 (high, 48000);
    looped.loop = true;
    looped.loopStart = 1000;
    looped.loopLastSample = 2499;
    writeWav (folder.file ("wav/high loop.wav"), looped);

    // Stereo 24-bit: the right channel is taken, rounded to 16 bits.
    WavSpec stereo;
    stereo.channels = 2;
    stereo.bits = 24;
    stereo.rate = 96000;
    std::vector<int16_t> right;
    for (int i = 0; i < 700; ++i)
    {
        stereo.codes.push_back (0x123456);
        const int value = (i * 977) % 60000 - 30000;
        stereo.codes.push_back (uint32_t (value * 256 + 127) & 0xffffffu);
        right.push_back (int16_t (value));
    }
    writeWav (folder.file ("wav/stereo.wav"), stereo);

    writeManifest (folder.file ("set.txt"),
                   "# a test set\n"
                   "kind 2\n"
                   "\n"
                   "wav/low.wav 45 64\n"
                   "\"wav/high loop.wav\" 81 127 loop=wav decay=5000   # from the smpl chunk\n"
                   "wav/stereo.wav 93 30 channel=right loop=100:600\n");

    const std::string output = folder.file ("out.rks");
    const ToolRun pack = runTool (folder, packTool, folder.file ("set.txt") + " " + output);
    ASSERT_EQ (pack.status, 0) << pack.err;
    EXPECT_EQ (pack.err, "");

    DecodedSet set;
    SetFileHeader header;
    ASSERT_EQ (decodeFile (output, set, &header), SetDecodeStatus::ok);
    EXPECT_EQ (header.kind, 2);
    ASSERT_EQ (set.zoneCount, 3);

    const tableDataType& zoneLow = set.table[0];
    EXPECT_EQ (zoneLow.rootNote, 45);
    EXPECT_EQ (zoneLow.velocity, 64);
    EXPECT_FALSE (zoneLow.looped);
    EXPECT_EQ (zoneLow.samplePeriod, 1.0 / 44100.0);
    EXPECT_EQ (std::vector<int16_t> (zoneLow.data, zoneLow.data + low.size()), low);

    // Cut right after the loop's end.
    const tableDataType& zoneHigh = set.table[1];
    EXPECT_TRUE (zoneHigh.looped);
    EXPECT_EQ (zoneHigh.length, 2500u);
    EXPECT_EQ (zoneHigh.loopLength, 1500u);
    EXPECT_EQ (zoneHigh.loopGain, 0.9950000047683716);
    EXPECT_EQ (std::vector<int16_t> (zoneHigh.data, zoneHigh.data + 2500),
               std::vector<int16_t> (high.begin(), high.begin() + 2500));

    const tableDataType& zoneStereo = set.table[2];
    EXPECT_EQ (zoneStereo.length, 600u);
    EXPECT_EQ (zoneStereo.loopLength, 500u);
    EXPECT_EQ (zoneStereo.loopGain, 1.0);
    EXPECT_EQ (zoneStereo.samplePeriod, 1.0 / 96000.0);
    EXPECT_EQ (std::vector<int16_t> (zoneStereo.data, zoneStereo.data + 600),
               std::vector<int16_t> (right.begin(), right.begin() + 600));

    // --kind overrides the manifest.
    const ToolRun kind0 = runTool (folder, packTool, "--kind 0 " + folder.file ("set.txt") + " " + folder.file ("k0.rks"));
    ASSERT_EQ (kind0.status, 0) << kind0.err;
    ASSERT_EQ (decodeFile (folder.file ("k0.rks"), set, &header), SetDecodeStatus::ok);
    EXPECT_EQ (header.kind, 0);

    // The listing.
    const ToolRun info = runTool (folder, infoTool, output);
    ASSERT_EQ (info.status, 0) << info.err;
    EXPECT_NE (info.out.find ("zones: 3"), std::string::npos) << info.out;
    EXPECT_NE (info.out.find ("total samples: 8256"), std::string::npos) << info.out;
    EXPECT_NE (info.out.find ("kind: 2"), std::string::npos) << info.out;
    std::istringstream lines (info.out);
    std::string line;
    std::vector<std::vector<std::string>> rows;
    while (std::getline (lines, line))
    {
        std::istringstream words (line);
        std::vector<std::string> fields;
        std::string word;
        while (words >> word)
            fields.push_back (word);
        if (fields.size() == 11 && fields[0] != "zone")
            rows.push_back (fields);
    }
    ASSERT_EQ (rows.size(), 3u) << info.out;
    EXPECT_EQ (rows[1], (std::vector<std::string> { "1", "81", "127", "48000", "2500", "yes", "1500",
                                                    "0.9950000047683716", "40", rows[1][9], rows[1][10] }));
    EXPECT_EQ (rows[0][4], "5056");     // unlooped: whole blocks play
    EXPECT_EQ (rows[0][8], "79");
    EXPECT_LE (std::stoi (rows[1][9]), std::stoi (rows[1][10]));
    EXPECT_EQ (rows[2][3], "96000");

    // Extract and read back.
    const ToolRun extract = runTool (folder, infoTool, output + " --extract " + folder.file ("zones"));
    ASSERT_EQ (extract.status, 0) << extract.err;
    WavAudio audio;
    ASSERT_EQ (readWavFile (folder.file ("zones/zone_000_root45_vel064.wav"), audio), "");
    EXPECT_EQ (audio.sampleRate, 44100u);
    EXPECT_EQ (audio.channels, 1);
    EXPECT_FALSE (audio.hasLoop);
    const std::vector<int16_t> lowBack = wavTo16BitMono (audio, WavChannel::mix);
    ASSERT_EQ (lowBack.size(), 5056u);
    EXPECT_EQ (std::vector<int16_t> (lowBack.begin(), lowBack.begin() + 5000), low);

    ASSERT_EQ (readWavFile (folder.file ("zones/zone_001_root81_vel127.wav"), audio), "");
    EXPECT_TRUE (audio.hasLoop);
    EXPECT_EQ (audio.loopStart, 1000u);
    EXPECT_EQ (audio.loopEnd, 2500u);
    EXPECT_EQ (wavTo16BitMono (audio, WavChannel::mix), std::vector<int16_t> (high.begin(), high.begin() + 2500));
    EXPECT_TRUE (exists (folder.file ("zones/zone_002_root93_vel030.wav")));

    // The extracted zones pack again into the same samples.
    writeManifest (folder.file ("again.txt"), "zones/zone_001_root81_vel127.wav 81 127 loop=wav decay=5000\n");
    ASSERT_EQ (runTool (folder, packTool, folder.file ("again.txt") + " " + folder.file ("again.rks")).status, 0);
    DecodedSet again;
    ASSERT_EQ (decodeFile (folder.file ("again.rks"), again), SetDecodeStatus::ok);
    DecodedSet original;
    ASSERT_EQ (decodeFile (output, original), SetDecodeStatus::ok);
    EXPECT_EQ (std::vector<int16_t> (again.table[0].data, again.table[0].data + 2560),
               std::vector<int16_t> (original.table[1].data, original.table[1].data + 2560));
}

TEST_F (SamplesTools, PackRefusesBadManifestsAndWritesNothing)
{
    writeWav (folder.file ("wav/mono.wav"), mono16 (std::vector<int16_t> (500, 3)));
    WavSpec stereo = mono16 (std::vector<int16_t> (500, 3));
    stereo.channels = 2;
    writeWav (folder.file ("wav/stereo.wav"), stereo);
    writeWav (folder.file ("wav/fast.wav"), mono16 (std::vector<int16_t> (500, 3), 192000));
    writeWav (folder.file ("wav/long.wav"), mono16 (std::vector<int16_t> (600000, -3)));

    struct Case
    {
        const char* what;
        std::string manifest;
        std::string mentions;
    };
    std::string tooMany;
    for (int i = 0; i < 256; ++i)
        tooMany += "wav/mono.wav 60 100\n";
    const Case cases[] = {
        { "stereo without channel", "wav/mono.wav 60 100\nwav/stereo.wav 61 100\n", ":2: wav/stereo.wav: stereo" },
        { "rate above 131071", "\n\nwav/fast.wav 60 100\n", ":3: wav/fast.wav: sample rate 192000" },
        { "missing WAV", "wav/none.wav 60 100\n", ":1: wav/none.wav" },
        { "no smpl loop", "wav/mono.wav 60 100 loop=wav\n", "smpl" },
        { "loop past the end", "wav/mono.wav 60 100 loop=10:501\n", "501" },
        { "loop backwards", "wav/mono.wav 60 100 loop=10:10\n", ":1:" },
        { "loop too long", "wav/long.wav 60 100 loop=0:524288\n", ":1: wav/long.wav: loop length 524288" },
        { "decay without loop", "wav/mono.wav 60 100 decay=5\n", "decay" },
        { "decay too large", "wav/mono.wav 60 100 loop=0:10 decay=1048576\n", "decay" },
        { "bad root", "wav/mono.wav 256 100\n", "root" },
        { "bad velocity", "wav/mono.wav 60 x\n", "velocity" },
        { "bad channel", "wav/stereo.wav 60 100 channel=both\n", "channel" },
        { "unknown field", "wav/mono.wav 60 100 speed=2\n", "speed=2" },
        { "too few fields", "wav/mono.wav 60\n", ":1:" },
        { "bad kind", "kind 300\nwav/mono.wav 60 100\n", ":1: kind" },
        { "unclosed quote", "\"wav/mono.wav 60 100\n", "quote" },
        { "no zones", "# nothing\n", "no zones" },
        { "256 zones", tooMany, ":256: more than 255 zones" },
    };
    const std::string output = folder.file ("out.rks");
    for (const Case& c : cases)
    {
        SCOPED_TRACE (c.what);
        writeManifest (folder.file ("bad.txt"), c.manifest);
        const ToolRun run = runTool (folder, packTool, folder.file ("bad.txt") + " " + output);
        EXPECT_EQ (run.status, 1);
        EXPECT_NE (run.err.find (c.mentions), std::string::npos) << run.err;
        EXPECT_NE (run.err.find ("bad.txt"), std::string::npos) << run.err;
        EXPECT_EQ (std::count (run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_FALSE (exists (output));
    }

    // A good pack, then a bad one to the same name: the old file stays whole.
    writeManifest (folder.file ("good.txt"), "wav/mono.wav 60 100\n");
    ASSERT_EQ (runTool (folder, packTool, folder.file ("good.txt") + " " + output).status, 0);
    const std::string before = readText (output);
    writeManifest (folder.file ("bad.txt"), "wav/mono.wav 60 100\nwav/stereo.wav 61 100\n");
    EXPECT_EQ (runTool (folder, packTool, folder.file ("bad.txt") + " " + output).status, 1);
    EXPECT_EQ (readText (output), before);

    EXPECT_EQ (runTool (folder, packTool, "").status, 1);
    EXPECT_EQ (runTool (folder, packTool, "--kind " + folder.file ("good.txt") + " " + output).status, 1);
}

TEST_F (SamplesTools, InfoRefusesWhatTheDecoderRefuses)
{
    const std::vector<uint8_t> whole = encode ({ sineZone (60, 100, 1000) });
    std::vector<uint8_t> cut (whole.begin(), whole.end() - 10);
    ASSERT_TRUE (writeBytes (folder.file ("cut.rks"), cut));
    const ToolRun truncated = runTool (folder, infoTool, folder.file ("cut.rks"));
    EXPECT_EQ (truncated.status, 1);
    EXPECT_NE (truncated.err.find ("cut.rks"), std::string::npos);

    ASSERT_TRUE (writeBytes (folder.file ("empty.rks"), encode ({})));
    const ToolRun empty = runTool (folder, infoTool, folder.file ("empty.rks"));
    EXPECT_EQ (empty.status, 0);
    EXPECT_NE (empty.out.find ("zones: 0"), std::string::npos);

    EXPECT_EQ (runTool (folder, infoTool, folder.path).status, 1);
    EXPECT_EQ (runTool (folder, infoTool, folder.file ("none.rks")).status, 1);
}
