// Tolvek against the peers on bench/dense_passage.mid, in one run:
//  - Tolvek ("Tolvek Suitcase.rks", every effect on, cabinet 3) and the mda
//    ePiano (LV2, hosted through JUCE) at 48 kHz in blocks of 512, alternating,
//    best of N rounds each, on this thread's CPU time and on wall time;
//  - FluidSynth's fast file renderer (program 4) on the same passage, wall time;
//  - the scale table: Tolvek's real-time factor against sounding voices, sample
//    rate and block size, written as CSV for bench/plot_performance.py.
//
//   bench_plugin_peers [--rounds N] [--block N] [--tinemix X] [--csv FILE] [--no-fluidsynth] [--no-scale]
//
// --block changes the head-to-head block size (default 512); the scale table
// always measures its own. --tinemix sets Tolvek's tine mix (default 0) everywhere.
//
// Peers: apt-get install fluidsynth fluid-soundfont-gm mda-lv2

#include "PluginProcessor.h"
#include "PluginSamplePath.h"

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_events/juce_events.h>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

namespace
{

constexpr const char* mdaUri = "http://drobilla.net/plugins/mda/EPiano";
constexpr const char* soundFont = "/usr/share/sounds/sf2/FluidR3_GM.sf2";
constexpr double tailSeconds = 2.0;

double threadSeconds()
{
    timespec now;
    clock_gettime (CLOCK_THREAD_CPUTIME_ID, &now);
    return (double) now.tv_sec + 1.0e-9 * (double) now.tv_nsec;
}

double wallSeconds()
{
    return std::chrono::duration<double> (std::chrono::steady_clock::now().time_since_epoch()).count();
}

double childCpuSeconds()
{
    rusage usage;
    getrusage (RUSAGE_CHILDREN, &usage);
    return (double) usage.ru_utime.tv_sec + 1.0e-6 * (double) usage.ru_utime.tv_usec
         + (double) usage.ru_stime.tv_sec + 1.0e-6 * (double) usage.ru_stime.tv_usec;
}

struct Timing
{
    double cpu = 1.0e30;
    double wall = 1.0e30;

    void keepBest (double cpuTaken, double wallTaken)
    {
        cpu = std::min (cpu, cpuTaken);
        wall = std::min (wall, wallTaken);
    }
};

struct TimedEvent
{
    double seconds;
    juce::MidiMessage message;
};

std::vector<TimedEvent> readPassage (const juce::File& file)
{
    std::vector<TimedEvent> events;
    juce::FileInputStream stream (file);
    juce::MidiFile midi;
    if (! stream.openedOk() || ! midi.readFrom (stream, true))
        return events;
    midi.convertTimestampTicksToSeconds();
    juce::MidiMessageSequence merged;
    for (int t = 0; t < midi.getNumTracks(); ++t)
        merged.addSequence (*midi.getTrack (t), 0.0);
    merged.sort();
    for (int i = 0; i < merged.getNumEvents(); ++i)
    {
        const juce::MidiMessage& m = merged.getEventPointer (i)->message;
        if (! m.isMetaEvent() && ! m.isSysEx())
            events.push_back ({ m.getTimeStamp(), m });
    }
    return events;
}

// The passage cut into blocks once, so that the timed loops only copy.
struct BlockedPassage
{
    double rate = 48000.0;
    int blockSize = 512;
    int64_t totalSamples = 0;
    std::vector<juce::MidiBuffer> blocks;

    BlockedPassage (const std::vector<TimedEvent>& events, double sampleRate, int block)
        : rate (sampleRate), blockSize (block)
    {
        const double last = events.empty() ? 0.0 : events.back().seconds;
        totalSamples = (int64_t) std::llround ((last + tailSeconds) * rate);
        blocks.resize ((size_t) ((totalSamples + blockSize - 1) / blockSize));
        for (const auto& e : events)
        {
            const int64_t at = std::min<int64_t> ((int64_t) std::llround (e.seconds * rate), totalSamples - 1);
            blocks[(size_t) (at / blockSize)].addEvent (e.message, (int) (at % blockSize));
        }
    }

    double audioSeconds() const { return (double) totalSamples / rate; }
};

// Renders the passage through `processor`; returns CPU and wall seconds. With
// `hash`, channel 0 is kept (outside the timing) and its bits folded into
// *hash (FNV-1a), its largest magnitude into *peak.
void renderPassage (juce::AudioProcessor& processor, const BlockedPassage& passage, int channels, double& cpuTaken,
                    double& wallTaken, uint64_t* hash, double* peak)
{
    juce::AudioBuffer<float> buffer (channels, passage.blockSize);
    juce::MidiBuffer scratch;
    scratch.ensureSize (4096);
    std::vector<float> kept (hash != nullptr ? (size_t) passage.totalSamples : 0);

    const double cpu0 = threadSeconds();
    const double wall0 = wallSeconds();
    for (size_t b = 0; b < passage.blocks.size(); ++b)
    {
        const int64_t at = (int64_t) b * passage.blockSize;
        const int n = (int) std::min<int64_t> (passage.blockSize, passage.totalSamples - at);
        buffer.setSize (channels, n, false, false, true);
        buffer.clear();
        scratch.clear();
        scratch.addEvents (passage.blocks[b], 0, -1, 0);
        processor.processBlock (buffer, scratch);
        if (hash != nullptr)
            std::memcpy (kept.data() + at, buffer.getReadPointer (0), sizeof (float) * (size_t) n);
    }
    cpuTaken = threadSeconds() - cpu0;
    wallTaken = wallSeconds() - wall0;

    if (hash != nullptr)
    {
        uint64_t h = 1469598103934665603ull;
        float top = 0.0f;
        for (const float x : kept)
        {
            uint32_t bits;
            std::memcpy (&bits, &x, 4);
            h = (h ^ bits) * 1099511628211ull;
            top = std::max (top, std::abs (x));
        }
        *hash = h;
        if (peak != nullptr)
            *peak = top;
    }
}

//------------------------------------------------------------------------------
struct TolvekSetup
{
    juce::File folder { TOLVEK_BINARY_DIR "/samples" };
    float tineMix = 0.0f;

    int setPosition (const juce::String& name) const { return SamplePath::listSets (folder).indexOf (name); }

    // Every effect on, cabinet 3, the named set; ready to play.
    std::unique_ptr<TolvekAudioProcessor> make (const juce::String& setName, double rate, int block) const
    {
        auto p = std::make_unique<TolvekAudioProcessor> (folder.getFullPathName());
        const int position = setPosition (setName);
        if (position < 0)
            return nullptr;
        *p->program = position;
        *p->driveon = true;
        *p->drivecab = 3;
        *p->eqon = true;
        *p->choruson = true;
        *p->reverbon = true;
        *p->tremon = true;
        *p->tinemix = tineMix;
        p->setPlayConfigDetails (p->getTotalNumInputChannels(), p->getTotalNumOutputChannels(), rate, block);
        p->prepareToPlay (rate, block);
        return p;
    }
};

int tolvekChannels (const juce::AudioProcessor& p)
{
    return std::max (1, std::max (p.getTotalNumInputChannels(), p.getTotalNumOutputChannels()));
}

int soundingVoices (const TolvekAudioProcessor& p)
{
    int count = 0;
    for (const auto& v : p.engine.voices)
        count += v.active ? 1 : 0;
    for (const auto& v : p.engine.tineVoices)
        count += v.active ? 1 : 0;
    return count;
}

struct MdaHost
{
    juce::LV2PluginFormat format;
    juce::PluginDescription description;
    bool found = false;

    MdaHost()
    {
        format.searchPathsForPlugins (juce::FileSearchPath ("/usr/lib/lv2"), false, false);
        juce::OwnedArray<juce::PluginDescription> types;
        format.findAllTypesForFile (types, mdaUri);
        if (! types.isEmpty())
        {
            description = *types[0];
            found = true;
        }
    }

    std::unique_ptr<juce::AudioPluginInstance> make (double rate, int block)
    {
        juce::String error;
        auto instance = format.createInstanceFromDescription (description, rate, block, error);
        if (instance == nullptr)
        {
            std::fprintf (stderr, "mda ePiano: %s\n", error.toRawUTF8());
            return nullptr;
        }
        instance->enableAllBuses();
        instance->setPlayConfigDetails (instance->getTotalNumInputChannels(), instance->getTotalNumOutputChannels(), rate, block);
        instance->prepareToPlay (rate, block);
        return instance;
    }
};

//------------------------------------------------------------------------------
// FluidSynth's file renderer on the passage with program 4; best wall time of
// `rounds`, and the child's CPU time of that run. Returns the audio seconds it wrote.
double timeFluidSynth (int rounds, Timing& timing)
{
    const juce::File temp = juce::File::getSpecialLocation (juce::File::tempDirectory);
    const juce::File midi = temp.getNonexistentChildFile ("tolvek-passage-program4", ".mid", false);
    const juce::File wav = temp.getNonexistentChildFile ("tolvek-fluidsynth", ".wav", false);
    const juce::String script = juce::String (TOLVEK_SOURCE_DIR) + "/bench/make_dense_passage.py";
    const juce::String makeVariant = "/usr/bin/python3 '" + script + "' --program-variant '" + midi.getFullPathName() + "'";
    if (std::system (makeVariant.toRawUTF8()) != 0)
        return 0.0;
    const juce::String command = juce::String ("fluidsynth -ni -q -F '") + wav.getFullPathName() + "' -r 48000 -O s16 -T wav "
                               + soundFont + " '" + midi.getFullPathName() + "' > /dev/null 2>&1";
    double audio = 0.0;
    for (int r = 0; r < rounds; ++r)
    {
        const double child0 = childCpuSeconds();
        const double wall0 = wallSeconds();
        const int status = std::system (command.toRawUTF8());
        const double wallTaken = wallSeconds() - wall0;
        const double cpuTaken = childCpuSeconds() - child0;
        if (status != 0)
            break;
        if (wallTaken < timing.wall)
            timing.cpu = cpuTaken;
        timing.wall = std::min (timing.wall, wallTaken);
        // 16-bit stereo after a 44-byte header.
        audio = (double) (wav.getSize() - 44) / (4.0 * 48000.0);
    }
    midi.deleteFile();
    wav.deleteFile();
    return audio;
}

//------------------------------------------------------------------------------
struct ScaleRow
{
    const char* axis;
    double value;
    double voices;
    double rtf;
};

// Tolvek with `notes` keys held (pedal down) for the first 64 ms, while the
// short tine voices still sound with the main ones.
ScaleRow measureVoices (const TolvekSetup& setup, const juce::String& setName, int notes, int rounds)
{
    constexpr double rate = 48000.0;
    constexpr int block = 512;
    constexpr int blocks = 6;
    Timing best;
    double voiceSum = 0.0;
    for (int r = 0; r < rounds; ++r)
    {
        auto p = setup.make (setName, rate, block);
        juce::AudioBuffer<float> buffer (tolvekChannels (*p), block);
        juce::MidiBuffer start, none;
        start.addEvent (juce::MidiMessage::controllerEvent (1, 64, 127), 0);
        for (int k = 0; k < notes; ++k)
            start.addEvent (juce::MidiMessage::noteOn (1, 36 + k, (juce::uint8) 100), 0);
        double cpu = 0.0, wall = 0.0;
        voiceSum = 0.0;
        for (int b = 0; b < blocks; ++b)
        {
            buffer.clear();
            juce::MidiBuffer& midi = b == 0 ? start : none;
            const double cpu0 = threadSeconds();
            const double wall0 = wallSeconds();
            p->processBlock (buffer, midi);
            cpu += threadSeconds() - cpu0;
            wall += wallSeconds() - wall0;
            voiceSum += soundingVoices (*p);
        }
        best.keepBest (cpu, wall);
    }
    return { "voices", (double) notes, voiceSum / blocks, blocks * block / rate / best.cpu };
}

ScaleRow measurePassage (const TolvekSetup& setup, const std::vector<TimedEvent>& events, const char* axis, double rate,
                         int block, int rounds, double value)
{
    const BlockedPassage passage (events, rate, block);
    Timing best;
    for (int r = 0; r < rounds; ++r)
    {
        auto p = setup.make ("Tolvek Suitcase.rks", rate, block);
        double cpu = 0.0, wall = 0.0;
        renderPassage (*p, passage, tolvekChannels (*p), cpu, wall, nullptr, nullptr);
        best.keepBest (cpu, wall);
    }
    return { axis, value, 0.0, passage.audioSeconds() / best.cpu };
}

} // namespace

int main (int argc, char** argv)
{
    int rounds = 5;
    int headBlock = 512;
    float tineMix = 0.0f;
    juce::String csvPath = TOLVEK_BINARY_DIR "/bench/performance.csv";
    bool withFluidSynth = true;
    bool withScale = true;
    for (int i = 1; i < argc; ++i)
    {
        const juce::String arg (argv[i]);
        if (arg == "--rounds" && i + 1 < argc)
            rounds = std::max (1, std::atoi (argv[++i]));
        else if (arg == "--block" && i + 1 < argc)
            headBlock = juce::jlimit (1, TolvekAudioProcessor::maxSliceLength, std::atoi (argv[++i]));
        else if (arg == "--tinemix" && i + 1 < argc)
            tineMix = juce::jlimit (0.0f, 1.0f, (float) std::atof (argv[++i]));
        else if (arg == "--csv" && i + 1 < argc)
            csvPath = argv[++i];
        else if (arg == "--no-fluidsynth")
            withFluidSynth = false;
        else if (arg == "--no-scale")
            withScale = false;
        else
        {
            std::fprintf (stderr, "usage: bench_plugin_peers [--rounds N] [--block N] [--tinemix X] [--csv FILE] [--no-fluidsynth] [--no-scale]\n");
            return 2;
        }
    }

    juce::ScopedJuceInitialiser_GUI framework;

    const juce::File passageFile (TOLVEK_SOURCE_DIR "/bench/dense_passage.mid");
    const std::vector<TimedEvent> events = readPassage (passageFile);
    if (events.empty())
    {
        std::fprintf (stderr, "cannot read %s\n", passageFile.getFullPathName().toRawUTF8());
        return 1;
    }

    TolvekSetup setup;
    setup.tineMix = tineMix;
    if (setup.setPosition ("Tolvek Suitcase.rks") < 0)
    {
        std::fprintf (stderr, "no \"Tolvek Suitcase.rks\" in %s (build tolvek_default_sets)\n",
                      setup.folder.getFullPathName().toRawUTF8());
        return 1;
    }
    MdaHost mda;
    if (! mda.found)
        std::fprintf (stderr, "mda ePiano (%s) not found under /usr/lib/lv2: apt-get install mda-lv2\n", mdaUri);

    const BlockedPassage passage (events, 48000.0, headBlock);
    std::printf ("Dense passage: %s, %.1f s of audio at 48 kHz in blocks of %d, %d rounds each, best of.\n",
                 passageFile.getFileName().toRawUTF8(), passage.audioSeconds(), headBlock, rounds);

    Timing tolvek, ePiano;
    uint64_t tolvekHash = 0;
    double tolvekPeak = 0.0, mdaPeak = 0.0;
    int mostVoices = 0;
    for (int r = 0; r < rounds; ++r)
    {
        {
            auto p = setup.make ("Tolvek Suitcase.rks", 48000.0, headBlock);
            double cpu = 0.0, wall = 0.0;
            uint64_t hash = 0;
            renderPassage (*p, passage, tolvekChannels (*p), cpu, wall, &hash, &tolvekPeak);
            tolvek.keepBest (cpu, wall);
            if (r > 0 && hash != tolvekHash)
                std::printf ("warning: Tolvek's output differs between rounds\n");
            tolvekHash = hash;
        }
        if (mda.found)
        {
            if (auto instance = mda.make (48000.0, headBlock))
            {
                double cpu = 0.0, wall = 0.0;
                uint64_t hash = 0;
                renderPassage (*instance, passage, tolvekChannels (*instance), cpu, wall, &hash, &mdaPeak);
                ePiano.keepBest (cpu, wall);
            }
        }
    }

    {
        // How many voices the passage keeps sounding, from one more render.
        auto p = setup.make ("Tolvek Suitcase.rks", 48000.0, headBlock);
        juce::AudioBuffer<float> buffer (tolvekChannels (*p), headBlock);
        juce::MidiBuffer scratch;
        for (const auto& block : passage.blocks)
        {
            scratch.clear();
            scratch.addEvents (block, 0, -1, 0);
            p->processBlock (buffer, scratch);
            mostVoices = std::max (mostVoices, soundingVoices (*p));
        }
    }

    const double seconds = passage.audioSeconds();
    std::printf ("Tolvek (Suitcase, every effect on, cabinet 3): %7.1fx real time (CPU), %7.1fx (wall); "
                 "up to %d voices; output hash %016llx, peak %.3f\n",
                 seconds / tolvek.cpu, seconds / tolvek.wall, mostVoices, (unsigned long long) tolvekHash, tolvekPeak);
    if (ePiano.cpu < 1.0e29)
    {
        std::printf ("mda ePiano (LV2):                               %7.1fx real time (CPU), %7.1fx (wall); peak %.3f\n",
                     seconds / ePiano.cpu, seconds / ePiano.wall, mdaPeak);
        std::printf ("Ratio Tolvek / mda ePiano: %.2f (CPU), %.2f (wall)\n", ePiano.cpu / tolvek.cpu, ePiano.wall / tolvek.wall);
    }

    if (withFluidSynth)
    {
        Timing fluid;
        const double fluidAudio = timeFluidSynth (std::min (rounds, 3), fluid);
        if (fluidAudio > 0.0)
        {
            std::printf ("FluidSynth (-F, FluidR3_GM program 4):          %7.1fx real time (CPU), %7.1fx (wall); %.1f s written\n",
                         fluidAudio / fluid.cpu, fluidAudio / fluid.wall, fluidAudio);
            std::printf ("Ratio Tolvek / FluidSynth: %.1f (wall), %.1f (CPU)\n",
                         (seconds / tolvek.wall) / (fluidAudio / fluid.wall), (seconds / tolvek.cpu) / (fluidAudio / fluid.cpu));
        }
        else
        {
            std::printf ("FluidSynth did not run: apt-get install fluidsynth fluid-soundfont-gm\n");
        }
    }

    if (! withScale)
        return 0;

    std::vector<ScaleRow> rows;
    const int scaleRounds = std::max (1, std::min (rounds, 3));
    for (int notes : { 1, 8, 32, 64 })
        rows.push_back (measureVoices (setup, "Tolvek Stage.rks", notes, 4 * scaleRounds));
    // Twice 64: every main voice with its tine voice.
    {
        ScaleRow row = measureVoices (setup, "Tolvek Suitcase.rks", 64, 4 * scaleRounds);
        row.value = 128;
        rows.push_back (row);
    }
    for (int rate : { 44100, 48000, 88200, 96000, 176400, 192000 })
        rows.push_back (measurePassage (setup, events, "rate", rate, 512, scaleRounds, rate));
    for (int block : { 32, 64, 128, 256, 512, 1024 })
        rows.push_back (measurePassage (setup, events, "block", 48000.0, block, scaleRounds, block));

    std::printf ("\nScale (Tolvek, every effect on, CPU time, best of %d):\n", scaleRounds);
    std::printf ("  %-7s %9s %9s %10s\n", "axis", "value", "voices", "rtf");
    for (const auto& row : rows)
        std::printf ("  %-7s %9.0f %9.1f %9.1fx\n", row.axis, row.value, row.voices, row.rtf);
    double rtf32 = 0.0, rtf512 = 0.0;
    for (const auto& row : rows)
        if (juce::String (row.axis) == "block")
        {
            if (row.value == 32)
                rtf32 = row.rtf;
            if (row.value == 512)
                rtf512 = row.rtf;
        }
    if (rtf32 > 0.0)
        std::printf ("Blocks of 32 cost %.2fx blocks of 512\n", rtf512 / rtf32);

    juce::String csv = "axis,value,voices,rtf\n";
    for (const auto& row : rows)
        csv << row.axis << "," << juce::String (row.value, 0) << "," << juce::String (row.voices, 2) << ","
            << juce::String (row.rtf, 2) << "\n";
    const juce::File csvFile (csvPath);
    csvFile.getParentDirectory().createDirectory();
    if (csvFile.replaceWithText (csv))
        std::printf ("Scale table written to %s\n", csvFile.getFullPathName().toRawUTF8());
    return 0;
}
