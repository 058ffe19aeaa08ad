#include "DriveStage.h"

#include "dsp/TubeTables.h"

void DriveStage::setTubeCurves()
{
    preampCurve = TubeCurve{ecc_vo, 4.0f, 54001};
    powerCurve = TubeCurve{el_vo, 39.0f, 101001};
}

void DriveStage::updateCabinet(int drivecabRounded, int sampleRateHz)
{
    if (drivecabRounded >= 1 && drivecabRounded <= hp::cabinetCount)
        cabinetFilter.init(sampleRateHz, drivecabRounded - 1);
}

void DriveStage::process(float* x, int n, bool on, float drivegain, int drivecabRounded)
{
    if (!on || n <= 0)
        return;
    const float gain = drivegain;
    for (int i = 0; i < n; ++i)
        x[i] *= gain;
    preampCurve.apply(x, n);
    powerCurve.apply(x, n);
    const float compensation = static_cast<float>(1.0 / (static_cast<double>(gain) * 0.3 + 0.7));
    for (int i = 0; i < n; ++i)
        x[i] *= compensation;
    if (drivecabRounded >= 1 && drivecabRounded <= hp::cabinetCount)
        cabinetFilter.cabinet.SosApply(x, n);
}
