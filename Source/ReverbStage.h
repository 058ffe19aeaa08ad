#pragma once

// One delay line of the reverb's block scheme. Each block the line moves on
// by the block length n, the block's n samples go in behind the first D
// values, and positions 0..n-1 are the block's tap. Here the line is a window
// [base, base + reach) into a ring, so a block costs O(n); positions past the
// window (last written by older, longer blocks, or left behind when D shrank)
// are kept in line order in `parked`, exactly where the block scheme leaves
// them, and brought back when a later block reaches them.
struct ReverbLine
{
    static constexpr int ringSize = 65536; // power of two
    static constexpr int maxBlock = 8192;
    // Longest offset D a line can take: 56412 is reached at 192 kHz.
    static constexpr int maxOffset = ringSize - maxBlock;

    float ring[ringSize] = {};
    float parked[ringSize] = {};
    unsigned base = 0; // ring index of line position 0
    int reach = 0;     // D + n of the last block: the live window's length

    // Moves the line on for a block of n samples at offset D; afterwards
    // line position p is ring[(base + p) & mask] for p < D + n.
    void advance(int n, int offset);
    // Line positions [position, position + count) to or from a block.
    void write(int position, const float* from, int count);
    void read(int position, float* to, int count) const;
    // The window's start when positions 0..n-1 and offset..offset+n-1 are
    // disjoint (offset >= n) and unbroken in the ring; null otherwise.
    float* apart(int offset, int n);
};

struct CombStage
{
    float delay = 0.0f;
    float feedback = 0.0f;
    ReverbLine line;
    float tap[ReverbLine::maxBlock] = {};
    float sum[ReverbLine::maxBlock] = {};
};

struct AllpassStage
{
    float delay = 0.0f;
    float feedbackCoefficient = 0.0f;
    float feedForwardCoefficient = 0.0f;
    ReverbLine line;
    float tap[ReverbLine::maxBlock] = {};
    float v[ReverbLine::maxBlock] = {};
};

// Four parallel feedback combs and three diffusers in series, added to the
// dry signal. The echo pattern depends on the block lengths, as the block
// scheme's does.
struct ReverbStage
{
    CombStage reverbCombs[4];
    AllpassStage reverbAllpasses[3];

    // Off: nothing moves, the tail resumes when switched on again.
    void process(float* x, int n, bool on, float reverbrefecl, float reverbmix, float tail, float roomsize,
                 int sampleRateHz);

    // Line offset for a stage's delay at the rate, as the block scheme takes it.
    static int lineOffset(float delay, int sampleRateHz);

private:
    void processBlock(float* x, int n, float refl, float mix, float tail, float roomsize, int sampleRateHz);
};
