#include "samples/WavFile.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace
{
uint16_t get16 (const uint8_t* p) { return uint16_t (p[0] | (p[1] << 8)); }
uint32_t get32 (const uint8_t* p) { return uint32_t (p[0]) | (uint32_t (p[1]) << 8) | (uint32_t (p[2]) << 16) | (uint32_t (p[3]) << 24); }

void put16 (std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back (uint8_t (v));
    out.push_back (uint8_t (v >> 8));
}
void put32 (std::vector<uint8_t>& out, uint32_t v)
{
    put16 (out, v & 0xffffu);
    put16 (out, v >> 16);
}
void putTag (std::vector<uint8_t>& out, const char* tag) { out.insert (out.end(), tag, tag + 4); }

struct FileCloser
{
    void operator() (std::FILE* f) const { std::fclose (f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

bool readAll (const std::string& path, std::vector<uint8_t>& bytes)
{
    FilePtr file (std::fopen (path.c_str(), "rb"));
    if (! file)
        return false;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread (chunk, 1, sizeof (chunk), file.get())) > 0)
        bytes.insert (bytes.end(), chunk, chunk + n);
    return std::ferror (file.get()) == 0;
}

double decodeSample (const uint8_t* p, int bits, bool floatingPoint)
{
    if (floatingPoint)
    {
        float f;
        std::memcpy (&f, p, 4);
        return double (f) * 32768.0;
    }
    switch (bits)
    {
        case 8: return double (int (p[0]) - 128) * 256.0;
        case 16: return double (int16_t (get16 (p)));
        case 24:
        {
            int32_t v = int32_t (uint32_t (p[0]) | (uint32_t (p[1]) << 8) | (uint32_t (p[2]) << 16));
            if (v & 0x800000)
                v -= 0x1000000;
            return double (v) / 256.0;
        }
        default: return double (int32_t (get32 (p))) / 65536.0;
    }
}
} // namespace

std::string readWavFile (const std::string& path, WavAudio& audio)
{
    audio = WavAudio();
    std::vector<uint8_t> bytes;
    if (! readAll (path, bytes))
        return "cannot read the file";
    if (bytes.size() < 12 || std::memcmp (bytes.data(), "RIFF", 4) != 0 || std::memcmp (bytes.data() + 8, "WAVE", 4) != 0)
        return "not a RIFF WAVE file";

    const uint8_t* fmt = nullptr;
    uint32_t fmtSize = 0;
    const uint8_t* data = nullptr;
    size_t dataSize = 0;
    const uint8_t* smpl = nullptr;
    uint32_t smplSize = 0;

    size_t at = 12;
    while (at + 8 <= bytes.size())
    {
        const uint8_t* chunk = bytes.data() + at;
        const uint32_t size = get32 (chunk + 4);
        const size_t available = bytes.size() - (at + 8);
        const uint8_t* body = chunk + 8;
        if (std::memcmp (chunk, "data", 4) == 0)
        {
            // A data chunk cut short (or with an unknown size) holds what is there.
            data = body;
            dataSize = size > available ? available : size;
        }
        else if (size <= available)
        {
            if (std::memcmp (chunk, "fmt ", 4) == 0)
            {
                fmt = body;
                fmtSize = size;
            }
            else if (std::memcmp (chunk, "smpl", 4) == 0)
            {
                smpl = body;
                smplSize = size;
            }
        }
        if (size > available)
            break;
        at += 8 + size + (size & 1u);
    }

    if (fmt == nullptr || fmtSize < 16)
        return "no format chunk";
    if (data == nullptr)
        return "no data chunk";

    uint16_t format = get16 (fmt);
    const int channels = get16 (fmt + 2);
    const uint32_t rate = get32 (fmt + 4);
    const int bits = get16 (fmt + 14);
    if (format == 0xfffe)
    {
        if (fmtSize < 40)
            return "extensible format chunk too short";
        format = get16 (fmt + 24);     // first two bytes of the sub-format GUID
    }
    if (format != 1 && format != 3)
        return "unsupported WAV encoding " + std::to_string (format) + " (PCM or float only)";
    if (channels != 1 && channels != 2)
        return std::to_string (channels) + " channels (mono or stereo only)";
    const bool floatingPoint = format == 3;
    if (floatingPoint ? bits != 32 : (bits != 8 && bits != 16 && bits != 24 && bits != 32))
        return std::to_string (bits) + "-bit " + (floatingPoint ? "float" : "PCM") + " samples are not supported";
    if (rate == 0)
        return "sample rate 0";

    audio.sampleRate = rate;
    audio.channels = channels;
    audio.bitsPerSample = bits;
    audio.floatingPoint = floatingPoint;

    const size_t bytesPerSample = size_t (bits / 8);
    const size_t values = dataSize / bytesPerSample / size_t (channels) * size_t (channels);
    audio.frames.resize (values);
    for (size_t i = 0; i < values; ++i)
        audio.frames[i] = decodeSample (data + i * bytesPerSample, bits, floatingPoint);

    if (smpl != nullptr && smplSize >= 36 + 24 && get32 (smpl + 28) >= 1)
    {
        const uint8_t* loop = smpl + 36;
        const uint32_t start = get32 (loop + 8);
        const uint32_t end = get32 (loop + 12);     // inclusive in the chunk
        if (end >= start && end < 0xffffffffu)
        {
            audio.hasLoop = true;
            audio.loopStart = start;
            audio.loopEnd = end + 1;
        }
    }
    return {};
}

std::vector<int16_t> wavTo16BitMono (const WavAudio& audio, WavChannel channel)
{
    const size_t count = audio.frameCount();
    std::vector<int16_t> out (count);
    const int channels = audio.channels;
    for (size_t i = 0; i < count; ++i)
    {
        const double* frame = audio.frames.data() + i * size_t (channels);
        double v;
        if (channels == 1)
            v = frame[0];
        else if (channel == WavChannel::left)
            v = frame[0];
        else if (channel == WavChannel::right)
            v = frame[1];
        else
            v = (frame[0] + frame[1]) * 0.5;
        if (! (v == v))
            v = 0.0;
        v = std::round (v);
        out[i] = int16_t (v > 32767.0 ? 32767.0 : (v < -32768.0 ? -32768.0 : v));
    }
    return out;
}

std::string writeWavFile16 (const std::string& path, const std::vector<int16_t>& samples, uint32_t sampleRate,
                            bool looped, uint32_t loopStart, uint32_t loopEnd, int rootNote)
{
    if (looped && (loopEnd <= loopStart || loopEnd > samples.size()))
        return "loop " + std::to_string (loopStart) + ":" + std::to_string (loopEnd) + " lies outside the samples";
    const uint64_t dataBytes = uint64_t (samples.size()) * 2u;
    if (dataBytes > 0xffffff00ull)
        return "too many samples for a WAV file";

    std::vector<uint8_t> out;
    out.reserve (size_t (dataBytes) + 128);
    putTag (out, "RIFF");
    put32 (out, 0);
    putTag (out, "WAVE");

    putTag (out, "fmt ");
    put32 (out, 16);
    put16 (out, 1);
    put16 (out, 1);
    put32 (out, sampleRate);
    put32 (out, sampleRate * 2u);
    put16 (out, 2);
    put16 (out, 16);

    if (looped)
    {
        putTag (out, "smpl");
        put32 (out, 36 + 24);
        put32 (out, 0);     // manufacturer
        put32 (out, 0);     // product
        put32 (out, sampleRate > 0 ? uint32_t (1e9 / sampleRate + 0.5) : 0u);
        put32 (out, uint32_t (rootNote >= 0 && rootNote <= 127 ? rootNote : 60));
        put32 (out, 0);     // pitch fraction
        put32 (out, 0);     // SMPTE format
        put32 (out, 0);     // SMPTE offset
        put32 (out, 1);     // loops
        put32 (out, 0);     // sampler data
        put32 (out, 0);     // cue point
        put32 (out, 0);     // forward loop
        put32 (out, loopStart);
        put32 (out, loopEnd - 1);
        put32 (out, 0);     // fraction
        put32 (out, 0);     // play forever
    }

    putTag (out, "data");
    put32 (out, uint32_t (dataBytes));
    for (int16_t s : samples)
        put16 (out, uint16_t (s));

    const uint32_t riffSize = uint32_t (out.size() - 8);
    out[4] = uint8_t (riffSize);
    out[5] = uint8_t (riffSize >> 8);
    out[6] = uint8_t (riffSize >> 16);
    out[7] = uint8_t (riffSize >> 24);

    FilePtr file (std::fopen (path.c_str(), "wb"));
    if (! file)
        return "cannot create " + path + ": " + std::strerror (errno);
    if (std::fwrite (out.data(), 1, out.size(), file.get()) != out.size())
        return "cannot write " + path + ": " + std::strerror (errno);
    std::FILE* raw = file.release();
    if (std::fclose (raw) != 0)
        return "cannot write " + path + ": " + std::strerror (errno);
    return {};
}
