#pragma once

// Cascades of second-order sections over constant coefficient tables, and the
// two holders the effects chain uses: the equaliser's three bands and the
// speaker-cabinet filter.

// The filters have tables for these rates only; any other rate leaves them as
// they were.
bool isSupportedFilterRate(int sampleRate);

struct Sos
{
    // Four values per section: z1, z1 before rounding, z2, z2 before rounding.
    float state[100] = {};
    // Six per section: b0, b1, b2, a0, a1, a2 (a0 is 1 and unused).
    const float* coefficients = nullptr;
    // One per section (all 1, unused), then the overall gain.
    const float* gains = nullptr;
    int sectionCount = 0;

    // Filters in place, transposed direct form II. A cascade with no tables
    // passes the samples through.
    void SosApply(float* samples, int count);
};

struct Triband
{
    Sos band[3]; // low, mid, high

    // Points the bands at the rate's tables and clears them; any other rate
    // changes nothing.
    void init(int sampleRate);

    // Same result as copying input into each of low, mid and high and running
    // band[k].SosApply on it, but the six sections run side by side. input may
    // not alias the outputs.
    void apply(const float* input, float* low, float* mid, float* high, int count);
};

struct hp
{
    Sos cabinet;
    int cabinetIndex = 0;
    const float* rateCoefficients = nullptr;
    const float* rateGains = nullptr;

    static constexpr int cabinetCount = 5;
    static constexpr int sectionsPerCabinet = 25;

    // Switches to the rate's tables (an unsupported rate keeps the last ones),
    // then selects the cabinet.
    void init(int sampleRate, int cabinetIndex);
    // Points the cascade at cabinet 0..4 of the current rate's tables and
    // clears it. Does nothing before any supported rate was given, or for an
    // index outside 0..4.
    void selectCabinet(int cabinetIndex);
};
