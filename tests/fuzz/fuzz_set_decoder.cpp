// Decoder fuzz target: any bytes must either be refused or decode into zones
// that lie inside their own buffer; a decoded set must survive a re-encode.

#include "samples/SampleSet.h"
#include "samples/SetEncoder.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace
{
void require (bool condition)
{
    if (! condition)
        std::abort();
}

// Re-encodes the played part of every zone and checks that it decodes the same.
void checkRoundTrip (const SetFileHeader& header, const DecodedSet& set)
{
    std::vector<ZoneSource> zones ((size_t) set.zoneCount);
    for (int z = 0; z < set.zoneCount; ++z)
    {
        const tableDataType& zone = set.table[z];
        ZoneSource& source = zones[(size_t) z];
        if (zone.length == 0 || zone.samplePeriod == 0.0 || ! (zone.samplePeriod < 2.0))
            return;     // the encoder refuses empty zones and a rate of 0
        source.samples.assign (zone.data, zone.data + zone.length);
        source.rootNote = zone.rootNote;
        source.velocity = zone.velocity;
        source.sampleRate = (uint32_t) (1.0 / zone.samplePeriod + 0.5);
        source.spareBit = zone.spareBit;
        source.looped = zone.looped;
        source.loopLength = zone.loopLength;
        source.loopDecay = 0;
    }

    std::vector<uint8_t> bytes;
    if (! encodeSet (zones, header.kind, bytes).empty())
        return;

    SetFileReader reader;
    SetFileHeader again;
    DecodedSet copy;
    require (reader.openMemory (bytes.data(), bytes.size()));
    require (reader.readHeader (again));
    require (again.kind == header.kind && again.zoneCount == header.zoneCount);
    require (reader.decode (again, copy) == SetDecodeStatus::ok);
    for (int z = 0; z < set.zoneCount; ++z)
    {
        const tableDataType& a = set.table[z];
        const tableDataType& b = copy.table[z];
        require (a.rootNote == b.rootNote && a.velocity == b.velocity && a.looped == b.looped);
        require (a.spareBit == b.spareBit && a.samplePeriod == b.samplePeriod);
        require (a.looped ? a.length == b.length && a.loopLength == b.loopLength : b.length >= a.length);
        for (uint32_t i = 0; i < a.length; ++i)
            require (a.data[i] == b.data[i]);
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    SetFileReader reader;
    if (! reader.openMemory (data, size))
        return 0;
    SetFileHeader header;
    if (! reader.readHeader (header))
    {
        require (size < 16);
        return 0;
    }
    require (size >= 16);

    DecodedSet set;
    const SetDecodeStatus status = reader.decode (header, set);
    if (status != SetDecodeStatus::ok)
    {
        require (set.samples == nullptr && set.table == nullptr && set.zoneCount == 0);
        return 0;
    }

    require (set.zoneCount == header.zoneCount && set.zoneCount > 0);
    const short* begin = set.samples.get();
    const short* end = begin + header.totalSamples;
    int sum = 0;
    for (int z = 0; z < set.zoneCount; ++z)
    {
        const tableDataType& zone = set.table[z];
        require (zone.data >= begin && zone.data <= end);
        require (zone.length <= (uint32_t) (end - zone.data));
        if (zone.looped)
            require (zone.loopLength >= 1 && zone.loopLength <= zone.length);
        require (zone.spareBit <= 1);
        for (uint32_t i = 0; i < zone.length; ++i)
            sum += zone.data[i];
    }
    for (const short* p = begin; p < end; ++p)
        sum += *p;
    volatile int sink = sum;
    (void) sink;

    checkRoundTrip (header, set);
    return 0;
}
