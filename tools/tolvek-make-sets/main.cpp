// tolvek-make-sets: synthesises Tolvek's default sample sets from the tine piano
// model in EpianoModel and writes them as set files.
//
//   tolvek-make-sets OUTPUT_DIR [--wav WAV_DIR]
//
// Writes "Tolvek Suitcase.rks" (kind 2, played with "tines.tin"), "tines.tin" and
// "Tolvek Stage.rks" (kind 0). --wav also writes every zone as a WAV file with
// its loop, for listening and plotting. The output depends on nothing but this
// program: the same bytes on every run.

#include "EpianoModel.h"
#include "samples/SetEncoder.h"
#include "samples/WavFile.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace
{

constexpr uint32_t zoneRate = 44100;
constexpr int velocityLayers[] = { 40, 70, 100, 127 };

// Roots every 3 semitones, so that every key from 21 to 108 is within 2 semitones
// of a root; the tine roots cover those keys an octave and two octaves up.
constexpr int lowestRoot = 22, highestRoot = 106;
constexpr int lowestTineRoot = 33, highestTineRoot = 132;
constexpr int rootSpacing = 3;
constexpr double tineSeconds = 0.12;

// The loudest layer of every root peaks here (-1 dBFS); the others keep their
// level relative to it.
const double peakTarget = 32767.0 * std::pow (10.0, -1.0 / 20.0);

struct SetStats
{
    size_t samples = 0;
    double worstLoopCents = 0.0;
};

std::vector<int16_t> toPcm (const std::vector<double>& x, double scale)
{
    std::vector<int16_t> pcm (x.size());
    for (size_t i = 0; i < x.size(); ++i)
    {
        const long v = std::lround (x[i] * scale);
        pcm[i] = (int16_t) std::clamp (v, -32767L, 32767L);
    }
    return pcm;
}

double peakOf (const std::vector<double>& x)
{
    double peak = 0.0;
    for (double v : x)
        peak = std::max (peak, std::fabs (v));
    return peak;
}

// One root's velocity layers, scaled together so the loudest peaks at the target.
void addRoot (std::vector<RenderedZone>& layers, int root, std::vector<ZoneSource>& zones, SetStats& stats)
{
    double peak = 0.0;
    for (const auto& z : layers)
        peak = std::max (peak, peakOf (z.samples));
    const double scale = peak > 0.0 ? peakTarget / peak : 1.0;

    for (size_t i = 0; i < layers.size(); ++i)
    {
        ZoneSource zone;
        zone.samples = toPcm (layers[i].samples, scale);
        zone.rootNote = root;
        zone.velocity = velocityLayers[i];
        zone.sampleRate = zoneRate;
        zone.looped = layers[i].looped;
        zone.loopLength = layers[i].loopLength;
        zone.loopDecay = layers[i].loopDecay;
        stats.samples += zone.samples.size();
        if (layers[i].looped)
        {
            const double keyHz = 440.0 * std::pow (2.0, (root - 69) / 12.0);
            const double cents = 1200.0 * std::log2 (layers[i].fundamentalHz / keyHz);
            stats.worstLoopCents = std::max (stats.worstLoopCents, std::fabs (cents));
        }
        zones.push_back (std::move (zone));
    }
}

std::vector<ZoneSource> makeSustainSet (const EpianoVoicing& voicing, SetStats& stats)
{
    EpianoModel model { voicing, (double) zoneRate };
    std::vector<ZoneSource> zones;
    for (int root = lowestRoot; root <= highestRoot; root += rootSpacing)
    {
        std::vector<RenderedZone> layers;
        for (int v : velocityLayers)
            layers.push_back (model.renderSustainZone (root, v));
        addRoot (layers, root, zones, stats);
    }
    return zones;
}

std::vector<ZoneSource> makeTineSet (const EpianoVoicing& voicing, SetStats& stats)
{
    EpianoModel model { voicing, (double) zoneRate };
    std::vector<ZoneSource> zones;
    for (int root = lowestTineRoot; root <= highestTineRoot; root += rootSpacing)
    {
        std::vector<RenderedZone> layers;
        for (int v : velocityLayers)
            layers.push_back (model.renderTineStrike (root, v, tineSeconds));
        addRoot (layers, root, zones, stats);
    }
    return zones;
}

// Bright and barking: the pole close to the tine's axis and hard felt.
EpianoVoicing suitcaseVoicing()
{
    EpianoVoicing v;
    v.poleOffset = 0.35;
    v.swingInBass = 1.0;
    v.swingInTreble = 0.55;
    v.contactScale = 0.85;
    v.coilCutoffHz = 6500.0;
    v.coilQ = 1.3;
    v.barShare = 0.55;
    return v;
}

// Rounder: the pole near the flank of its field, where the pickup is most linear,
// softer felt and a darker coil.
EpianoVoicing stageVoicing()
{
    EpianoVoicing v;
    v.poleOffset = 0.5;
    v.swingInBass = 0.85;
    v.swingInTreble = 0.5;
    v.contactScale = 1.1;
    v.coilCutoffHz = 4800.0;
    v.coilQ = 0.85;
    v.barShare = 0.6;
    return v;
}

// The tine layer: the strike itself, hard felt, small swing, open coil.
EpianoVoicing tineVoicing()
{
    EpianoVoicing v = suitcaseVoicing();
    v.poleOffset = 0.5;
    v.swingInBass = 0.35;
    v.swingInTreble = 0.4;
    v.contactScale = 0.55;
    v.upperModeLevel = 0.6;
    v.coilCutoffHz = 14000.0;
    v.coilQ = 0.8;
    v.barShare = 1.0;
    return v;
}

bool writeWavs (const std::string& dir, const std::string& prefix, const std::vector<ZoneSource>& zones)
{
    for (const auto& z : zones)
    {
        char name[64];
        std::snprintf (name, sizeof (name), "%s_r%03d_v%03d.wav", prefix.c_str(), z.rootNote, z.velocity);
        const uint32_t size = (uint32_t) z.samples.size();
        const std::string problem = writeWavFile16 (dir + "/" + name, z.samples, z.sampleRate, z.looped,
                                                    z.looped ? size - z.loopLength : 0, size, z.rootNote);
        if (! problem.empty())
        {
            std::fprintf (stderr, "tolvek-make-sets: %s: %s\n", name, problem.c_str());
            return false;
        }
    }
    return true;
}

long long fileSize (const std::string& path)
{
    struct stat st;
    return stat (path.c_str(), &st) == 0 ? (long long) st.st_size : -1;
}

} // namespace

int main (int argc, char** argv)
{
    std::string outputDir, wavDir;
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp (argv[i], "--wav") == 0 && i + 1 < argc)
            wavDir = argv[++i];
        else if (outputDir.empty() && argv[i][0] != '-')
            outputDir = argv[i];
        else
        {
            std::fprintf (stderr, "usage: tolvek-make-sets OUTPUT_DIR [--wav WAV_DIR]\n");
            return 2;
        }
    }
    if (outputDir.empty())
    {
        std::fprintf (stderr, "usage: tolvek-make-sets OUTPUT_DIR [--wav WAV_DIR]\n");
        return 2;
    }

    struct Job
    {
        const char* fileName;
        const char* wavPrefix;
        int kind;
        bool tines;
        EpianoVoicing voicing;
    };
    const Job jobs[] = {
        { "Tolvek Suitcase.rks", "suitcase", 2, false, suitcaseVoicing() },
        { "tines.tin", "tines", 0, true, tineVoicing() },
        { "Tolvek Stage.rks", "stage", 0, false, stageVoicing() },
    };

    const auto started = std::chrono::steady_clock::now();
    for (const Job& job : jobs)
    {
        SetStats stats;
        const std::vector<ZoneSource> zones = job.tines ? makeTineSet (job.voicing, stats)
                                                        : makeSustainSet (job.voicing, stats);
        const std::string path = outputDir + "/" + job.fileName;
        const std::string problem = writeSetFile (path, zones, job.kind);
        if (! problem.empty())
        {
            std::fprintf (stderr, "tolvek-make-sets: %s: %s\n", path.c_str(), problem.c_str());
            return 1;
        }
        if (! wavDir.empty() && ! writeWavs (wavDir, job.wavPrefix, zones))
            return 1;

        std::printf ("%-20s kind %d, %zu zones, %zu samples, %lld bytes", job.fileName, job.kind, zones.size(),
                     stats.samples, fileSize (path));
        if (! job.tines)
            std::printf (", loops within %.3f cents", stats.worstLoopCents);
        std::printf ("\n");
    }
    const double seconds = std::chrono::duration<double> (std::chrono::steady_clock::now() - started).count();
    std::printf ("made in %.2f s\n", seconds);
    return 0;
}
