#pragma once

// Small sample sets for the processor fuzz targets: the default sets take
// tens of milliseconds to decode, and restored states switch sets often.
// Written into `folder` (made if needed) at start-up, the same every time:
// two sets, the first with a tine layer, and the tine set.

#include "samples/SetEncoder.h"

#include <juce_core/juce_core.h>

#include <cmath>
#include <cstdlib>

inline juce::String writeFuzzSets (const juce::File& folder)
{
    folder.createDirectory();
    auto zonesFrom = [] (int firstRoot, int length, bool looped)
    {
        std::vector<ZoneSource> zones;
        for (int root = firstRoot; root <= 96; root += 12)
        {
            ZoneSource zone;
            zone.rootNote = root;
            zone.velocity = 64 + root % 64;
            zone.samples.resize ((size_t) length);
            for (int i = 0; i < length; ++i)
                zone.samples[(size_t) i] = (int16_t) (16000.0 * std::sin (0.02 * i * (1 + root / 24)));
            zone.looped = looped;
            zone.loopLength = looped ? (uint32_t) (length / 2) : 0;
            zone.loopDecay = looped ? 500 : 0;
            zones.push_back (zone);
        }
        return zones;
    };
    bool written = writeSetFile (folder.getChildFile ("a.rks").getFullPathName().toStdString(), zonesFrom (24, 2048, true), 2).empty()
                && writeSetFile (folder.getChildFile ("b.rks").getFullPathName().toStdString(), zonesFrom (30, 1024, false), 0).empty()
                && writeSetFile (folder.getChildFile ("tines.tin").getFullPathName().toStdString(), zonesFrom (36, 512, false), 0).empty();
    if (! written)
        std::abort();
    return folder.getFullPathName();
}
