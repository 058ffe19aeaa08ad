#pragma once

// A deliberately plain renderer of the dry voice signal: sample by sample, every
// parameter read where it is used, nothing hoisted or cached. It keeps its own
// voice state and shares no code with the engine, so the engine (and every later
// optimisation of it) can be checked against it bit for bit.
//
// Usage:
//   ReferenceVoiceRenderer ref;
//   ref.setSet (zones, zoneCount, kind, tineZones, tineZoneCount);  // stops all voices
//   ref.reset (sampleRateHz);
//   ref.handleMidi (bytes, size, params);   // each event of the block, in order
//   ref.render (out, n, params);            // params: any type with float value (ReferenceParam) const

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "samples/SampleSet.h"

enum class ReferenceParam
{
    attack,
    release,
    decay,
    sustain,
    tinemix,
    tremspeed,
    tremapm,
    tineon,
    tremon
};

// Fixed plain values; switches are on at 0.5 or more.
struct ReferenceFixedParams
{
    float attack = 0.0f;
    float release = 0.1f;
    float decay = 0.0f;
    float sustain = 1.0f;
    float tinemix = 0.0f;
    float tremspeed = 0.5f;
    float tremapm = 0.5f;
    float tineon = 0.0f;
    float tremon = 0.0f;

    float value (ReferenceParam id) const
    {
        switch (id)
        {
            case ReferenceParam::attack: return attack;
            case ReferenceParam::release: return release;
            case ReferenceParam::decay: return decay;
            case ReferenceParam::sustain: return sustain;
            case ReferenceParam::tinemix: return tinemix;
            case ReferenceParam::tremspeed: return tremspeed;
            case ReferenceParam::tremapm: return tremapm;
            case ReferenceParam::tineon: return tineon;
            case ReferenceParam::tremon: return tremon;
        }
        return 0.0f;
    }
};

struct ReferenceVoiceRenderer
{
    struct Voice
    {
        bool active = false;
        int note = 0;
        double gain = 0.0;
        double loopGain = 1.0;
        long long loopLength = 0;
        bool looped = false;
        const short* data = nullptr;
        long long length = 0;
        double pitchRatio = 1.0;
        double step = 1.0;
        double position = 0.0;
        int stage = 0;  // 0 attack, 1 decay, 2 release
        double level = 0.0;
    };

    Voice voices[64];
    Voice tineVoices[64];
    float pitchBend = 1.0f;
    bool sustainPedal = false;
    double tremoloGain = 0.0;
    bool tremoloRising = true;
    int sampleRateHz = 44100;

    const tableDataType* table = nullptr;
    int tableSize = 0;
    const tableDataType* tineTable = nullptr;
    int tineTableSize = 0;
    int setKind = 0;

    void setSet (const tableDataType* zones, int zoneCount, int kind,
                 const tableDataType* tineZones = nullptr, int tineZoneCount = 0)
    {
        for (auto& v : voices)
            v.active = false;
        for (auto& v : tineVoices)
            v.active = false;
        table = zones;
        tableSize = zoneCount;
        setKind = kind;
        tineTable = tineZones;
        tineTableSize = tineZoneCount;
    }

    void reset (int rateHz)
    {
        for (auto& v : voices)
            v.active = false;
        for (auto& v : tineVoices)
            v.active = false;
        pitchBend = 1.0f;
        sustainPedal = false;
        tremoloRising = true;
        tremoloGain = 0.0;
        sampleRateHz = rateHz;
    }

    static bool isOn (float value) { return value >= 0.5f; }

    static int nearestZone (const tableDataType* zones, int count, int note, int velocity)
    {
        if (count <= 0)
            return -1;
        int best = 16512;
        int index = 0;
        for (int k = 0; k < count; ++k)
        {
            int d = std::abs (note - zones[k].rootNote) * 128 + std::abs (velocity - zones[k].velocity);
            if (d < best)
            {
                best = d;
                index = k;
            }
        }
        return index;
    }

    void begin (Voice& v, const tableDataType& z, int pitchNote, int velocity, bool tine)
    {
        v.pitchRatio = std::pow (2.0, double (pitchNote - z.rootNote) / 12.0);
        v.step = 1.0 / (z.samplePeriod * double (sampleRateHz));
        v.position = 0.0;
        if (tine)
        {
            float r = float (velocity) / 127.0f;
            float lg = std::log10 (r);
            float twice = 2.0f * lg;
            v.gain = std::pow (10.0, double (twice));
        }
        else
        {
            v.gain = std::pow (10.0, 2.0 * std::log10 (double (velocity) / 127.0));
            v.looped = z.looped;
            v.loopLength = z.loopLength;
            v.loopGain = z.loopGain;
            // A loop with nowhere to go back to inside the zone plays through once.
            if (v.loopLength < 1 || v.loopLength > (long long) z.length)
                v.looped = false;
        }
        v.data = z.data;
        v.length = z.length;
        v.stage = 0;
        v.level = 0.0;
    }

    template <typename Params>
    int handleMidi (const uint8_t* bytes, int size, const Params& params)
    {
        if (size < 2)
            return -1;
        int status = bytes[0] >> 4;
        if (status == 0xC)
            return bytes[1];
        if (size < 3)
            return -1;

        int d1 = bytes[1];
        int d2 = bytes[2];
        if (status == 0x9 && d2 > 0)
        {
            noteOn (d1, d2, params);
        }
        else if (status == 0x8 || status == 0x9)
        {
            for (auto& v : voices)
                if (v.active && v.note == d1)
                    v.stage = 2;
            if (setKind == 2)
                for (auto& v : tineVoices)
                    if (v.active && v.note == d1)
                        v.stage = 2;
        }
        else if (status == 0xE)
        {
            int w = d1 + 128 * d2;
            float f = float (w) * 0.0001220703125f - 1.0f;
            if (f >= 0.0f)
                pitchBend = 1.0f + f;
            else
                pitchBend = 1.0f + 0.5f * f;
        }
        else if (status == 0xB && d1 == 64)
        {
            sustainPedal = d2 >= 64;
        }
        return -1;
    }

    template <typename Params>
    void noteOn (int n, int v, const Params& params)
    {
        int i = -1;
        for (int k = 0; k < 64 && i < 0; ++k)
            if (! voices[k].active)
                i = k;
        if (i < 0)
            return;
        int z = nearestZone (table, tableSize, n, v);
        if (z < 0)
            return;
        begin (voices[i], table[z], n, v, false);
        voices[i].note = n;
        voices[i].active = true;

        if (setKind != 2)
            return;
        int j = -1;
        for (int k = 0; k < 64 && j < 0; ++k)
            if (! tineVoices[k].active)
                j = k;
        if (j < 0)
            return;
        int tineNote = isOn (params.value (ReferenceParam::tineon)) ? n + 24 : n + 12;
        int tz = nearestZone (tineTable, tineTableSize, tineNote, v);
        if (tz < 0)
            return;
        begin (tineVoices[j], tineTable[tz], tineNote, v, true);
        tineVoices[j].note = n;
        tineVoices[j].active = true;
    }

    template <typename Params>
    void advanceTremolo (float inv, const Params& params)
    {
        if (params.value (ReferenceParam::tremon) < 0.5f)
        {
            tremoloGain = 1.0;
            return;
        }
        double step = double (inv / (1.1f - params.value (ReferenceParam::tremspeed)));
        if (tremoloRising)
        {
            tremoloGain += step;
            if (tremoloGain > 1.0)
                tremoloRising = false;
        }
        else
        {
            tremoloGain -= step;
            if (double (1.0f - params.value (ReferenceParam::tremapm)) > tremoloGain)
                tremoloRising = true;
        }
    }

    template <typename Params>
    void mainEnvelope (Voice& v, float inv, const Params& params)
    {
        if (v.stage == 0)
        {
            v.level += double (inv / params.value (ReferenceParam::attack));
            if (v.level >= 1.0)
            {
                v.level = 1.0;
                v.stage = 1;
            }
        }
        else if (v.stage == 1)
        {
            v.level -= double (inv / params.value (ReferenceParam::decay));
            if (v.level <= double (params.value (ReferenceParam::sustain)))
                v.level = double (params.value (ReferenceParam::sustain));
        }
        else
        {
            bool damperLets = setKind != 0 || v.note <= 83;
            if (damperLets && ! sustainPedal && params.value (ReferenceParam::release) < 5.0f)
                v.level -= double (inv / params.value (ReferenceParam::release));
            if (v.level <= 0.0)
            {
                v.level = 0.0;
                v.active = false;
            }
        }
    }

    void tineEnvelope (Voice& v, float inv)
    {
        if (v.stage == 0)
        {
            v.level += double (inv / 0.01f);
            if (v.level >= 1.0)
            {
                v.level = 1.0;
                v.stage = 1;
            }
        }
        else if (v.stage == 1)
        {
            v.level -= double (inv / 0.3f);
            if (v.level <= double (0.2f))
                v.level = double (0.2f);
        }
        else
        {
            v.level -= double (inv / 0.01f);
            if (v.level <= 0.0)
            {
                v.level = 0.0;
                v.active = false;
            }
        }
    }

    void playMain (Voice& v, float& sum)
    {
        const short* start = v.data;
        long long length = v.length;
        long long i = (long long) v.position;
        double frac = v.position - double (i);
        bool produced = false;
        double s = 0.0;

        if (v.looped)
        {
            if (i >= length)
            {
                // As many loop lengths back as it takes to land inside the loop.
                while (i >= length)
                {
                    v.position -= double (v.loopLength);
                    v.gain *= v.loopGain;
                    i = (long long) v.position;
                }
                frac = v.position - double (i);
            }
            if (i == length - 1)
                s = start[i] + (start[length - v.loopLength] - start[i]) * frac;
            else
                s = start[i] + (start[i + 1] - start[i]) * frac;
            produced = true;
        }
        else
        {
            if (i + 1 >= length - 1)
                v.active = false;
            else
            {
                s = start[i] + (start[i + 1] - start[i]) * frac;
                produced = true;
            }
        }

        if (produced)
        {
            sum += float (s * v.gain * v.level);
            if (v.gain < 0.001)
                v.active = false;
        }
        v.position += double (pitchBend) * v.pitchRatio * v.step;
    }

    template <typename Params>
    void playTine (Voice& v, float& sum, const Params& params)
    {
        const short* start = v.data;
        long long i = (long long) v.position;
        double frac = v.position - double (i);
        if (i + 1 >= v.length - 1)
        {
            v.active = false;
        }
        else
        {
            double s = start[i] + (start[i + 1] - start[i]) * frac;
            sum += float (double (params.value (ReferenceParam::tinemix)) * (s * v.gain * v.level));
        }
        v.position += double (pitchBend) * v.pitchRatio * v.step;
    }

    template <typename Params>
    void render (float* out, int n, const Params& params)
    {
        float inv = 1.0f / float (sampleRateHz);
        const float k = 3.0520372e-5f;
        for (int t = 0; t < n; ++t)
        {
            advanceTremolo (inv, params);
            float sum = 0.0f;
            for (auto& v : voices)
            {
                if (! v.active)
                    continue;
                mainEnvelope (v, inv, params);
                playMain (v, sum);
            }
            if (setKind == 2)
            {
                for (auto& v : tineVoices)
                {
                    if (! v.active)
                        continue;
                    tineEnvelope (v, inv);
                    playTine (v, sum, params);
                }
            }
            float scaled = sum * 0.25f;
            scaled = scaled * k;
            out[t] = float (double (scaled) * tremoloGain);
        }
    }
};
