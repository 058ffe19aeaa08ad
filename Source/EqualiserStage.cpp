#include "EqualiserStage.h"

void EqualiserStage::init(int sampleRateHz) { triband.init(sampleRateHz); }

void EqualiserStage::process(float* x, int n, bool on, float low, float mid, float high)
{
    if (!on)
        return;
    // The bands filter sample by sample, so slicing a long block changes nothing.
    for (int start = 0; start < n; start += maxBlock)
    {
        const int length = n - start < maxBlock ? n - start : maxBlock;
        float* block = x + start;
        float* lowBand = bandBuffers[0];
        float* midBand = bandBuffers[1];
        float* highBand = bandBuffers[2];
        triband.apply(block, lowBand, midBand, highBand, length);
        for (int i = 0; i < length; ++i)
            block[i] = high * highBand[i] + (mid * midBand[i] + low * lowBand[i]);
    }
}
