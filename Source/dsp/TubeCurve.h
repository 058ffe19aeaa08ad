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
        // Written as comparisons on v so that huge, infinite or NaN inputs
        // clamp instead of overflowing the integer conversion.
        if (!(v >= 1.0f))
            return values[0];
        if (v >= static_cast<float>(count - 1))
            return values[count - 1];
        const int i = static_cast<int>(v);
        return (values[i + 1] - values[i]) * (v - static_cast<float>(i)) + values[i];
    }

    // lookup over a block in place; a curve with no table leaves it alone.
    void apply(float* samples, int n) const;
};
