#include "dsp/TubeCurve.h"

void TubeCurve::apply(float* samples, int n) const
{
    if (values == nullptr || count < 2)
        return;
    for (int i = 0; i < n; ++i)
        samples[i] = lookup(samples[i]);
}
