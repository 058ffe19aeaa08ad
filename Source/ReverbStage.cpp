#include "ReverbStage.h"

#include <cstring>

namespace
{

constexpr unsigned ringMask = ReverbLine::ringSize - 1;

constexpr float combRatio[4] = {1116.0f, 1356.0f, 1422.0f, 1617.0f};
constexpr float combFeedback[4] = {0.805f, 0.827f, 0.783f, 0.764f};
constexpr float allpassRatio[3] = {225.0f, 341.0f, 441.0f};

float stageDelay(float ratio, float r)
{
    float delay = (ratio * r) / 1618.0f;
    if (delay > 0.3f)
        delay = 0.3f;
    return delay;
}

} // namespace

void ReverbLine::advance(int n, int offset)
{
    const unsigned oldBase = base;
    const int newReach = offset + n;
    base = oldBase + static_cast<unsigned>(n);
    // Positions 0..D-1 take the old positions n..n+D-1; those the old window
    // did not cover come from the parked values.
    for (int q = reach - n < 0 ? 0 : reach - n; q < offset; ++q)
        ring[(base + static_cast<unsigned>(q)) & ringMask] = parked[q + n];
    // Old window positions that the new one no longer covers stay where they
    // are in the line: park them before the block's writes overwrite the ring.
    for (int q = newReach; q < reach; ++q)
        parked[q] = ring[(oldBase + static_cast<unsigned>(q)) & ringMask];
    reach = newReach;
}

void ReverbLine::write(int position, const float* from, int count)
{
    const unsigned start = (base + static_cast<unsigned>(position)) & ringMask;
    const int first = count < static_cast<int>(ringSize - start) ? count : static_cast<int>(ringSize - start);
    std::memcpy(ring + start, from, sizeof(float) * static_cast<unsigned>(first));
    std::memcpy(ring, from + first, sizeof(float) * static_cast<unsigned>(count - first));
}

void ReverbLine::read(int position, float* to, int count) const
{
    const unsigned start = (base + static_cast<unsigned>(position)) & ringMask;
    const int first = count < static_cast<int>(ringSize - start) ? count : static_cast<int>(ringSize - start);
    std::memcpy(to, ring + start, sizeof(float) * static_cast<unsigned>(first));
    std::memcpy(to + first, ring, sizeof(float) * static_cast<unsigned>(count - first));
}

float* ReverbLine::apart(int offset, int n)
{
    const unsigned start = base & ringMask;
    if (offset < n || start + static_cast<unsigned>(offset + n) > static_cast<unsigned>(ringSize))
        return nullptr;
    return ring + start;
}

int ReverbStage::lineOffset(float delay, int sampleRateHz)
{
    const float fsr = static_cast<float>(sampleRateHz);
    const float samples = delay * fsr;
    if (!(samples >= 1.0f))
        return 0;
    if (samples >= static_cast<float>(ReverbLine::maxOffset + 1))
        return ReverbLine::maxOffset;
    return static_cast<int>(samples) - 1;
}

void ReverbStage::process(float* x, int n, bool on, float reverbrefecl, float reverbmix, float tail, float roomsize,
                          int sampleRateHz)
{
    if (!on)
        return;
    for (int start = 0; start < n; start += ReverbLine::maxBlock)
    {
        const int length = n - start < ReverbLine::maxBlock ? n - start : ReverbLine::maxBlock;
        processBlock(x + start, length, reverbrefecl, reverbmix, tail, roomsize, sampleRateHz);
    }
}

void ReverbStage::processBlock(float* x, int n, float refl, float mix, float tail, float roomsize, int sampleRateHz)
{
    float room = roomsize;
    if (!(room >= 0.0f))
        room = 0.0f;
    if (room > 1000.0f)
        room = 1000.0f;
    float r = static_cast<float>(static_cast<double>(static_cast<int>(room)) * 0.00294);
    if (0.3f < r)
        r = 0.3f;

    // Each line: its input block goes in behind the first D values, then
    // positions 0..n-1 are read back as the tap. Written first, so that with
    // D < n the tap picks up this block's own values D samples on. When the
    // two ranges are apart and unbroken in the ring, one pass does both.
    const float combShare = 1.0f - tail;
    for (int k = 0; k < 4; ++k)
    {
        CombStage& comb = reverbCombs[k];
        comb.delay = stageDelay(combRatio[k], r);
        comb.feedback = static_cast<float>(static_cast<double>(combFeedback[k] * refl) / 0.828);
        const int offset = lineOffset(comb.delay, sampleRateHz);
        const float feedback = comb.feedback;
        comb.line.advance(n, offset);
        if (float* window = comb.line.apart(offset, n))
        {
            float* __restrict in = window + offset;
            const float* __restrict out = window;
            float* __restrict tap = comb.tap;
            const float* __restrict dry = x;
            for (int i = 0; i < n; ++i)
            {
                in[i] = tap[i] * feedback + dry[i];
                tap[i] = out[i];
            }
        }
        else
        {
            for (int i = 0; i < n; ++i)
                comb.sum[i] = comb.tap[i] * feedback + x[i];
            comb.line.write(offset, comb.sum, n);
            comb.line.read(0, comb.tap, n);
        }
    }
    for (int k = 0; k < 4; ++k)
    {
        const float* tap = reverbCombs[k].tap;
        for (int i = 0; i < n; ++i)
            x[i] = x[i] + ((tap[i] * 0.25f) * mix) * combShare;
    }

    const float g = static_cast<float>(static_cast<double>(refl * 0.7f) / 0.828);
    for (int j = 0; j < 3; ++j)
    {
        AllpassStage& allpass = reverbAllpasses[j];
        allpass.delay = stageDelay(allpassRatio[j], r);
        allpass.feedbackCoefficient = g;
        allpass.feedForwardCoefficient = g;
        const int offset = lineOffset(allpass.delay, sampleRateHz);
        allpass.line.advance(n, offset);
        if (float* window = allpass.line.apart(offset, n))
        {
            float* __restrict in = window + offset;
            const float* __restrict out = window;
            float* __restrict tap = allpass.tap;
            float* __restrict signal = x;
            for (int i = 0; i < n; ++i)
            {
                const float v = signal[i] - tap[i] * g;
                in[i] = v;
                const float delayed = out[i];
                tap[i] = delayed;
                signal[i] = signal[i] + (((v * g + delayed) * 0.25f) * mix) * tail;
            }
        }
        else
        {
            for (int i = 0; i < n; ++i)
                allpass.v[i] = x[i] - allpass.tap[i] * g;
            allpass.line.write(offset, allpass.v, n);
            allpass.line.read(0, allpass.tap, n);
            for (int i = 0; i < n; ++i)
            {
                const float out = allpass.v[i] * g + allpass.tap[i];
                x[i] = x[i] + ((out * 0.25f) * mix) * tail;
            }
        }
    }
}
