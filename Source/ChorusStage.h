#pragma once

// Half dry, half a copy read from a short delay line whose delay a sine
// sweeps between about one sample and chorusmix x 2 ms.
struct ChorusStage
{
    // Sweep phase in cycles, in [0, 1).
    float chorusPhase = 0.0f;

    // The delay line: the last D + 1 input samples of the previous blocks,
    // then the current block. At most 385 + 8192 samples are in use.
    static constexpr int lineSize = 19201;
    static constexpr int maxBlock = 8192;
    // Longest line offset kept; only rates far above 192 kHz would need more.
    static constexpr int maxOffset = lineSize - maxBlock - 2;
    float chorusLine[lineSize] = {};

    // Sweep depth in seconds as the stage takes it from chorusmix.
    static double depthSeconds(float chorusmix);
    // D: the line offset, fs x depth truncated (at most maxOffset).
    static int lineOffset(float chorusmix, double sampleRate);

    // Off: neither the line nor the phase moves.
    void process(float* x, int n, bool on, float chorusdelay, float chorusmix, double sampleRate);
};
