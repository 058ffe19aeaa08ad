#pragma once

// Triangle-wave gain between 1 - tremapm and 1, advanced once per output sample
// by the voice renderer before the voices are summed.
struct Tremolo
{
    double tremoloGain = 0.0;
    bool tremoloRising = true;

    // Restarts from silence, rising: with the tremolo on from the first block the
    // sound fades in over one ramp.
    void reset()
    {
        tremoloGain = 0.0;
        tremoloRising = true;
    }

    // inv: 1 / sample rate in single precision. The gain is not clamped: it passes
    // each limit by less than one step before it turns.
    void advance (float inv, bool on, float tremspeed, float tremapm)
    {
        if (! on)
        {
            tremoloGain = 1.0;
            return;
        }

        const double step = (double) (inv / (1.1f - tremspeed));

        if (tremoloRising)
        {
            tremoloGain += step;
            if (tremoloGain > 1.0)
                tremoloRising = false;
        }
        else
        {
            tremoloGain -= step;
            if ((double) (1.0f - tremapm) > tremoloGain)
                tremoloRising = true;
        }
    }
};
