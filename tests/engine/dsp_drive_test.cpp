// Tube curves and the drive and cabinet stage.

#include "DriveStage.h"
#include "dsp/CabinetTables.h"
#include "dsp/TubeCurve.h"
#include "dsp/TubeTables.h"

#include "dsp_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

using namespace dsptest;

namespace
{

struct Point
{
    double input;
    double output;
};

const Point eccPoints[] = {
    {-4, 1.0877},    {-3, 1.0877},     {-2, 1.0860},    {-1.75, 1.0802}, {-1.5, 1.0580}, {-1.25, 0.9958}, {-1, 0.8773},
    {-0.75, 0.7074}, {-0.5, 0.4972},   {-0.25, 0.2561}, {0, 0},          {0.25, -0.2270}, {0.5, -0.3854}, {0.75, -0.4893},
    {1, -0.5612},    {1.5, -0.6540},   {2, -0.7100},    {3, -0.7715},    {4, -0.8032},   {6, -0.8352},   {10, -0.8619},
    {20, -0.8849},   {30, -0.8943},    {40, -0.8998},   {50, -0.9035}};
const Point elPoints[] = {
    {-39, 5.2643},   {-30, 5.2569},  {-20, 5.1906},  {-15, 5.0450},  {-10, 4.6186}, {-7.5, 4.1597}, {-5, 3.3818},
    {-4, 2.9384},    {-3, 2.3954},   {-2, 1.7345},   {-1, 0.9387},   {-0.5, 0.4870}, {0, 0},         {0.5, -0.5186},
    {1, -1.0613},    {2, -2.1575},   {3, -3.1127},   {4, -3.7905},   {5, -4.2217},  {7.5, -4.7622},  {10, -5.0053},
    {15, -5.2105},   {20, -5.2802},  {30, -5.3144},  {62, -5.3217}};

DriveStage stageWithCurves()
{
    DriveStage stage;
    stage.setTubeCurves();
    return stage;
}

float driveOne(float x, float gain)
{
    DriveStage stage = stageWithCurves();
    stage.process(&x, 1, true, gain, 0);
    return x;
}

} // namespace

TEST(DspTubeTables, CurvesPassThroughTheirPointsFallingAndZeroAtZero)
{
    struct Curve
    {
        const float* values;
        int count;
        double offset;
        const Point* points;
        int pointCount;
    };
    const Curve curves[] = {{ecc_vo, 54001, 4.0, eccPoints, 25}, {el_vo, 101001, 39.0, elPoints, 25}};
    for (const Curve& c : curves)
    {
        const int zero = static_cast<int>(c.offset * 1000);
        EXPECT_TRUE(sameBits(c.values[zero], 0.0f));
        for (int i = 1; i < c.count; ++i)
            ASSERT_LE(c.values[i], c.values[i - 1]) << "rises at entry " << i;
        for (int p = 0; p < c.pointCount; ++p)
        {
            const int i = static_cast<int>(std::lround((c.points[p].input + c.offset) * 1000));
            EXPECT_NEAR(c.values[i], c.points[p].output, 0.0005) << "input " << c.points[p].input;
        }
        const double slope = (c.values[zero + 1] - c.values[zero - 1]) / 0.002;
        EXPECT_NEAR(slope, -1.007, 0.002);
        // Smooth: no kinks between neighbouring entries.
        double worstBend = 0;
        for (int i = 1; i + 1 < c.count; ++i)
            worstBend = std::max(worstBend, std::fabs((double(c.values[i + 1]) - c.values[i]) - (double(c.values[i]) - c.values[i - 1])));
        EXPECT_LT(worstBend, 1e-5);
    }
}

TEST(DspTubeCurve, LookupInterpolatesAndClampsAtBothEnds)
{
    const float t[5] = {4.0f, 3.0f, 1.0f, 0.0f, -2.0f};
    const TubeCurve curve{t, 0.002f, 5}; // entry i stands for input 0.001 i - 0.002
    struct Case
    {
        float input;
        float expected;
    };
    const Case cases[] = {
        {-1.0f, 4.0f},                                   // far below: first entry
        {-0.0015f, 4.0f},                                // v < 1: first entry, no interpolation
        {-0.001f, 3.0f},                                 // v = 1: entry 1
        {0.0f, 1.0f},                                    // v = 2
        {0.0005f, (0.0f - 1.0f) * (((0.0005f + 0.002f) * 1000.0f) - 2.0f) + 1.0f},
        {0.002f, -2.0f},                                 // v = 4 = N - 1: last entry
        {7.0f, -2.0f},
        {std::numeric_limits<float>::infinity(), -2.0f},
        {-std::numeric_limits<float>::infinity(), 4.0f},
        {std::numeric_limits<float>::quiet_NaN(), 4.0f},
        {3.0e38f, -2.0f},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(sameBits(curve.lookup(c.input), c.expected)) << c.input << " gave " << curve.lookup(c.input);
}

TEST(DspDriveStage, EdgeValuesWithoutCabinet)
{
    struct Case
    {
        float gain;
        float input;
        float expected;
    };
    const Case cases[] = {
        {1, 0.25f, 0.2253f},   {1, -0.25f, -0.2621f},  {1, 1.0f, 0.5442f},    {1, -1.0f, -0.9266f},
        {50, -0.1f, -0.0738f}, {50, -0.5f, -0.0738f},  {50, -20.0f, -0.0738f}, {50, 1.0f, 0.0544f},
        {50, 0.01f, 0.0241f},  {50, -0.01f, -0.0328f},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(driveOne(c.input, c.gain), c.expected, 0.0005) << "G " << c.gain << ", input " << c.input;

    for (float gain : {1.0f, 1.7f, 10.0f, 33.3f, 50.0f})
        EXPECT_TRUE(sameBits(driveOne(0.0f, gain), 0.0f)) << gain;
}

TEST(DspDriveStage, SmallSignalGainAndSaturationLimits)
{
    for (float gain : {1.0f, 10.0f, 50.0f})
    {
        // Small, but several table steps wide, so that the float table
        // positions do not dominate.
        const float x = 0.005f / gain;
        const double expected = 1.014 * gain / (0.3 * gain + 0.7);
        EXPECT_NEAR(driveOne(x, gain) / x, expected, 0.01 * expected) << gain;
        const double k = 1.0 / (gain * 0.3 + 0.7);
        for (float big : {-1000.0f, -5.0f, -1.0f, 1.0f, 5.0f, 1000.0f})
        {
            const float y = driveOne(big, gain);
            EXPECT_GE(y, -1.160 * k) << gain << " " << big;
            EXPECT_LE(y, 0.856 * k) << gain << " " << big;
        }
    }
}

TEST(DspDriveStage, BlockIsGainCurvesCompensationThenCabinet)
{
    std::mt19937 rng(31);
    for (int cab = 0; cab <= 5; ++cab)
    {
        DriveStage stage = stageWithCurves();
        stage.updateCabinet(cab, 48000);
        hp reference;
        if (cab > 0)
            reference.init(48000, cab - 1);
        const float gain = 7.5f;
        const float k = static_cast<float>(1.0 / (static_cast<double>(gain) * 0.3 + 0.7));
        for (int block = 0; block < 3; ++block)
        {
            std::vector<float> x = noise(rng, 257, 1.0f);
            std::vector<float> expected = x;
            for (float& v : expected)
                v = stage.powerCurve.lookup(stage.preampCurve.lookup(v * gain)) * k;
            if (cab > 0)
                reference.cabinet.SosApply(expected.data(), 257);
            stage.process(x.data(), 257, true, gain, cab);
            ASSERT_EQ(firstDifference(x.data(), expected.data(), 257), -1) << "cab " << cab;
        }
    }
}

TEST(DspDriveStage, OffLeavesSignalAndCabinetStateAlone)
{
    DriveStage stage = stageWithCurves();
    stage.updateCabinet(3, 44100);
    std::mt19937 rng(37);
    std::vector<float> x = noise(rng, 512, 0.5f);
    stage.process(x.data(), 512, true, 4.0f, 3);
    const hp before = stage.cabinetFilter;

    std::vector<float> y = noise(rng, 512, 0.5f);
    const std::vector<float> original = y;
    stage.process(y.data(), 512, false, 4.0f, 3);
    EXPECT_EQ(firstDifference(y.data(), original.data(), 512), -1);
    EXPECT_EQ(firstDifference(stage.cabinetFilter.cabinet.state, before.cabinet.state, 100), -1);

    // drivecab 0 with the drive on: curves act, the cabinet keeps its state.
    stage.process(y.data(), 512, true, 4.0f, 0);
    EXPECT_EQ(firstDifference(stage.cabinetFilter.cabinet.state, before.cabinet.state, 100), -1);
    EXPECT_NE(firstDifference(y.data(), original.data(), 512), -1);
}

TEST(DspDriveStage, UpdateCabinetSelectsAndClearsOnlyForCabinets)
{
    DriveStage stage = stageWithCurves();
    stage.updateCabinet(0, 44100);
    EXPECT_EQ(stage.cabinetFilter.cabinet.coefficients, nullptr);

    stage.updateCabinet(2, 44100);
    EXPECT_EQ(stage.cabinetFilter.cabinet.coefficients, hpsos_44100 + 150);
    std::mt19937 rng(41);
    std::vector<float> x = noise(rng, 128, 0.5f);
    stage.process(x.data(), 128, true, 2.0f, 2);
    const hp before = stage.cabinetFilter;

    stage.updateCabinet(0, 88200); // nothing
    EXPECT_EQ(stage.cabinetFilter.cabinet.coefficients, hpsos_44100 + 150);
    EXPECT_EQ(firstDifference(stage.cabinetFilter.cabinet.state, before.cabinet.state, 100), -1);

    stage.updateCabinet(5, 88200);
    EXPECT_EQ(stage.cabinetFilter.cabinet.coefficients, hpsos_88200 + 600);
    EXPECT_EQ(stage.cabinetFilter.cabinetIndex, 4);
    for (float v : stage.cabinetFilter.cabinet.state)
        EXPECT_EQ(v, 0.0f);
}

TEST(DspDriveStage, SilenceStaysSilentAndLoudInputStaysFinite)
{
    DriveStage stage = stageWithCurves();
    stage.updateCabinet(1, 192000);
    std::vector<float> x(4096, 0.0f);
    stage.process(x.data(), 4096, true, 50.0f, 1);
    EXPECT_TRUE(std::all_of(x.begin(), x.end(), [](float v) { return v == 0.0f; }));

    std::mt19937 rng(43);
    for (int block = 0; block < 20; ++block)
    {
        std::vector<float> y = noise(rng, 4096, 100.0f);
        stage.process(y.data(), 4096, true, 50.0f, 1);
        EXPECT_TRUE(std::all_of(y.begin(), y.end(), [](float v) { return std::isfinite(v) && std::fabs(v) < 1.0f; }));
    }
}

TEST(DspDriveStage, StageWithoutCurvesOnlyScales)
{
    DriveStage stage; // never given curves
    float x[2] = {0.5f, -0.25f};
    stage.process(x, 2, true, 1.0f, 0);
    EXPECT_EQ(x[0], 0.5f);
    EXPECT_EQ(x[1], -0.25f);
}
