#include "dsp/Sos.h"

#include "dsp/CabinetTables.h"
#include "dsp/EqualiserTables.h"

#include <cstring>

namespace
{

// Each section's recursion is a long chain of dependent operations, so one
// section at a time leaves the processor mostly idle. Sections therefore run
// side by side in the lanes of short vectors, each lane a few samples behind
// the one feeding it (a wavefront). Every lane does exactly the
// single-precision operations of the plain loop, so the result is the same to
// the bit.

constexpr int maxSections = 25;

// float(1e-10) lies just above the double 1e-10, so for a float y,
// double(|y|) < 1e-10 exactly when |y| < 1e-10f.
constexpr float flushLimit = 1e-10f;

template <int W>
struct Wide;

template <>
struct Wide<4>
{
    typedef float F __attribute__((vector_size(16)));
    typedef int I __attribute__((vector_size(16)));
    static constexpr I shift = {7, 0, 1, 2};
    static constexpr I index = {0, 1, 2, 3};
};

template <>
struct Wide<8>
{
    typedef float F __attribute__((vector_size(32)));
    typedef int I __attribute__((vector_size(32)));
    static constexpr I shift = {15, 0, 1, 2, 3, 4, 5, 6};
    static constexpr I index = {0, 1, 2, 3, 4, 5, 6, 7};
};

// W sections side by side. Vectors go by reference only, so that the code can
// be compiled into a wider instruction set where it is inlined.
template <int W>
struct SectionLanes
{
    typedef typename Wide<W>::F F;
    typedef typename Wide<W>::I I;
    F b0, b1, b2, a1, a2;
    F z1, z1Raw, z2, z2Raw;

    __attribute__((always_inline)) void load(int lane, const float* c, const float* z)
    {
        b0[lane] = c[0];
        b1[lane] = c[1];
        b2[lane] = c[2];
        a1[lane] = c[4];
        a2[lane] = c[5];
        z1[lane] = z[0];
        z1Raw[lane] = z[1];
        z2[lane] = z[2];
        z2Raw[lane] = z[3];
    }

    __attribute__((always_inline)) void store(int lane, float* z) const
    {
        z[0] = z1[lane];
        z[1] = z1Raw[lane];
        z[2] = z2[lane];
        z[3] = z2Raw[lane];
    }

    // One sample through each lane's section; the new state is kept only in
    // the lanes of `active` (all of them when allActive).
    __attribute__((always_inline)) void step(const F& x, const I& active, bool allActive, F& y)
    {
        y = b0 * x + z1;
        const I tiny = (F)((I)y & 0x7fffffff) < flushLimit;
        y = (F)((I)y & ~tiny);
        const F r1 = (b1 * x + z2) - a1 * y;
        const F r2 = b2 * x - a2 * y;
        // Rounding through 1 + z keeps denormals and tiny residues out of the state.
        const F n1 = (r1 + 1.0f) - 1.0f;
        const F n2 = (r2 + 1.0f) - 1.0f;
        if (allActive)
        {
            z1 = n1;
            z2 = n2;
            z1Raw = r1;
            z2Raw = r2;
        }
        else
        {
            z1 = (F)(((I)n1 & active) | ((I)z1 & ~active));
            z2 = (F)(((I)n2 & active) | ((I)z2 & ~active));
            z1Raw = (F)(((I)r1 & active) | ((I)z1Raw & ~active));
            z2Raw = (F)(((I)r2 & active) | ((I)z2Raw & ~active));
        }
    }
};

// Sections run in two interleaved wavefronts: group A holds the even
// sections (lane l: section 2l), group B the odd ones (lane l: section 2l + 1),
// and both lanes l filter sample t - l at step t. A's lane l is fed by B's lane
// l - 1 of the previous step, B's lane l by A's lane l of the same step. A
// cascade of S sections thus lags its input by (S - 1) / 2 steps, not S - 1,
// which halves the start-up and wind-down steps of every block.
template <int W>
__attribute__((always_inline)) inline void cascadeWavefront(const float* coefficients, float* state, int sections,
                                                            float gain, float* samples, int count)
{
    typedef typename Wide<W>::F F;
    typedef typename Wide<W>::I I;
    constexpr int maxWide = ((maxSections + 1) / 2 + W - 1) / W;
    const int pairs = (sections + 1) / 2;
    const int vectors = (pairs + W - 1) / W;
    SectionLanes<W> even[maxWide], odd[maxWide];
    for (int v = 0; v < vectors; ++v)
        even[v] = odd[v] = SectionLanes<W>{};
    for (int j = 0; j < sections; ++j)
    {
        const int pair = j / 2;
        SectionLanes<W>& group = (j % 2 == 0) ? even[pair / W] : odd[pair / W];
        group.load(pair % W, coefficients + 6 * j, state + 4 * j);
    }

    // fromOdd[v + 1]: B vector v's outputs of the previous step; fromOdd[0]: the input.
    F fromOdd[maxWide + 1] = {};
    F fromEven[maxWide] = {};
    const int lastPair = (sections - 1) / 2;
    const bool lastIsEven = (sections - 1) % 2 == 0;
    const int lastVector = lastPair / W;
    const int lastSlot = lastPair % W;
    const int steps = count + lastPair;

    for (int t = 0; t < steps; ++t)
    {
        fromOdd[0] = F{} + (t < count ? samples[t] : 0.0f);
        // Lane l is busy at step t when l <= t < l + count; whole vectors
        // outside that range are skipped.
        const int lowestLane = t - count + 1;
        const int vLow = lowestLane <= 0 ? 0 : lowestLane / W;
        const int vHigh = (t / W < vectors - 1) ? t / W : vectors - 1;
        for (int v = vLow; v <= vHigh; ++v)
        {
            const int first = v * W;
            const I lane = Wide<W>::index + first;
            const I active = (lane <= t) & (lane >= lowestLane);
            const bool allActive = first + W - 1 <= t && first >= lowestLane;
            const F x = __builtin_shuffle(fromOdd[v + 1], fromOdd[v], Wide<W>::shift);
            even[v].step(x, active, allActive, fromEven[v]);
        }
        // B after all of A: A needed B's outputs of the previous step.
        for (int v = vLow; v <= vHigh; ++v)
        {
            const int first = v * W;
            const I lane = Wide<W>::index + first;
            const I active = (lane <= t) & (lane >= lowestLane);
            const bool allActive = first + W - 1 <= t && first >= lowestLane;
            odd[v].step(fromEven[v], active, allActive, fromOdd[v + 1]);
        }
        if (t >= lastPair)
            samples[t - lastPair] = (lastIsEven ? fromEven[lastVector][lastSlot] : fromOdd[lastVector + 1][lastSlot]) * gain;
    }

    for (int j = 0; j < sections; ++j)
    {
        const int pair = j / 2;
        const SectionLanes<W>& group = (j % 2 == 0) ? even[pair / W] : odd[pair / W];
        group.store(pair % W, state + 4 * j);
    }
}

void cascadeFourLanes(const float* coefficients, float* state, int sections, float gain, float* samples, int count)
{
    cascadeWavefront<4>(coefficients, state, sections, gain, samples, count);
}

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx2"))) void cascadeEightLanes(const float* coefficients, float* state, int sections,
                                                       float gain, float* samples, int count)
{
    cascadeWavefront<8>(coefficients, state, sections, gain, samples, count);
}

// Read once at start-up, so the audio thread never waits on a static's guard.
const bool cpuHasAvx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}();
#endif

void zeroState(Sos& sos, int sections)
{
    std::memset(sos.state, 0, sizeof(float) * 4 * static_cast<unsigned>(sections));
}

struct RateTables
{
    int rate;
    const float* band[3];
    const float* bandGain[3];
    const float* cabinet;
    const float* cabinetGain;
};

const RateTables rateTables[] = {
    {44100, {sos_band_1_44100, sos_band_2_44100, sos_band_3_44100},
     {gain_band_1_44100, gain_band_2_44100, gain_band_3_44100}, hpsos_44100, hpgain_44100},
    {48000, {sos_band_1_48000, sos_band_2_48000, sos_band_3_48000},
     {gain_band_1_48000, gain_band_2_48000, gain_band_3_48000}, hpsos_48000, hpgain_48000},
    {88200, {sos_band_1_88200, sos_band_2_88200, sos_band_3_88200},
     {gain_band_1_88200, gain_band_2_88200, gain_band_3_88200}, hpsos_88200, hpgain_88200},
    {96000, {sos_band_1_96000, sos_band_2_96000, sos_band_3_96000},
     {gain_band_1_96000, gain_band_2_96000, gain_band_3_96000}, hpsos_96000, hpgain_96000},
    {176400, {sos_band_1_176400, sos_band_2_176400, sos_band_3_176400},
     {gain_band_1_176400, gain_band_2_176400, gain_band_3_176400}, hpsos_176400, hpgain_176400},
    {192000, {sos_band_1_192000, sos_band_2_192000, sos_band_3_192000},
     {gain_band_1_192000, gain_band_2_192000, gain_band_3_192000}, hpsos_192000, hpgain_192000},
};

const RateTables* findRate(int sampleRate)
{
    for (const RateTables& r : rateTables)
        if (r.rate == sampleRate)
            return &r;
    return nullptr;
}

} // namespace

bool isSupportedFilterRate(int sampleRate) { return findRate(sampleRate) != nullptr; }

void Sos::SosApply(float* samples, int count)
{
    if (count <= 0 || coefficients == nullptr || gains == nullptr)
        return;
    const int sections = sectionCount < 0 ? 0 : (sectionCount > maxSections ? maxSections : sectionCount);
    const float gain = gains[sections];
    if (sections == 0)
    {
        if (gain != 1.0f)
            for (int i = 0; i < count; ++i)
                samples[i] *= gain;
        return;
    }
    // The gain goes on with the last section's output, unconditionally:
    // multiplying by exactly 1 changes no sample (outputs are never denormal,
    // they are flushed below 1e-10).
#if defined(__x86_64__) || defined(__i386__)
    // Eight lanes pay off for long cascades; short ones gain nothing.
    if (cpuHasAvx2 && sections > 16)
    {
        cascadeEightLanes(coefficients, state, sections, gain, samples, count);
        return;
    }
#endif
    cascadeFourLanes(coefficients, state, sections, gain, samples, count);
}

void Triband::init(int sampleRate)
{
    const RateTables* tables = findRate(sampleRate);
    if (tables == nullptr)
        return;
    for (int k = 0; k < 3; ++k)
    {
        band[k].coefficients = tables->band[k];
        band[k].gains = tables->bandGain[k];
        band[k].sectionCount = 2;
        zeroState(band[k], 2);
    }
}

void Triband::apply(const float* input, float* low, float* mid, float* high, int count)
{
    if (count <= 0)
        return;
    bool twoSections = true;
    for (const Sos& b : band)
        twoSections = twoSections && b.coefficients != nullptr && b.gains != nullptr && b.sectionCount == 2;
    if (!twoSections)
    {
        float* outputs[3] = {low, mid, high};
        for (int k = 0; k < 3; ++k)
        {
            std::memcpy(outputs[k], input, sizeof(float) * static_cast<unsigned>(count));
            band[k].SosApply(outputs[k], count);
        }
        return;
    }

    // Lanes: {low 1, low 2, mid 1, mid 2} and {high 1, high 2, unused, unused}.
    typedef Wide<4>::F F;
    typedef Wide<4>::I I;
    SectionLanes<4> lanes[2] = {};
    for (int k = 0; k < 3; ++k)
        for (int section = 0; section < 2; ++section)
            lanes[k / 2].load(2 * (k % 2) + section, band[k].coefficients + 6 * section, band[k].state + 4 * section);
    const float lowGain = band[0].gains[2];
    const float midGain = band[1].gains[2];
    const float highGain = band[2].gains[2];

    const I firstSections = {-1, 0, -1, 0};
    const I secondSections = {0, -1, 0, -1};
    const I feed = {4, 0, 4, 2};
    F y0 = {}, y1 = {};
    for (int t = 0; t <= count; ++t)
    {
        const F in = F{} + (t < count ? input[t] : 0.0f);
        const F x0 = __builtin_shuffle(y0, in, feed);
        const F x1 = __builtin_shuffle(y1, in, feed);
        const bool allActive = t > 0 && t < count;
        const I& active = t == 0 ? firstSections : secondSections;
        lanes[0].step(x0, active, allActive, y0);
        lanes[1].step(x1, active, allActive, y1);
        if (t > 0)
        {
            // As in SosApply, a gain of exactly 1 would change nothing.
            low[t - 1] = y0[1] * lowGain;
            mid[t - 1] = y0[3] * midGain;
            high[t - 1] = y1[1] * highGain;
        }
    }

    for (int k = 0; k < 3; ++k)
        for (int section = 0; section < 2; ++section)
            lanes[k / 2].store(2 * (k % 2) + section, band[k].state + 4 * section);
}

void hp::init(int sampleRate, int cabinetIndex)
{
    if (const RateTables* tables = findRate(sampleRate))
    {
        rateCoefficients = tables->cabinet;
        rateGains = tables->cabinetGain;
    }
    selectCabinet(cabinetIndex);
}

void hp::selectCabinet(int index)
{
    if (rateCoefficients == nullptr || rateGains == nullptr || index < 0 || index >= cabinetCount)
        return;
    cabinetIndex = index;
    cabinet.coefficients = rateCoefficients + 6 * sectionsPerCabinet * index;
    cabinet.gains = rateGains + (sectionsPerCabinet + 1) * index;
    cabinet.sectionCount = sectionsPerCabinet;
    zeroState(cabinet, sectionsPerCabinet);
}
