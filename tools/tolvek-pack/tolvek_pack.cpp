// tolvek-pack: builds a sample-set file from WAV recordings listed in a manifest.
//
//   tolvek-pack [--kind K] MANIFEST OUTPUT.rks
//
// Manifest: one zone a line, '#' starts a comment, blank lines are ignored.
//   WAVPATH ROOT VELOCITY [loop=START:END | loop=wav] [decay=D] [channel=left|right|mix]
//   kind K
// WAV paths are relative to the manifest's folder; a path with spaces goes in
// double quotes. START is the loop's first sample, END one past its last; a
// looped zone ends with its loop. --kind overrides a "kind" line.

#include "samples/SetEncoder.h"
#include "samples/WavFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace
{
const char* const usage = "usage: tolvek-pack [--kind K] MANIFEST OUTPUT.rks\n";

// Splits a manifest line into fields; '#' outside quotes ends the line.
bool splitFields (const std::string& line, std::vector<std::string>& fields)
{
    fields.clear();
    size_t i = 0;
    while (i < line.size())
    {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r')
        {
            ++i;
            continue;
        }
        if (c == '#')
            break;
        std::string field;
        if (c == '"')
        {
            const size_t close = line.find ('"', i + 1);
            if (close == std::string::npos)
                return false;
            field = line.substr (i + 1, close - i - 1);
            i = close + 1;
        }
        else
        {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '#')
                field += line[i++];
        }
        fields.push_back (field);
    }
    return true;
}

bool parseUnsigned (const std::string& text, unsigned long max, unsigned long& value)
{
    if (text.empty() || text.size() > 10)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    errno = 0;
    value = std::strtoul (text.c_str(), nullptr, 10);
    return errno == 0 && value <= max;
}

std::string folderOf (const std::string& path)
{
    const size_t slash = path.find_last_of ('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr (0, slash);
}

struct Manifest
{
    std::string path;
    bool hasKind = false;
    int kind = 0;
    std::vector<ZoneSource> zones;
};

struct LineError
{
    std::string text;
};

// Reads one zone line into `zone`; empty on success.
std::string readZoneLine (const std::vector<std::string>& fields, const std::string& folder, ZoneSource& zone)
{
    if (fields.size() < 3)
        return "expected WAVPATH ROOT VELOCITY [loop=START:END|loop=wav] [decay=D] [channel=left|right|mix]";

    const std::string& wavName = fields[0];
    const std::string wavPath = (! wavName.empty() && wavName[0] == '/') ? wavName : folder + "/" + wavName;

    unsigned long root, velocity;
    if (! parseUnsigned (fields[1], 255, root))
        return "root note '" + fields[1] + "' is not a number in 0..255";
    if (! parseUnsigned (fields[2], 255, velocity))
        return "velocity '" + fields[2] + "' is not a number in 0..255";

    enum class LoopFrom { none, range, wav } loopFrom = LoopFrom::none;
    unsigned long loopStart = 0, loopEnd = 0, decay = 0;
    bool hasDecay = false, hasChannel = false;
    WavChannel channel = WavChannel::mix;

    for (size_t i = 3; i < fields.size(); ++i)
    {
        const std::string& option = fields[i];
        if (option.rfind ("loop=", 0) == 0)
        {
            if (loopFrom != LoopFrom::none)
                return "loop given twice";
            const std::string value = option.substr (5);
            if (value == "wav")
                loopFrom = LoopFrom::wav;
            else
            {
                const size_t colon = value.find (':');
                if (colon == std::string::npos || ! parseUnsigned (value.substr (0, colon), 0xffffffffUL, loopStart)
                    || ! parseUnsigned (value.substr (colon + 1), 0xffffffffUL, loopEnd))
                    return "'" + option + "' is not loop=START:END or loop=wav";
                if (loopEnd <= loopStart)
                    return "loop end " + std::to_string (loopEnd) + " must be after loop start " + std::to_string (loopStart);
                loopFrom = LoopFrom::range;
            }
        }
        else if (option.rfind ("decay=", 0) == 0)
        {
            if (hasDecay)
                return "decay given twice";
            if (! parseUnsigned (option.substr (6), 1048575, decay))
                return "'" + option + "': decay must be a number in 0..1048575";
            hasDecay = true;
        }
        else if (option.rfind ("channel=", 0) == 0)
        {
            if (hasChannel)
                return "channel given twice";
            const std::string value = option.substr (8);
            if (value == "left")
                channel = WavChannel::left;
            else if (value == "right")
                channel = WavChannel::right;
            else if (value == "mix")
                channel = WavChannel::mix;
            else
                return "'" + option + "': channel must be left, right or mix";
            hasChannel = true;
        }
        else
            return "unknown field '" + option + "'";
    }
    if (hasDecay && loopFrom == LoopFrom::none)
        return "decay= needs a loop";

    WavAudio audio;
    const std::string wavProblem = readWavFile (wavPath, audio);
    if (! wavProblem.empty())
        return wavName + ": " + wavProblem;
    if (audio.channels == 2 && ! hasChannel)
        return wavName + ": stereo file: choose a channel with channel=left, channel=right or channel=mix";

    zone = ZoneSource();
    zone.samples = wavTo16BitMono (audio, channel);
    zone.rootNote = int (root);
    zone.velocity = int (velocity);
    zone.sampleRate = audio.sampleRate;

    if (loopFrom == LoopFrom::wav)
    {
        if (! audio.hasLoop)
            return wavName + ": loop=wav but the file has no loop in a 'smpl' chunk";
        loopStart = audio.loopStart;
        loopEnd = audio.loopEnd;
    }
    if (loopFrom != LoopFrom::none)
    {
        if (loopEnd > zone.samples.size())
            return wavName + ": loop " + std::to_string (loopStart) + ":" + std::to_string (loopEnd)
                 + " ends past the file's " + std::to_string (zone.samples.size()) + " samples";
        zone.samples.resize (loopEnd);     // the zone ends with its loop
        zone.looped = true;
        zone.loopLength = uint32_t (loopEnd - loopStart);
        zone.loopDecay = uint32_t (decay);
    }

    const std::string zoneProblem = checkZoneSource (zone);
    if (! zoneProblem.empty())
        return wavName + ": " + zoneProblem;
    return {};
}

// Empty on success, else "MANIFEST:LINE: reason" or "MANIFEST: reason".
std::string readManifest (Manifest& manifest)
{
    std::ifstream in (manifest.path);
    if (! in)
        return manifest.path + ": cannot open the manifest";
    const std::string folder = folderOf (manifest.path);

    std::string line;
    std::vector<std::string> fields;
    int lineNumber = 0;
    while (std::getline (in, line))
    {
        ++lineNumber;
        const std::string where = manifest.path + ":" + std::to_string (lineNumber) + ": ";
        if (! splitFields (line, fields))
            return where + "unclosed quote";
        if (fields.empty())
            continue;
        if (fields[0] == "kind" && fields.size() == 2)
        {
            unsigned long kind;
            if (! parseUnsigned (fields[1], 255, kind))
                return where + "kind '" + fields[1] + "' is not a number in 0..255";
            manifest.hasKind = true;
            manifest.kind = int (kind);
            continue;
        }
        ZoneSource zone;
        const std::string problem = readZoneLine (fields, folder, zone);
        if (! problem.empty())
            return where + problem;
        if (manifest.zones.size() == 255)
            return where + "more than 255 zones (a set holds at most 255)";
        manifest.zones.push_back (std::move (zone));
    }
    if (in.bad())
        return manifest.path + ": cannot read the manifest";
    if (manifest.zones.empty())
        return manifest.path + ": no zones";
    return {};
}
} // namespace

int main (int argc, char** argv)
{
    std::vector<std::string> positional;
    bool hasKind = false;
    int kind = 0;
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        if (arg == "--kind")
        {
            unsigned long value;
            if (i + 1 >= argc || ! parseUnsigned (argv[i + 1], 255, value))
            {
                std::fprintf (stderr, "tolvek-pack: --kind needs a number in 0..255\n");
                return 1;
            }
            hasKind = true;
            kind = int (value);
            ++i;
        }
        else if (arg == "-h" || arg == "--help")
        {
            std::fputs (usage, stdout);
            return 0;
        }
        else if (arg.size() > 1 && arg[0] == '-')
        {
            std::fprintf (stderr, "tolvek-pack: unknown option %s\n%s", arg.c_str(), usage);
            return 1;
        }
        else
            positional.push_back (arg);
    }
    if (positional.size() != 2)
    {
        std::fputs (usage, stderr);
        return 1;
    }

    Manifest manifest;
    manifest.path = positional[0];
    const std::string problem = readManifest (manifest);
    if (! problem.empty())
    {
        std::fprintf (stderr, "tolvek-pack: %s\n", problem.c_str());
        return 1;
    }
    if (! hasKind)
        kind = manifest.kind;

    const std::string& output = positional[1];
    const std::string writeProblem = writeSetFile (output, manifest.zones, kind);
    if (! writeProblem.empty())
    {
        std::fprintf (stderr, "tolvek-pack: %s: %s\n", output.c_str(), writeProblem.c_str());
        return 1;
    }

    unsigned long long samples = 0;
    for (const ZoneSource& zone : manifest.zones)
        samples += zone.samples.size();
    std::printf ("%s: %zu zones, %llu samples, kind %d\n", output.c_str(), manifest.zones.size(), samples, kind);
    return 0;
}
