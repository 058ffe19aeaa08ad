// Quality checks of the default sample sets that the build synthesises into
// <build>/samples: pitch, velocity response, loop joins, headroom, and a
// chromatic scale through the voice engine. Analysis, not listening.

#include <gtest/gtest.h>

#include "VoiceEngine.h"
#include "samples/SampleSet.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace
{

using Complex = std::complex<double>;
constexpr double pi = 3.14159265358979323846;

const std::string setFolder = TOLVEK_BINARY_DIR "/samples";

struct LoadedSet
{
    std::string fileName;
    SetFileHeader header;
    DecodedSet set;
    SetDecodeStatus status = SetDecodeStatus::malformed;
    bool opened = false;

    int zoneCount() const { return set.zoneCount; }
    const tableDataType& zone (int i) const { return set.table[i]; }
};

const char* const setFileNames[] = { "Tolvek Suitcase.rks", "Tolvek Stage.rks", "tines.tin" };

// Empty when every default set is there, else what is missing.
std::string missingSets()
{
    struct stat st;
    if (stat (setFolder.c_str(), &st) != 0 || ! S_ISDIR (st.st_mode))
        return "no sample folder " + setFolder;
    std::string missing;
    for (const char* name : setFileNames)
        if (stat ((setFolder + "/" + name).c_str(), &st) != 0)
            missing += std::string (missing.empty() ? "" : ", ") + "\"" + name + "\"";
    return missing.empty() ? missing : "no " + missing + " in " + setFolder;
}

enum SetIndex
{
    suitcase,
    stage,
    tines
};

// Decoded once for all tests: decoding takes longer than most checks.
const std::vector<std::unique_ptr<LoadedSet>>& defaultSets()
{
    static std::vector<std::unique_ptr<LoadedSet>> sets;
    if (sets.empty())
    {
        for (const char* name : setFileNames)
        {
            auto s = std::make_unique<LoadedSet>();
            s->fileName = name;
            SetFileReader reader;
            s->opened = reader.open ((setFolder + "/" + name).c_str()) && reader.readHeader (s->header);
            if (s->opened)
                s->status = reader.decode (s->header, s->set);
            sets.push_back (std::move (s));
        }
    }
    return sets;
}

double noteHz (int note)
{
    return 440.0 * std::pow (2.0, (note - 69) / 12.0);
}

double zoneRate (const tableDataType& z)
{
    return 1.0 / z.samplePeriod;
}

// The zone as the engine plays it at its root note and its own rate: one zone
// sample per output sample, then the loop over and over, loopGain once per pass.
std::vector<double> playAtRoot (const tableDataType& z, size_t from, size_t count)
{
    std::vector<double> out;
    const size_t length = z.length;
    size_t position = 0;
    double gain = 1.0;
    for (size_t i = 0; i < from + count; ++i, ++position)
    {
        if (position == length)
        {
            if (! z.looped || z.loopLength == 0)
                break;
            position -= z.loopLength;
            gain *= z.loopGain;
        }
        if (i >= from)
            out.push_back (gain * z.data[position]);
    }
    return out;
}

// In-place radix-2 transform; plain real arithmetic, since complex products
// checked for infinities cost several times more.
void fft (std::vector<Complex>& a)
{
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i)
    {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap (a[i], a[j]);
    }
    std::vector<double> twiddleRe (n / 2), twiddleIm (n / 2);
    for (size_t k = 0; k < n / 2; ++k)
    {
        twiddleRe[k] = std::cos (-2.0 * pi * (double) k / (double) n);
        twiddleIm[k] = std::sin (-2.0 * pi * (double) k / (double) n);
    }
    for (size_t len = 2; len <= n; len <<= 1)
    {
        const size_t half = len / 2, stride = n / len;
        for (size_t i = 0; i < n; i += len)
        {
            for (size_t k = 0; k < half; ++k)
            {
                const double wr = twiddleRe[k * stride], wi = twiddleIm[k * stride];
                const double ur = a[i + k].real(), ui = a[i + k].imag();
                const double xr = a[i + k + half].real(), xi = a[i + k + half].imag();
                const double vr = xr * wr - xi * wi, vi = xr * wi + xi * wr;
                a[i + k] = Complex (ur + vr, ui + vi);
                a[i + k + half] = Complex (ur - vr, ui - vi);
            }
        }
    }
}

size_t powerOfTwoAtLeast (size_t n)
{
    size_t p = 1;
    while (p < n)
        p <<= 1;
    return p;
}

std::vector<double> hann (size_t n)
{
    std::vector<double> w (n);
    for (size_t i = 0; i < n; ++i)
        w[i] = 0.5 - 0.5 * std::cos (2.0 * pi * ((double) i + 0.5) / (double) n);
    return w;
}

// The strongest spectral peak within 60 cents of expectedHz: a Hann window,
// fourfold zero padding, and a parabola through the logarithms of the peak bin
// and its neighbours (for this window and padding good to a few hundredths of
// a cent at the 100 periods measured).
double estimateFundamental (const std::vector<double>& x, double rate, double expectedHz)
{
    const std::vector<double> w = hann (x.size());
    const size_t size = powerOfTwoAtLeast (4 * x.size());
    std::vector<Complex> spectrum (size);
    for (size_t i = 0; i < x.size(); ++i)
        spectrum[i] = x[i] * w[i];
    fft (spectrum);

    const double spacing = rate / (double) size;
    const double reach = std::pow (2.0, 60.0 / 1200.0);
    const size_t lo = std::max<size_t> (1, (size_t) std::floor (expectedHz / reach / spacing));
    const size_t hi = std::min (size / 2 - 2, (size_t) std::ceil (expectedHz * reach / spacing));
    size_t best = lo;
    for (size_t k = lo; k <= hi; ++k)
        if (std::abs (spectrum[k]) > std::abs (spectrum[best]))
            best = k;

    const double left = std::log (std::abs (spectrum[best - 1]));
    const double centre = std::log (std::abs (spectrum[best]));
    const double right = std::log (std::abs (spectrum[best + 1]));
    const double offset = 0.5 * (left - right) / (left - 2.0 * centre + right);
    return ((double) best + offset) * spacing;
}

double rmsOf (const tableDataType& z)
{
    double sum = 0.0;
    for (uint32_t i = 0; i < z.length; ++i)
        sum += (double) z.data[i] * z.data[i];
    return std::sqrt (sum / z.length);
}

// Centroid of the magnitude spectrum of the strike (the first 0.3 s), where a
// harder blow is heard.
double attackCentroid (const tableDataType& z)
{
    const double rate = zoneRate (z);
    const size_t n = std::min<size_t> (z.length, (size_t) (0.3 * rate));
    const std::vector<double> w = hann (n);
    std::vector<Complex> spectrum (powerOfTwoAtLeast (n));
    for (size_t i = 0; i < n; ++i)
        spectrum[i] = z.data[i] * w[i];
    fft (spectrum);
    double weighted = 0.0, total = 0.0;
    for (size_t k = 1; k < spectrum.size() / 2; ++k)
    {
        const double m = std::abs (spectrum[k]);
        weighted += m * (double) k * rate / (double) spectrum.size();
        total += m;
    }
    return weighted / total;
}

class DefaultSets : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const std::string missing = missingSets();
        if (! missing.empty())
            GTEST_SKIP() << missing << ": build the tolvek_default_sets target to check the default sets";
        for (const auto& s : defaultSets())
        {
            ASSERT_TRUE (s->opened) << s->fileName << " cannot be read";
            ASSERT_EQ (s->status, SetDecodeStatus::ok) << s->fileName << " does not decode";
        }
    }

    static const LoadedSet& set (SetIndex i) { return *defaultSets()[(size_t) i]; }
};

TEST_F (DefaultSets, KindsAndLayout)
{
    EXPECT_EQ (set (suitcase).header.kind, 2) << "the suitcase set plays with the tine set";
    EXPECT_EQ (set (stage).header.kind, 0) << "the stage set leaves the top keys undamped";

    for (const auto& s : defaultSets())
    {
        std::map<int, int> layersPerRoot;
        for (int i = 0; i < s->zoneCount(); ++i)
        {
            const tableDataType& z = s->zone (i);
            ++layersPerRoot[z.rootNote];
            EXPECT_GT (z.length, 64u) << s->fileName << " zone " << i;
            const bool tineSet = &*s == &set (tines);
            EXPECT_EQ (z.looped, ! tineSet) << s->fileName << " zone " << i << ": main zones loop, tine zones do not";
            if (tineSet)
            {
                const double seconds = z.length * z.samplePeriod;
                EXPECT_GE (seconds, 0.08) << s->fileName << " zone " << i;
                EXPECT_LE (seconds, 0.15) << s->fileName << " zone " << i;
            }
        }
        for (const auto& [root, layers] : layersPerRoot)
            EXPECT_GE (layers, 4) << s->fileName << " root " << root;
    }
}

TEST_F (DefaultSets, EveryKeyHasARootWithinTwoSemitones)
{
    auto nearestDistance = [] (const LoadedSet& s, int note) {
        const int z = VoiceEngine::findNearestZone (s.set.table.get(), s.zoneCount(), note, 100);
        return z < 0 ? 999 : std::abs (note - (int) s.zone (z).rootNote);
    };
    for (int key = 21; key <= 108; ++key)
    {
        EXPECT_LE (nearestDistance (set (suitcase), key), 2) << "suitcase key " << key;
        EXPECT_LE (nearestDistance (set (stage), key), 2) << "stage key " << key;
        EXPECT_LE (nearestDistance (set (tines), key + 12), 2) << "tine note " << key + 12;
        EXPECT_LE (nearestDistance (set (tines), key + 24), 2) << "tine note " << key + 24;
    }
}

TEST_F (DefaultSets, FundamentalWithinThreeCentsOfRoot)
{
    for (const auto& s : defaultSets())
    {
        double worst = 0.0;
        for (int i = 0; i < s->zoneCount(); ++i)
        {
            const tableDataType& z = s->zone (i);
            const double rate = zoneRate (z);
            const double expected = noteHz (z.rootNote);
            // Past the strike, 100 periods of what is heard (at least 0.1 s, at most
            // 1.5 s); a tine zone is all strike and is taken whole.
            const size_t from = z.looped ? (size_t) (0.05 * rate) : 0;
            const size_t count = (size_t) std::clamp (100.0 * rate / expected, 0.1 * rate, 1.5 * rate);
            const std::vector<double> heard = playAtRoot (z, from, count);
            ASSERT_GT (heard.size() / (rate / expected), 5.0) << s->fileName << " zone " << i << ": too short to measure";

            const double cents = 1200.0 * std::log2 (estimateFundamental (heard, rate, expected) / expected);
            EXPECT_LE (std::fabs (cents), 3.0) << s->fileName << " zone " << i << " root " << (int) z.rootNote
                                               << " velocity " << (int) z.velocity;
            worst = std::max (worst, std::fabs (cents));
        }
        std::printf ("%-20s worst fundamental error %.3f cents\n", s->fileName.c_str(), worst);
    }
}

TEST_F (DefaultSets, LoudnessAndBrightnessRiseWithVelocity)
{
    for (const auto& s : defaultSets())
    {
        std::map<int, std::vector<const tableDataType*>> byRoot;
        for (int i = 0; i < s->zoneCount(); ++i)
            byRoot[s->zone (i).rootNote].push_back (&s->zone (i));

        double smallestLoudnessStep = 1.0e9, smallestBrightnessStep = 1.0e9;
        for (auto& [root, layers] : byRoot)
        {
            std::sort (layers.begin(), layers.end(),
                       [] (const tableDataType* a, const tableDataType* b) { return a->velocity < b->velocity; });
            // A lone partial cannot get brighter: where the second harmonic has no
            // room below the zone's Nyquist rate, only loudness is checked.
            const bool harmonicsFit = 2.0 * noteHz (root) < 0.4 * zoneRate (*layers[0]);
            for (size_t k = 1; k < layers.size(); ++k)
            {
                const double loudness = rmsOf (*layers[k]) / rmsOf (*layers[k - 1]);
                EXPECT_GT (loudness, 1.0) << s->fileName << " root " << root << " velocity "
                                          << (int) layers[k]->velocity << " is not louder than the layer below";
                smallestLoudnessStep = std::min (smallestLoudnessStep, loudness);
                if (harmonicsFit)
                {
                    const double brightness = attackCentroid (*layers[k]) / attackCentroid (*layers[k - 1]);
                    EXPECT_GT (brightness, 1.0) << s->fileName << " root " << root << " velocity "
                                                << (int) layers[k]->velocity << " is not brighter than the layer below";
                    smallestBrightnessStep = std::min (smallestBrightnessStep, brightness);
                }
            }
        }
        std::printf ("%-20s smallest layer-to-layer rise: RMS x%.3f, centroid x%.4f\n", s->fileName.c_str(),
                     smallestLoudnessStep, smallestBrightnessStep);
    }
}

TEST_F (DefaultSets, LoopsJoinWithoutAJump)
{
    for (const auto& s : defaultSets())
    {
        double worstJump = 0.0, worstKink = 0.0;
        for (int i = 0; i < s->zoneCount(); ++i)
        {
            const tableDataType& z = s->zone (i);
            if (! z.looped)
                continue;
            ASSERT_GE (z.loopLength, 64u) << s->fileName << " zone " << i;
            ASSERT_LE (z.loopLength, z.length) << s->fileName << " zone " << i;
            ASSERT_GT (z.loopGain, 0.9) << s->fileName << " zone " << i;
            ASSERT_LE (z.loopGain, 1.0) << s->fileName << " zone " << i;

            const short* loop = z.data + (z.length - z.loopLength);
            const uint32_t n = z.loopLength;
            std::vector<double> steps, bends;
            for (uint32_t k = 0; k + 1 < n; ++k)
                steps.push_back (std::fabs ((double) loop[k + 1] - loop[k]));
            for (uint32_t k = 0; k + 2 < n; ++k)
                bends.push_back (std::fabs ((double) loop[k + 2] - 2.0 * loop[k + 1] + loop[k]));
            std::nth_element (steps.begin(), steps.begin() + steps.size() / 2, steps.end());
            const double medianStep = steps[steps.size() / 2];
            const double largestBend = *std::max_element (bends.begin(), bends.end());

            // What is heard across the join: the last sample, then the loop's first
            // with one more loopGain.
            const double next = z.loopGain * loop[0];
            const double jump = std::fabs (next - loop[n - 1]);
            const double bend = std::fabs (next - 2.0 * loop[n - 1] + loop[n - 2]);
            EXPECT_LE (jump, medianStep) << s->fileName << " zone " << i << " root " << (int) z.rootNote;
            EXPECT_LE (bend, 1.1 * largestBend + 2.0) << s->fileName << " zone " << i << " root " << (int) z.rootNote;
            worstJump = std::max (worstJump, jump / std::max (1.0, medianStep));
            worstKink = std::max (worstKink, bend / std::max (1.0, largestBend));
        }
        if (&*s != &set (tines))
            std::printf ("%-20s worst loop join: jump %.2f of the median step, bend %.2f of the largest\n",
                         s->fileName.c_str(), worstJump, worstKink);
    }
}

TEST_F (DefaultSets, NoZoneClipsAndTheRangeIsUsed)
{
    for (const auto& s : defaultSets())
    {
        int loudest = 0;
        for (int i = 0; i < s->zoneCount(); ++i)
        {
            const tableDataType& z = s->zone (i);
            int peak = 0;
            for (uint32_t k = 0; k < z.length; ++k)
                peak = std::max (peak, std::abs ((int) z.data[k]));
            EXPECT_LT (peak, 32767) << s->fileName << " zone " << i << " clips";
            loudest = std::max (loudest, peak);
        }
        const double dbfs = 20.0 * std::log10 (loudest / 32767.0);
        EXPECT_GT (dbfs, -2.0) << s->fileName << ": the loudest zone should come near full scale";
        std::printf ("%-20s loudest zone peak %.2f dBFS\n", s->fileName.c_str(), dbfs);
    }
}

// Every key of an 88-key keyboard, one after another, at 48 kHz: each note-on
// must start its main voice (and with the suitcase set its tine voice), and
// each must sound.
TEST_F (DefaultSets, ChromaticScaleSoundsEveryKey)
{
    for (SetIndex which : { suitcase, stage })
    {
        const LoadedSet& main = set (which);
        const LoadedSet& tine = set (tines);
        SetView view;
        view.samples = main.set.samples.get();
        view.table = main.set.table.get();
        view.tableSize = main.set.zoneCount;
        view.setKind = (short) main.header.kind;
        if (view.setKind == 2)
        {
            view.tineSamples = tine.set.samples.get();
            view.tineTable = tine.set.table.get();
            view.tineTableSize = tine.set.zoneCount;
        }

        VoiceParams params;
        params.tinemix = 0.5f;
        const int rate = 48000;
        auto engine = std::make_unique<VoiceEngine>();
        engine->reset();
        std::vector<float> block (rate / 10);

        for (int key = 21; key <= 108; ++key)
        {
            const uint8_t on[3] = { 0x90, (uint8_t) key, 100 };
            const uint8_t off[3] = { 0x80, (uint8_t) key, 0 };
            engine->handleMidi (on, 3, view, params, rate);

            auto sounding = [&] (const voiceDataType* bank) {
                for (int v = 0; v < voiceBankSize; ++v)
                    if (bank[v].active && bank[v].note == key)
                        return true;
                return false;
            };
            EXPECT_TRUE (sounding (engine->voices)) << main.fileName << " key " << key << ": main voice dropped";
            if (view.setKind == 2)
            {
                EXPECT_TRUE (sounding (engine->tineVoices)) << main.fileName << " key " << key << ": tine voice dropped";
            }

            engine->render (block.data(), (int) block.size(), view, params, rate);
            EXPECT_TRUE (sounding (engine->voices)) << main.fileName << " key " << key << " ended within 0.1 s";

            double sum = 0.0;
            for (float x : block)
            {
                ASSERT_TRUE (std::isfinite (x)) << main.fileName << " key " << key;
                sum += (double) x * x;
            }
            EXPECT_GT (std::sqrt (sum / block.size()), 1.0e-3) << main.fileName << " key " << key << " is silent";

            engine->handleMidi (off, 3, view, params, rate);
        }
    }
}

} // namespace
