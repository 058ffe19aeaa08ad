#pragma once

#include "dsp/Sos.h"
#include "dsp/TubeCurve.h"

// Input gain, preamp and power tube curves, level compensation and an
// optional speaker cabinet, in place on the mono signal.
struct DriveStage
{
    TubeCurve powerCurve;
    TubeCurve preampCurve;
    hp cabinetFilter;

    // preamp on ecc_vo (offset 4), power on el_vo (offset 39).
    void setTubeCurves();
    // drivecab 1..5 re-initialises the cabinet for the rate (clearing it);
    // 0 leaves it as it was.
    void updateCabinet(int drivecabRounded, int sampleRateHz);
    // Parameters as read at the block's start; drivecab 1..5 runs the cabinet.
    void process(float* x, int n, bool on, float drivegain, int drivecabRounded);
};
