#include "ChorusStage.h"

#include <cmath>
#include <cstring>

double ChorusStage::depthSeconds(float chorusmix)
{
    float depth = static_cast<float>(static_cast<double>(chorusmix) * 0.002);
    if (0.1f < depth)
        depth = 0.1f;
    return depth;
}

int ChorusStage::lineOffset(float chorusmix, double sampleRate)
{
    const double reach = sampleRate * depthSeconds(chorusmix);
    if (!(reach >= 0.0))
        return 0;
    return reach > maxOffset ? maxOffset : static_cast<int>(reach);
}

void ChorusStage::process(float* x, int n, bool on, float chorusdelay, float chorusmix, double sampleRate)
{
    if (!on || n <= 0 || !(sampleRate > 0.0))
        return;

    const double depth = depthSeconds(chorusmix);
    const double fs = sampleRate;
    const int offset = lineOffset(chorusmix, fs);
    // Delays past the offset (only when it is capped) read no further back.
    double reach = fs * depth;
    if (!(reach <= offset + 1.0))
        reach = offset;
    const float increment = static_cast<float>(static_cast<double>(chorusdelay) / fs);

    for (int start = 0; start < n; start += maxBlock)
    {
        const int length = n - start < maxBlock ? n - start : maxBlock;
        float* block = x + start;

        // The D + 1 values from position `length` on move to the front, then the
        // block follows them. When the block length or D changes, the front holds
        // whatever the previous block left at those positions; that is the
        // stage's sound and is kept. The move is at most 385 values.
        std::memmove(chorusLine, chorusLine + length, static_cast<size_t>(offset + 1) * sizeof(float));
        std::memcpy(chorusLine + offset + 1, block, static_cast<size_t>(length) * sizeof(float));

        float phase = chorusPhase;
        for (int i = 0; i < length; ++i)
        {
            phase = phase + increment;
            if (phase >= 1.0f)
                phase = phase - 1.0f;
            const double s = std::sin(static_cast<double>(phase) * 6.28318530718);
            double d = (s * 0.5 + 0.5) * depth * fs;
            if (d > reach)
                d = reach;
            else if (!(d >= 0.0))
                d = 0.0;
            const int k = static_cast<int>(d);
            const double a = chorusLine[k + i];
            const double b = chorusLine[k + i + 1];
            const float wet = static_cast<float>(a + (b - a) * (d - k));
            block[i] = wet * 0.5f + block[i] * 0.5f;
        }
        chorusPhase = phase;
    }
}
