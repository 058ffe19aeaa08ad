#pragma once

#include "dsp/Sos.h"

// Splits the signal into the three fixed bands and sums them again, each
// weighted by its own gain.
struct EqualiserStage
{
    Triband triband;
    float bandBuffers[3][8192] = {};

    static constexpr int maxBlock = 8192;

    // Sets the bands up for the rate and clears them; an unsupported rate
    // changes nothing.
    void init(int sampleRateHz);
    // Off: the signal and the band state stay as they are.
    void process(float* x, int n, bool on, float low, float mid, float high);
};
