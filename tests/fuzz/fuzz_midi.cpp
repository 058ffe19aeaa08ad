// MIDI fuzz target: random bytes become the events of a run of blocks of random
// lengths (zero and longer than the effect buffers included), on a processor
// with a random set of effects on. The output must stay finite and bounded.
//
// Input layout: one byte of switches, one byte choosing a cabinet and the drive
// gain, then blocks: two bytes of block length, one byte of event count, and
// per event one length byte, the event's bytes and one byte of position.
//
// The sets are small ones written into fuzz-sets/ of the working folder.

#include "PluginProcessor.h"
#include "plugin_fuzz_sets.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace
{
void require (bool condition, const char* what)
{
    if (! condition)
    {
        std::fprintf (stderr, "fuzz_midi: %s\n", what);
        std::abort();
    }
}

constexpr int longestBlock = 10000;

juce::ScopedJuceInitialiser_GUI* framework = nullptr;
TolvekAudioProcessor* processor = nullptr;
juce::AudioBuffer<float>* buffer = nullptr;
juce::MidiBuffer* midi = nullptr;
} // namespace

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    framework = new juce::ScopedJuceInitialiser_GUI();
    const juce::String sets = writeFuzzSets (juce::File::getCurrentWorkingDirectory().getChildFile ("fuzz-sets"));
    processor = new TolvekAudioProcessor (sets);
    processor->setRateAndBufferSizeDetails (44100.0, 512);
    processor->prepareToPlay (44100.0, 512);
    *processor->tinemix = 1.0f;
    *processor->reverbrefecl = 1.0f;
    buffer = new juce::AudioBuffer<float> (2, longestBlock);
    midi = new juce::MidiBuffer();
    midi->ensureSize (4096);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    FuzzedDataProvider input (data, size);

    // Every input starts from silent voices; the effect lines carry on.
    const uint8_t switches = input.ConsumeIntegral<uint8_t>();
    const uint8_t drive = input.ConsumeIntegral<uint8_t>();
    *processor->choruson = (switches & 1) != 0;
    *processor->reverbon = (switches & 2) != 0;
    *processor->eqon = (switches & 4) != 0;
    *processor->tineon = (switches & 8) != 0;
    *processor->tremon = (switches & 16) != 0;
    *processor->driveon = (switches & 32) != 0;
    *processor->drivecab = drive % 6;
    *processor->drivegain = 1.0f + (float) (drive / 6) * 0.2f;
    processor->reset();

    // 128 voices with full tines (2 x 64), unit EQ bands (1.1), the reverb's combs
    // at reflection 1 (about 830 for a held tone) and unit volume: only a
    // runaway goes past this.
    const float bound = 2.0e5f;

    for (int blocks = 0; blocks < 16 && input.remaining_bytes() > 0; ++blocks)
    {
        const uint16_t lengthCode = input.ConsumeIntegral<uint16_t>();
        // Mostly short blocks, now and then a long one, zero included.
        const int length = (lengthCode & 0x8000) != 0 ? (int) (lengthCode % (longestBlock + 1)) : (int) (lengthCode % 257);
        const int events = input.ConsumeIntegralInRange<int> (0, 32);

        midi->clear();
        for (int e = 0; e < events && input.remaining_bytes() > 0; ++e)
        {
            const int eventLength = input.ConsumeIntegralInRange<int> (1, 12);
            const std::vector<uint8_t> bytes = input.ConsumeBytes<uint8_t> ((size_t) eventLength);
            const int position = input.ConsumeIntegralInRange<int> (0, length);
            if (! bytes.empty())
                midi->addEvent (bytes.data(), (int) bytes.size(), position);
        }

        buffer->setSize (2, length, false, false, true);
        buffer->clear();
        processor->processBlock (*buffer, *midi);

        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < length; ++i)
            {
                const float x = buffer->getSample (ch, i);
                require (std::isfinite (x), "output not finite");
                require (std::abs (x) < bound, "output out of bounds");
            }
    }
    return 0;
}
