#pragma once

// One tube stage's transfer curve, sampled every 0.001 of input; entry 0
// stands for input -inputOffset.
struct TubeCurve
{
    const float* values = nullptr;
    float inputOffset = 0.0f;
    int count = 0;

    // Linear interpolation between neighbours; inputs beyond either end give
    // the end entries. Needs values and count >= 2.
    float lookup(float x) const
    {
        const float v = (x + inputOffset) * 1000.0f;
        // Comparisons on v, so that huge, infinite or NaN inputs clamp
        // instead of overflowing the integer conversion; written as selects
        // so that noisy input does not stall on mispredicted branches.
        const bool below = !(v >= 1.0f);
        const bool above = v >= static_cast<float>(count - 1);
        const float inside = (below || above) ? 1.0f : v;
        const int i = static_cast<int>(inside);
        const float between = (values[i + 1] - values[i]) * (inside - static_cast<float>(i)) + values[i];
        return below ? values[0] : (above ? values[count - 1] : between);
    }

    // lookup over a block in place; a curve with no table leaves it alone.
    void apply(float* samples, int n) const;
};
