// tolvek-info: prints a sample set's header and zone table, and can write
// every zone back to a WAV file.
//
//   tolvek-info SET.rks [--extract DIR]
//
// Extracted zones are 16-bit mono, named zone_NNN_rootRR_velVVV.wav, with a
// 'smpl' loop for looped zones; only the samples that play are written.

#include "samples/SampleSet.h"
#include "samples/WavFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace
{
const char* const usage = "usage: tolvek-info SET.rks [--extract DIR]\n";

bool makeFolder (const std::string& path)
{
    struct stat info;
    if (::stat (path.c_str(), &info) == 0)
        return S_ISDIR (info.st_mode);
    return ::mkdir (path.c_str(), 0755) == 0;
}
} // namespace

int main (int argc, char** argv)
{
    std::string setPath, extractFolder;
    bool extract = false;
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        if (arg == "--extract")
        {
            if (i + 1 >= argc)
            {
                std::fprintf (stderr, "tolvek-info: --extract needs a folder\n");
                return 1;
            }
            extract = true;
            extractFolder = argv[++i];
        }
        else if (arg == "-h" || arg == "--help")
        {
            std::fputs (usage, stdout);
            return 0;
        }
        else if (arg.size() > 1 && arg[0] == '-')
        {
            std::fprintf (stderr, "tolvek-info: unknown option %s\n%s", arg.c_str(), usage);
            return 1;
        }
        else if (setPath.empty())
            setPath = arg;
        else
        {
            std::fputs (usage, stderr);
            return 1;
        }
    }
    if (setPath.empty())
    {
        std::fputs (usage, stderr);
        return 1;
    }

    SetFileReader reader;
    SetFileHeader header;
    if (! reader.open (setPath.c_str()))
    {
        std::fprintf (stderr, "tolvek-info: %s: cannot open (not a regular file?)\n", setPath.c_str());
        return 1;
    }
    if (! reader.readHeader (header))
    {
        std::fprintf (stderr, "tolvek-info: %s: shorter than a set header (16 bytes)\n", setPath.c_str());
        return 1;
    }

    std::printf ("set: %s\nzones: %d\ntotal samples: %u\nkind: %d\n", setPath.c_str(), header.zoneCount,
                 header.totalSamples, header.kind);

    DecodedSet set;
    std::vector<ZoneStreamInfo> details (size_t (header.zoneCount));
    const SetDecodeStatus status = reader.decode (header, set, details.data());
    if (status == SetDecodeStatus::empty)
    {
        std::printf ("empty set: nothing to play\n");
        return 0;
    }
    if (status != SetDecodeStatus::ok)
    {
        std::fprintf (stderr, "tolvek-info: %s: malformed or truncated set, refused\n", setPath.c_str());
        return 1;
    }

    std::printf ("%5s %4s %4s %7s %9s %6s %9s %18s %7s %5s %5s\n", "zone", "root", "vel", "rate", "length",
                 "looped", "loop_len", "loop_gain", "blocks", "min_w", "max_w");
    for (int z = 0; z < set.zoneCount; ++z)
    {
        const tableDataType& zone = set.table[z];
        const ZoneStreamInfo& info = details[size_t (z)];
        std::printf ("%5d %4u %4u %7u %9u %6s %9u %18.16f %7u %5d %5d\n", z, unsigned (zone.rootNote),
                     unsigned (zone.velocity), info.sampleRate, zone.length, zone.looped ? "yes" : "no",
                     zone.looped ? zone.loopLength : 0u, zone.looped ? zone.loopGain : 1.0, info.blockCount,
                     info.minWidth, info.maxWidth);
    }

    if (! extract)
        return 0;
    if (! makeFolder (extractFolder))
    {
        std::fprintf (stderr, "tolvek-info: %s: cannot create the folder: %s\n", extractFolder.c_str(),
                      std::strerror (errno));
        return 1;
    }
    for (int z = 0; z < set.zoneCount; ++z)
    {
        const tableDataType& zone = set.table[z];
        char name[64];
        std::snprintf (name, sizeof (name), "zone_%03d_root%02u_vel%03u.wav", z, unsigned (zone.rootNote),
                       unsigned (zone.velocity));
        const std::string path = extractFolder + "/" + name;
        const std::vector<int16_t> samples (zone.data, zone.data + zone.length);
        const std::string problem = writeWavFile16 (path, samples, details[size_t (z)].sampleRate, zone.looped,
                                                    zone.looped ? zone.length - zone.loopLength : 0u,
                                                    zone.looped ? zone.length : 0u, zone.rootNote);
        if (! problem.empty())
        {
            std::fprintf (stderr, "tolvek-info: %s\n", problem.c_str());
            return 1;
        }
    }
    std::printf ("extracted %d zones to %s\n", int (set.zoneCount), extractFolder.c_str());
    return 0;
}
