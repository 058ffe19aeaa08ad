#include "VoiceEngine.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace
{

// The parameters arrive once per block and do not change inside it, so the
// rates that the envelopes would recompute at every step are computed here once:
// the same float divisions, widened the same way, give the same values.
struct BlockConstants
{
    double attackRate = 0.0;
    double decayRate = 0.0;
    double sustainLevel = 0.0;
    double releaseRate = 0.0;
    bool releaseMayFall = false;    // pedal up and release below its maximum
    bool damperOnEveryKey = false;  // any set kind but 0
    double tineAttackRate = 0.0;
    double tineDecayRate = 0.0;
    double tineReleaseRate = 0.0;
    double tineHoldLevel = 0.0;
    double tineMix = 0.0;
};

BlockConstants makeBlockConstants (const VoiceParams& p, float inv, bool sustainPedal, short setKind)
{
    BlockConstants c;
    c.attackRate = (double) (inv / p.attack);
    c.decayRate = (double) (inv / p.decay);
    c.sustainLevel = (double) p.sustain;
    c.releaseRate = (double) (inv / p.release);
    c.releaseMayFall = ! sustainPedal && p.release < 5.0f;
    c.damperOnEveryKey = setKind != 0;
    c.tineAttackRate = (double) (inv / 0.01f);
    c.tineDecayRate = (double) (inv / 0.3f);
    c.tineReleaseRate = (double) (inv / 0.01f);
    c.tineHoldLevel = (double) 0.2f;
    c.tineMix = (double) p.tinemix;
    return c;
}

inline void stepEnvelope (voiceDataType& v, const BlockConstants& c)
{
    switch (v.stage)
    {
        case attackStage:
            v.level += c.attackRate;
            if (v.level >= 1.0)
            {
                v.level = 1.0;
                v.stage = decayStage;
            }
            break;

        case decayStage:
            v.level -= c.decayRate;
            if (v.level <= c.sustainLevel)
                v.level = c.sustainLevel;
            break;

        default:
            // Keys above 83 of a kind-0 set have no damper.
            if (c.releaseMayFall && (c.damperOnEveryKey || v.note <= 83))
                v.level -= c.releaseRate;
            if (v.level <= 0.0)
            {
                v.level = 0.0;
                v.active = false;
            }
            break;
    }
}

inline void stepTineEnvelope (voiceDataType& v, const BlockConstants& c)
{
    switch (v.stage)
    {
        case attackStage:
            v.level += c.tineAttackRate;
            if (v.level >= 1.0)
            {
                v.level = 1.0;
                v.stage = decayStage;
            }
            break;

        case decayStage:
            v.level -= c.tineDecayRate;
            if (v.level <= c.tineHoldLevel)
                v.level = c.tineHoldLevel;
            break;

        default:
            v.level -= c.tineReleaseRate;
            if (v.level <= 0.0)
            {
                v.level = 0.0;
                v.active = false;
            }
            break;
    }
}

inline double interpolate (const short* start, int64_t i, int next, double frac)
{
    return (double) start[i] + (double) (next - start[i]) * frac;
}

// Brings a read position that has passed the zone's end back into the loop, one
// loopGain per loop length stepped back. Stepping back by a multiple of the loop
// length at once is exact (integers below 2^52 taken from a double of the same
// scale), so it equals stepping back one loop at a time.
inline void wrapIntoLoop (voiceDataType& v, int64_t length)
{
    if (! (v.position < 4.0e15))
    {
        // Only a non-finite advance gets here: there is no way back into the loop.
        v.active = false;
        return;
    }

    const uint64_t loopLength = v.loopLength;
    const uint64_t i = (uint64_t) v.position;
    const uint64_t passes = (i - (uint64_t) length) / loopLength + 1;
    v.position -= (double) (passes * loopLength);

    if (v.loopGain != 1.0)
    {
        for (uint64_t k = 0; k < passes; ++k)
        {
            v.gain *= v.loopGain;
            if (v.gain == 0.0)
                break;  // stays zero; the floor ends the voice below
        }
    }
}

// One sample of a main voice after its envelope step.
inline void playMainSample (voiceDataType& v, float& sum, double advance, const short* start, int64_t length)
{
    if (v.looped)
    {
        if (v.position >= (double) length)
        {
            wrapIntoLoop (v, length);
            if (! v.active)
                return;
        }

        const int64_t i = (int64_t) v.position;
        const double frac = v.position - (double) i;
        // After the last sample comes the loop's first.
        const int next = (i == length - 1) ? start[length - (int64_t) v.loopLength] : start[i + 1];
        const double s = interpolate (start, i, next, frac);
        sum += (float) (s * v.gain * v.level);
    }
    else
    {
        // The next sample would be the zone's last or past it: the zone has run out.
        if (v.position >= (double) (length - 2))
        {
            v.active = false;
            v.position += advance;
            return;
        }

        const int64_t i = (int64_t) v.position;
        const double frac = v.position - (double) i;
        const double s = interpolate (start, i, start[i + 1], frac);
        sum += (float) (s * v.gain * v.level);
    }

    if (v.gain < gainFloor)
        v.active = false;

    v.position += advance;
}

// One sample of a tine voice after its envelope step: straight through, no loop, no floor.
inline void playTineSample (voiceDataType& v, float& sum, double advance, double tineMix, const short* start,
                            int64_t length)
{
    if (v.position >= (double) (length - 2))
    {
        v.active = false;
        v.position += advance;
        return;
    }

    const int64_t i = (int64_t) v.position;
    const double frac = v.position - (double) i;
    const double s = interpolate (start, i, start[i + 1], frac);
    sum += (float) (tineMix * (s * v.gain * v.level));
    v.position += advance;
}

// True when an envelope step would leave the voice exactly as it is: holding at
// the sustain level, or released but kept from falling (pedal, damper rule,
// release at its maximum). Such a voice can skip the steps for the whole block,
// because nothing that decides them changes inside a block.
inline bool mainEnvelopeIsSteady (const voiceDataType& v, const BlockConstants& c)
{
    if (v.stage == decayStage)
        return v.level == c.sustainLevel && c.decayRate >= 0.0;
    if (v.stage == releaseStage)
        return v.level > 0.0 && ! (c.releaseMayFall && (c.damperOnEveryKey || v.note <= 83));
    return false;
}

inline bool tineEnvelopeIsSteady (const voiceDataType& v, const BlockConstants& c)
{
    return v.stage == decayStage && v.level == c.tineHoldLevel && c.tineDecayRate >= 0.0;
}

// A voice renders its whole run before the next voice starts. Voices do not
// interact inside a block, and every sample's sum still receives the voices in
// bank order, so this adds exactly as the sample-by-sample order does. The voice
// works on a local copy so that its state stays in registers.
template <bool stepEnvelopes, bool unitLevel>
void renderMainRun (voiceDataType& voice, float* sums, int n, const BlockConstants& c, double advance)
{
    voiceDataType v = voice;
    const short* start = v.start;
    const int64_t length = v.last - v.start + 1;
    // Below this read position neither the zone's end nor its last sample is near:
    // no wrap, no end, gain unchanged.
    const double plainLimit = (double) (v.looped ? length - 1 : length - 2);

    int t = 0;
    if (v.gain < gainFloor)
    {
        // Ends after its first sample; the general path takes care of it.
        if constexpr (stepEnvelopes)
            stepEnvelope (v, c);
        if (v.active)
            playMainSample (v, sums[0], advance, start, length);
        t = v.active ? 1 : n;
    }

    for (; t < n; ++t)
    {
        if constexpr (stepEnvelopes)
        {
            stepEnvelope (v, c);
            if (! v.active)
                break;
        }

        if (v.position < plainLimit)
        {
            const int64_t i = (int64_t) v.position;
            const double frac = v.position - (double) i;
            const double s = interpolate (start, i, start[i + 1], frac);
            if constexpr (unitLevel)
                sums[t] += (float) (s * v.gain);  // times a level of exactly 1
            else
                sums[t] += (float) (s * v.gain * v.level);
            v.position += advance;
            continue;
        }

        playMainSample (v, sums[t], advance, start, length);
        if (! v.active)
            break;
    }
    voice = v;
}

// With a tine mix of zero, a tine voice adds 0 times a finite value (the
// sample, gain and level are all bounded), a signed zero, which leaves the sum
// as it is (see the voice groups below): only its position and envelope move on.
template <bool stepEnvelopes, bool silent>
void renderTineRun (voiceDataType& voice, float* sums, int n, const BlockConstants& c, double advance)
{
    voiceDataType v = voice;
    const short* start = v.start;
    const int64_t length = v.last - v.start + 1;
    for (int t = 0; t < n; ++t)
    {
        if constexpr (stepEnvelopes)
        {
            stepTineEnvelope (v, c);
            if (! v.active)
                break;
        }
        if constexpr (silent)
        {
            if (v.position >= (double) (length - 2))
                v.active = false;
            v.position += advance;
        }
        else
        {
            playTineSample (v, sums[t], advance, c.tineMix, start, length);
        }
        if (! v.active)
            break;
    }
    voice = v;
}

void renderMainVoice (voiceDataType& voice, float* sums, int n, const BlockConstants& c, double advance)
{
    if (! mainEnvelopeIsSteady (voice, c))
        renderMainRun<true, false> (voice, sums, n, c, advance);
    else if (voice.level == 1.0)
        renderMainRun<false, true> (voice, sums, n, c, advance);
    else
        renderMainRun<false, false> (voice, sums, n, c, advance);
}

void renderTineVoice (voiceDataType& voice, float* sums, int n, const BlockConstants& c, double advance)
{
    const bool silent = c.tineMix == 0.0;
    if (tineEnvelopeIsSteady (voice, c))
    {
        if (silent)
            renderTineRun<false, true> (voice, sums, n, c, advance);
        else
            renderTineRun<false, false> (voice, sums, n, c, advance);
    }
    else if (silent)
        renderTineRun<true, true> (voice, sums, n, c, advance);
    else
        renderTineRun<true, false> (voice, sums, n, c, advance);
}

// Samples rendered per pass over the voices; bounds the scratch arrays.
constexpr int renderChunk = 256;

// Main voices in groups of four, side by side in the lanes of short vectors.
// A voice's position is a chain of dependent additions, one per sample, so one
// voice at a time waits on that chain; four chains in the lanes of one vector
// add overlap. Each lane does exactly the double-precision operations of the
// single-voice loop, and the group's float contributions are then added into
// the block sum lane by lane, in bank order: every sample's sum receives the
// same additions in the same order as voice by voice.
//
// A voice that is silent for part of the chunk contributes +0 there. The sum
// starts at +0 and an addition gives -0 only from two -0 operands, so the sum
// is never -0, and adding +0 (or -0) to it changes no bit.
constexpr int groupLanes = 4;

typedef double LaneDoubles __attribute__((vector_size(32)));
typedef int LaneInts __attribute__((vector_size(16)));
typedef unsigned LaneUints __attribute__((vector_size(16)));
typedef float LaneFloats __attribute__((vector_size(16)));

// What silent lanes read: two zero samples.
const short silentPair[2] = { 0, 0 };

// A main voice can go into a lane when its envelope holds for the whole chunk
// and the lane's shortcuts hold: gain at or above the floor (the floor test
// then only matters after a loop pass), a finite forward advance and a read
// position in range, so that positions stay finite and truncation to 32 bits
// equals truncation to 64.
inline bool fitsLane (const voiceDataType& v, const BlockConstants& c, double advance)
{
    return mainEnvelopeIsSteady (v, c) && v.gain >= gainFloor && advance > 0.0 && advance < 65536.0
           && v.position >= 0.0 && v.position < 2147483647.0 && v.last - v.start < 0x7fffffff;
}

struct VoiceGroup
{
    voiceDataType* bank[groupLanes] = {};   // nullptr: not in a lane
    double advance[groupLanes] = {};
    int64_t length[groupLanes] = {};
    bool live[groupLanes] = {};
};

// Renders the lanes of `g` into contributions[t][lane]. The lanes' positions
// and gains live in vectors and go back to the voices at the end; a lane that
// ends stops contributing and keeps the state the single-voice loop leaves.
__attribute__((always_inline)) inline void renderGroupLanes (VoiceGroup& g, float (*contributions)[groupLanes], int n)
{
    LaneDoubles position, advance, gain, level, limit;
    const short* start[groupLanes];

    auto silence = [&] (int l)
    {
        g.live[l] = false;
        position[l] = 0.0;
        advance[l] = 0.0;
        gain[l] = 0.0;
        level[l] = 0.0;
        limit[l] = 1.0;
        start[l] = silentPair;
    };

    for (int l = 0; l < groupLanes; ++l)
    {
        if (! g.live[l])
        {
            silence (l);
            continue;
        }
        const voiceDataType& v = *g.bank[l];
        position[l] = v.position;
        advance[l] = g.advance[l];
        gain[l] = v.gain;
        level[l] = v.level;
        limit[l] = (double) (v.looped ? g.length[l] - 1 : g.length[l] - 2);
        start[l] = v.start;
    }

    int t = 0;
    while (t < n)
    {
        // Samples that every lane reads well inside its zone: the positions
        // stay below the limits with a margin of 1e-3 sample, far above what
        // the roundings of 256 additions can move them (2^-22 each below 2^31).
        // Silent lanes divide by an advance of 0 and give +inf.
        const LaneDoubles room = (limit - position - 1.0e-3) / advance;
        double fewest = (double) (n - t);
        for (int l = 0; l < groupLanes; ++l)
            fewest = room[l] < fewest ? room[l] : fewest;
        // Below 0 or NaN: no plain sample.
        const int plainSteps = fewest > 0.0 ? (int) fewest : 0;

        for (const int end = t + plainSteps; t < end; ++t)
        {
            const LaneInts i = __builtin_convertvector (position, LaneInts);
            const LaneDoubles frac = position - __builtin_convertvector (i, LaneDoubles);
            // Both neighbours in one load, little end first, then sign-extended.
            LaneUints pairs;
            for (int l = 0; l < groupLanes; ++l)
            {
                uint32_t pair;
                std::memcpy (&pair, start[l] + i[l], sizeof (uint32_t));
                pairs[l] = pair;
            }
            const LaneInts here = (LaneInts) (pairs << 16) >> 16;
            const LaneInts next = (LaneInts) pairs >> 16;
            const LaneDoubles s = __builtin_convertvector (here, LaneDoubles)
                                  + __builtin_convertvector (next - here, LaneDoubles) * frac;
            const LaneFloats f = __builtin_convertvector (s * gain * level, LaneFloats);
            std::memcpy (contributions[t], &f, sizeof f);
            position += advance;
        }
        if (t == n)
            break;

        // A lane reaches its loop's end or its zone's: that sample goes the
        // single-voice way in every lane.
        for (int l = 0; l < groupLanes; ++l)
        {
            float sum = 0.0f;
            if (g.live[l])
            {
                voiceDataType& v = *g.bank[l];
                v.position = position[l];
                v.gain = gain[l];
                if (position[l] < limit[l])
                {
                    const int64_t i = (int64_t) v.position;
                    const double frac = v.position - (double) i;
                    const double s = interpolate (v.start, i, v.start[i + 1], frac);
                    sum += (float) (s * v.gain * v.level);
                    v.position += g.advance[l];
                }
                else
                {
                    playMainSample (v, sum, g.advance[l], v.start, g.length[l]);
                }
                if (v.active)
                {
                    position[l] = v.position;
                    gain[l] = v.gain;
                }
                else
                {
                    silence (l);
                }
            }
            contributions[t][l] = sum;
        }
        ++t;
    }

    for (int l = 0; l < groupLanes; ++l)
        if (g.live[l])
        {
            g.bank[l]->position = position[l];
            g.bank[l]->gain = gain[l];
        }
}

void renderGroupBaseline (VoiceGroup& g, float (*contributions)[groupLanes], int n)
{
    renderGroupLanes (g, contributions, n);
}

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx2"))) void renderGroupAvx2 (VoiceGroup& g, float (*contributions)[groupLanes], int n)
{
    renderGroupLanes (g, contributions, n);
}

// Read once at start-up, so the audio thread never waits on a static's guard.
const bool voiceCpuHasAvx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports ("avx2") != 0;
}();
#endif

// Adds a group's contributions into the sums, lane by lane in bank order.
inline void addContributions (float* sums, const float (*contributions)[groupLanes], int count, int n)
{
    switch (count)
    {
        case 4:
            for (int t = 0; t < n; ++t)
                sums[t] = (((sums[t] + contributions[t][0]) + contributions[t][1]) + contributions[t][2]) + contributions[t][3];
            break;
        case 3:
            for (int t = 0; t < n; ++t)
                sums[t] = ((sums[t] + contributions[t][0]) + contributions[t][1]) + contributions[t][2];
            break;
        case 2:
            for (int t = 0; t < n; ++t)
                sums[t] = (sums[t] + contributions[t][0]) + contributions[t][1];
            break;
        default:
            for (int t = 0; t < n; ++t)
                sums[t] = sums[t] + contributions[t][0];
            break;
    }
}

// Up to four main voices, in bank order: lanes for those that fit, the
// single-voice loop for the rest, then their contributions into the sums.
void renderMainGroup (voiceDataType* const* voices, int count, float* sums, int n, const BlockConstants& c,
                      float pitchBend)
{
    VoiceGroup g;
    bool anyLane = false;
    for (int l = 0; l < count; ++l)
    {
        voiceDataType& v = *voices[l];
        g.advance[l] = (double) pitchBend * v.pitchRatio * v.step;
        if (fitsLane (v, c, g.advance[l]))
        {
            g.bank[l] = &v;
            g.length[l] = v.last - v.start + 1;
            g.live[l] = true;
            anyLane = true;
        }
    }

    float contributions[renderChunk][groupLanes];
    if (anyLane)
    {
#if defined(__x86_64__) || defined(__i386__)
        if (voiceCpuHasAvx2)
            renderGroupAvx2 (g, contributions, n);
        else
#endif
            renderGroupBaseline (g, contributions, n);
    }

    for (int l = 0; l < count; ++l)
    {
        if (g.bank[l] != nullptr)
            continue;
        float own[renderChunk];
        for (int t = 0; t < n; ++t)
            own[t] = 0.0f;
        voiceDataType& v = *voices[l];
        renderMainVoice (v, own, n, c, g.advance[l]);
        for (int t = 0; t < n; ++t)
            contributions[t][l] = own[t];
    }

    addContributions (sums, contributions, count, n);
}

// Tine voices in groups of four, as the main voices. In their attack and decay
// an envelope step never ends a voice, so the lanes step it with selects: both
// stages' updates are computed and each lane keeps its own stage's, the same
// operations as the branch. Voices in their release take the single-voice loop.
typedef long long LaneMasks __attribute__((vector_size(32)));

inline bool tineFitsLane (const voiceDataType& v, double advance)
{
    return (v.stage == attackStage || v.stage == decayStage) && advance > 0.0 && advance < 65536.0
           && v.position >= 0.0 && v.position < 2147483647.0 && v.last - v.start < 0x7fffffff;
}

// One sample of a tine voice when the tine mix is zero: only its position moves.
inline void skipTineSample (voiceDataType& v, double advance, int64_t length)
{
    if (v.position >= (double) (length - 2))
        v.active = false;
    v.position += advance;
}

template <bool silent>
__attribute__((always_inline)) inline void renderTineLanes (VoiceGroup& g, float (*contributions)[groupLanes], int n,
                                                            const BlockConstants& c)
{
    LaneDoubles position, advance, gain, level, limit;
    LaneMasks attacking;
    const short* start[groupLanes];

    auto silence = [&] (int l)
    {
        g.live[l] = false;
        position[l] = 0.0;
        advance[l] = 0.0;
        gain[l] = 0.0;
        level[l] = 0.0;
        limit[l] = 1.0;
        attacking[l] = 0;
        start[l] = silentPair;
    };

    for (int l = 0; l < groupLanes; ++l)
    {
        if (! g.live[l])
        {
            silence (l);
            continue;
        }
        const voiceDataType& v = *g.bank[l];
        position[l] = v.position;
        advance[l] = g.advance[l];
        gain[l] = v.gain;
        level[l] = v.level;
        limit[l] = (double) (g.length[l] - 2);
        attacking[l] = v.stage == attackStage ? -1 : 0;
        start[l] = v.start;
    }

    const LaneDoubles one = LaneDoubles {} + 1.0;
    const LaneDoubles hold = LaneDoubles {} + c.tineHoldLevel;
    const double mix = c.tineMix;

    int t = 0;
    while (t < n)
    {
        // As for the main voices; here the test comes after the envelope step,
        // which moves no position.
        const LaneDoubles room = (limit - position - 1.0e-3) / advance;
        double fewest = (double) (n - t);
        for (int l = 0; l < groupLanes; ++l)
            fewest = room[l] < fewest ? room[l] : fewest;
        const int plainSteps = fewest > 0.0 ? (int) fewest : 0;

        for (const int end = t + plainSteps; t < end; ++t)
        {
            const LaneDoubles rising = level + c.tineAttackRate;
            const LaneDoubles falling = level - c.tineDecayRate;
            const LaneMasks top = rising >= 1.0;
            const LaneDoubles attackLevel = top ? one : rising;
            const LaneDoubles decayLevel = falling <= c.tineHoldLevel ? hold : falling;
            level = attacking ? attackLevel : decayLevel;
            attacking = attacking & ~top;

            if constexpr (! silent)
            {
                const LaneInts i = __builtin_convertvector (position, LaneInts);
                const LaneDoubles frac = position - __builtin_convertvector (i, LaneDoubles);
                LaneUints pairs;
                for (int l = 0; l < groupLanes; ++l)
                {
                    uint32_t pair;
                    std::memcpy (&pair, start[l] + i[l], sizeof (uint32_t));
                    pairs[l] = pair;
                }
                const LaneInts here = (LaneInts) (pairs << 16) >> 16;
                const LaneInts next = (LaneInts) pairs >> 16;
                const LaneDoubles s = __builtin_convertvector (here, LaneDoubles)
                                      + __builtin_convertvector (next - here, LaneDoubles) * frac;
                const LaneFloats f = __builtin_convertvector (mix * (s * gain * level), LaneFloats);
                std::memcpy (contributions[t], &f, sizeof f);
            }
            position += advance;
        }
        if (t == n)
            break;

        for (int l = 0; l < groupLanes; ++l)
        {
            float sum = 0.0f;
            if (g.live[l])
            {
                voiceDataType& v = *g.bank[l];
                v.position = position[l];
                v.level = level[l];
                v.stage = attacking[l] ? attackStage : decayStage;
                stepTineEnvelope (v, c);
                if constexpr (silent)
                    skipTineSample (v, g.advance[l], g.length[l]);
                else
                    playTineSample (v, sum, g.advance[l], mix, v.start, g.length[l]);
                if (v.active)
                {
                    position[l] = v.position;
                    level[l] = v.level;
                    attacking[l] = v.stage == attackStage ? -1 : 0;
                }
                else
                {
                    silence (l);
                }
            }
            if constexpr (! silent)
                contributions[t][l] = sum;
        }
        ++t;
    }

    for (int l = 0; l < groupLanes; ++l)
        if (g.live[l])
        {
            g.bank[l]->position = position[l];
            g.bank[l]->level = level[l];
            g.bank[l]->stage = attacking[l] ? attackStage : decayStage;
        }
}

void renderTineGroupBaseline (VoiceGroup& g, float (*contributions)[groupLanes], int n, const BlockConstants& c)
{
    if (c.tineMix == 0.0)
        renderTineLanes<true> (g, contributions, n, c);
    else
        renderTineLanes<false> (g, contributions, n, c);
}

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx2"))) void renderTineGroupAvx2 (VoiceGroup& g, float (*contributions)[groupLanes], int n,
                                                          const BlockConstants& c)
{
    if (c.tineMix == 0.0)
        renderTineLanes<true> (g, contributions, n, c);
    else
        renderTineLanes<false> (g, contributions, n, c);
}
#endif

// Up to four tine voices, in bank order, as renderMainGroup does the main ones.
void renderTineGroup (voiceDataType* const* voices, int count, float* sums, int n, const BlockConstants& c,
                      float pitchBend)
{
    VoiceGroup g;
    bool anyLane = false;
    for (int l = 0; l < count; ++l)
    {
        voiceDataType& v = *voices[l];
        g.advance[l] = (double) pitchBend * v.pitchRatio * v.step;
        if (tineFitsLane (v, g.advance[l]))
        {
            g.bank[l] = &v;
            g.length[l] = v.last - v.start + 1;
            g.live[l] = true;
            anyLane = true;
        }
    }

    float contributions[renderChunk][groupLanes];
    if (anyLane)
    {
#if defined(__x86_64__) || defined(__i386__)
        if (voiceCpuHasAvx2)
            renderTineGroupAvx2 (g, contributions, n, c);
        else
#endif
            renderTineGroupBaseline (g, contributions, n, c);
    }

    // A zero tine mix adds only signed zeros: the sums stay as they are.
    const bool silent = c.tineMix == 0.0;
    for (int l = 0; l < count; ++l)
    {
        if (g.bank[l] != nullptr)
            continue;
        float own[renderChunk];
        for (int t = 0; t < n; ++t)
            own[t] = 0.0f;
        renderTineVoice (*voices[l], own, n, c, g.advance[l]);
        if (! silent)
            for (int t = 0; t < n; ++t)
                contributions[t][l] = own[t];
    }

    if (! silent)
        addContributions (sums, contributions, count, n);
}

} // namespace

void VoiceEngine::reset()
{
    deactivateAll();
    pitchBend = 1.0f;
    sustainPedal = false;
    tremolo.reset();
}

void VoiceEngine::deactivateAll()
{
    for (auto& v : voices)
        v.active = false;
    for (auto& v : tineVoices)
        v.active = false;
}

int VoiceEngine::findFreeVoice (const voiceDataType* bank)
{
    for (int i = 0; i < voiceBankSize; ++i)
        if (! bank[i].active)
            return i;
    return -1;
}

int VoiceEngine::findNearestZone (const tableDataType* zones, int zoneCount, int note, int velocity)
{
    if (zones == nullptr || zoneCount <= 0)
        return -1;

    int bestDistance = 129 * 128;
    int best = 0;
    for (int k = 0; k < zoneCount; ++k)
    {
        const int noteDistance = std::abs (note - (int) zones[k].rootNote);
        const int velocityDistance = std::abs (velocity - (int) zones[k].velocity);
        const int distance = noteDistance * 128 + velocityDistance;
        if (distance < bestDistance)
        {
            bestDistance = distance;
            best = k;
        }
    }
    return best;
}

void VoiceEngine::startVoice (voiceDataType& voice, const tableDataType& zone, int pitchNote, int playedNote,
                              int velocity, bool tineLayer, int sampleRateHz)
{
    voice.pitchRatio = std::pow (2.0, (double) (pitchNote - (int) zone.rootNote) / 12.0);
    voice.step = 1.0 / (zone.samplePeriod * (double) sampleRateHz);
    voice.position = 0.0;

    if (tineLayer)
    {
        const float ratio = (float) velocity / 127.0f;
        const float doubledLog = 2.0f * std::log10 (ratio);
        voice.gain = std::pow (10.0, (double) doubledLog);
    }
    else
    {
        voice.gain = std::pow (10.0, 2.0 * std::log10 ((double) velocity / 127.0));
        // A loop of no samples, or longer than the zone, has nowhere to go back
        // to inside the zone: such a zone plays through once.
        voice.looped = zone.looped && zone.loopLength >= 1 && zone.loopLength <= zone.length;
        voice.loopLength = zone.loopLength;
        voice.loopGain = zone.loopGain;
    }

    voice.start = zone.data;
    voice.last = zone.data + ((int64_t) zone.length - 1);
    voice.stage = attackStage;
    voice.level = 0.0;
    voice.note = (short) playedNote;
    voice.active = true;
}

void VoiceEngine::startNote (int note, int velocity, const SetView& set, const VoiceParams& p, int sampleRateHz)
{
    const int i = findFreeVoice (voices);
    if (i < 0)
        return;

    const int z = findNearestZone (set.table, set.tableSize, note, velocity);
    if (z < 0 || set.samples == nullptr)
        return;

    startVoice (voices[i], set.table[z], note, note, velocity, false, sampleRateHz);

    if (set.setKind != 2)
        return;

    const int j = findFreeVoice (tineVoices);
    if (j < 0)
        return;

    const int tineNote = note + (p.tineon ? 24 : 12);
    const int tz = findNearestZone (set.tineTable, set.tineTableSize, tineNote, velocity);
    if (tz < 0 || set.tineSamples == nullptr)
        return;

    startVoice (tineVoices[j], set.tineTable[tz], tineNote, note, velocity, true, sampleRateHz);
}

void VoiceEngine::releaseNote (int note, short setKind)
{
    for (auto& v : voices)
        if (v.active && v.note == note)
            v.stage = releaseStage;

    if (setKind != 2)
        return;

    for (auto& v : tineVoices)
        if (v.active && v.note == note)
            v.stage = releaseStage;
}

int VoiceEngine::handleMidi (const uint8_t* data, int size, const SetView& set, const VoiceParams& p, int sampleRateHz)
{
    if (data == nullptr || size < 2)
        return -1;

    const int status = data[0] & 0xF0;

    if (status == 0xC0)
        return data[1];

    if (size < 3)
        return -1;

    switch (status)
    {
        case 0x90:
            if (data[2] > 0)
                startNote (data[1], data[2], set, p, sampleRateHz);
            else
                releaseNote (data[1], set.setKind);
            break;

        case 0x80:
            releaseNote (data[1], set.setKind);
            break;

        case 0xE0:
        {
            const int wheel = data[1] + 128 * data[2];
            const float f = (float) wheel * (1.0f / 8192.0f) - 1.0f;
            pitchBend = f >= 0.0f ? 1.0f + f : 1.0f + 0.5f * f;
            break;
        }

        case 0xB0:
            if (data[1] == 64)
                sustainPedal = data[2] >= 64;
            break;

        default:
            break;  // aftertouch, other controllers, channel pressure, system messages
    }
    return -1;
}

void VoiceEngine::render (float* out, int n, const SetView& set, const VoiceParams& p, int sampleRateHz)
{
    if (n <= 0)
        return;

    const float inv = 1.0f / (float) sampleRateHz;
    const BlockConstants c = makeBlockConstants (p, inv, sustainPedal, set.setKind);
    const bool withTines = set.setKind == 2;

    for (int done = 0; done < n; done += renderChunk)
    {
        const int count = n - done < renderChunk ? n - done : renderChunk;

        // The tremolo steps first in every sample and depends on nothing else.
        double tremoloGains[renderChunk];
        for (int t = 0; t < count; ++t)
        {
            tremolo.advance (inv, p.tremon, p.tremspeed, p.tremapm);
            tremoloGains[t] = tremolo.tremoloGain;
        }

        float sums[renderChunk];
        for (int t = 0; t < count; ++t)
            sums[t] = 0.0f;

        // pitchBend only changes between blocks, so each voice's advance is fixed for the block.
        voiceDataType* active[voiceBankSize];
        int activeCount = 0;
        for (auto& voice : voices)
            if (voice.active)
                active[activeCount++] = &voice;
        for (int first = 0; first < activeCount; first += groupLanes)
        {
            const int inGroup = activeCount - first < groupLanes ? activeCount - first : groupLanes;
            renderMainGroup (active + first, inGroup, sums, count, c, pitchBend);
        }

        if (withTines)
        {
            activeCount = 0;
            for (auto& voice : tineVoices)
                if (voice.active)
                    active[activeCount++] = &voice;
            for (int first = 0; first < activeCount; first += groupLanes)
            {
                const int inGroup = activeCount - first < groupLanes ? activeCount - first : groupLanes;
                renderTineGroup (active + first, inGroup, sums, count, c, pitchBend);
            }
        }

        float* chunkOut = out + done;
        for (int t = 0; t < count; ++t)
            chunkOut[t] = (float) ((double) (sums[t] * 0.25f * sampleScale) * tremoloGains[t]);
    }
}
