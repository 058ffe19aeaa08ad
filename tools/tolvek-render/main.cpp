// tolvek-render: plays a MIDI file through the Tolvek processor and writes a WAV,
// driving the processor as a host does (construct, prepare, block by block).
#include "PluginProcessor.h"
#include "RenderSession.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <cstdio>
#include <unistd.h>

namespace
{
const char* const usage =
    "usage: tolvek-render [options] INPUT.mid OUTPUT.wav\n"
    "  --samples DIR        sample folder (default: the sets built with Tolvek)\n"
    "  --rate HZ            sample rate (default 48000)\n"
    "  --block N            block length in samples (default 512)\n"
    "  --tail SECONDS       time rendered after the last event (default 3)\n"
    "  --no-split           fixed blocks; events act at the start of the block holding them\n"
    "  --set ID=VALUE       set a parameter's plain value (repeatable)\n"
    "  --sample-set NAME    play the set file NAME of the folder (sets `program` to its position)\n"
    "  --state FILE         restore a saved state block first\n"
    "  --save-state FILE    write the state block after the options are applied\n"
    "  --format F           pcm16, pcm24 (default) or float32\n"
    "  --mono               write channel 0 only\n"
    "  --quiet              no progress bar\n";

int fail (const juce::String& message)
{
    std::fprintf (stderr, "tolvek-render: %s\n", message.toRawUTF8());
    return 1;
}

bool parseNumber (const juce::String& text, double& value)
{
    const juce::String trimmed = text.trim();
    if (trimmed.isEmpty() || ! trimmed.containsOnly ("0123456789.-+eE"))
        return false;
    value = trimmed.getDoubleValue();
    return true;
}
} // namespace

int main (int argc, char** argv)
{
    RenderOptions options;
    options.sampleFolder = TOLVEK_DEFAULT_SET_DIR;
    juce::StringArray positional;

    for (int i = 1; i < argc; ++i)
    {
        const juce::String arg (juce::CharPointer_UTF8 (argv[i]));
        auto value = [&] (juce::String& out) -> bool
        {
            if (i + 1 >= argc)
                return false;
            out = juce::String (juce::CharPointer_UTF8 (argv[++i]));
            return true;
        };
        juce::String text;
        double number = 0;

        if (arg == "--help" || arg == "-h")
        {
            std::fputs (usage, stdout);
            return 0;
        }
        else if (arg == "--samples")
        {
            if (! value (options.sampleFolder)) return fail ("--samples needs a folder");
        }
        else if (arg == "--rate")
        {
            if (! value (text) || ! parseNumber (text, number) || number < 8000 || number > 384000)
                return fail ("--rate needs a sample rate from 8000 to 384000 Hz");
            options.sampleRate = number;
        }
        else if (arg == "--block")
        {
            if (! value (text) || ! parseNumber (text, number) || number < 1 || number > 65536 || number != (int) number)
                return fail ("--block needs a whole number of samples from 1 to 65536");
            options.blockSize = (int) number;
        }
        else if (arg == "--tail")
        {
            if (! value (text) || ! parseNumber (text, number) || number < 0 || number > 600)
                return fail ("--tail needs a number of seconds from 0 to 600");
            options.tailSeconds = number;
        }
        else if (arg == "--no-split")
            options.splitAtEvents = false;
        else if (arg == "--set")
        {
            if (! value (text) || ! text.containsChar ('='))
                return fail ("--set needs ID=VALUE");
            options.parameterSettings.add (text);
        }
        else if (arg == "--sample-set")
        {
            if (! value (options.setName)) return fail ("--sample-set needs a set file name");
        }
        else if (arg == "--state")
        {
            if (! value (options.stateFile)) return fail ("--state needs a file");
        }
        else if (arg == "--save-state")
        {
            if (! value (options.saveStateFile)) return fail ("--save-state needs a file");
        }
        else if (arg == "--format")
        {
            if (! value (text) || ! (text == "pcm16" || text == "pcm24" || text == "float32"))
                return fail ("--format must be pcm16, pcm24 or float32");
            options.format = text;
        }
        else if (arg == "--mono")
            options.mono = true;
        else if (arg == "--quiet")
            options.quiet = true;
        else if (arg.startsWith ("-") && arg.length() > 1)
            return fail ("unknown option " + arg + " (see --help)");
        else
            positional.add (arg);
    }

    if (positional.size() != 2)
    {
        std::fputs (usage, stderr);
        return 2;
    }
    options.midiFile = positional[0];
    options.outputFile = positional[1];
    options.showProgress = ! options.quiet && isatty (STDERR_FILENO);

    juce::ScopedJuceInitialiser_GUI framework;
    juce::String error;
    RenderSummary summary;
    if (! renderMidiFile (options, summary, error))
        return fail (error);

    if (! options.quiet)
        std::fprintf (stderr, "%s\n", summary.describe().toRawUTF8());
    return 0;
}
