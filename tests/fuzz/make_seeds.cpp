// Writes a few encoded sets into a folder as the fuzzer's starting corpus.

#include "SetFixtures.h"

#include <cstdio>

int main (int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf (stderr, "usage: make_seeds FOLDER\n");
        return 1;
    }
    using namespace setfixtures;
    const std::string folder = argv[1];

    std::vector<std::vector<ZoneSource>> sets;
    sets.push_back ({});
    sets.push_back ({ sineZone (60, 100, 64) });
    sets.push_back ({ sineZone (60, 100, 100), rampZone (62, 90, 130, 32760, 1) });
    sets.push_back ({ loopedSineZone (48, 127, 300, 75, 5000) });
    sets.push_back ({ noiseZone (40, 20, 192, 1), noiseZone (41, 20, 64, 2, 1) });
    sets.push_back ({ rampZone (30, 10, 64, 0, 0), loopedSineZone (72, 60, 129, 1, 1000000) });
    sets.push_back (smallPianoZones (256));

    int index = 0;
    for (size_t i = 0; i < sets.size(); ++i)
        for (int kind : { 0, 2 })
        {
            const std::vector<uint8_t> bytes = encode (sets[i], kind);
            const std::string path = folder + "/seed_" + std::to_string (index++) + ".rks";
            if (bytes.empty() || ! writeBytes (path, bytes))
            {
                std::fprintf (stderr, "make_seeds: cannot make %s\n", path.c_str());
                return 1;
            }
        }
    return 0;
}
