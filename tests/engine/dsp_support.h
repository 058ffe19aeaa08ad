#pragma once

// Helpers shared by the effects-chain tests.

#include <cmath>
#include <complex>
#include <cstring>
#include <cstdint>
#include <random>
#include <vector>

namespace dsptest
{

// Magnitude in dB of a cascade of (b0, b1, b2, a0, a1, a2) rows times the
// overall gain, evaluated in double at frequency hz.
inline double cascadeDb(const float* rows, int sections, double gain, double hz, double fs)
{
    const std::complex<double> z1 = std::polar(1.0, -2.0 * M_PI * hz / fs);
    const std::complex<double> z2 = z1 * z1;
    std::complex<double> h = gain;
    for (int s = 0; s < sections; ++s)
    {
        const float* c = rows + 6 * s;
        h *= (double(c[0]) + double(c[1]) * z1 + double(c[2]) * z2) / (double(c[3]) + double(c[4]) * z1 + double(c[5]) * z2);
    }
    return 20.0 * std::log10(std::abs(h));
}

inline std::complex<double> cascadeResponse(const float* rows, int sections, double gain, double hz, double fs)
{
    const std::complex<double> z1 = std::polar(1.0, -2.0 * M_PI * hz / fs);
    const std::complex<double> z2 = z1 * z1;
    std::complex<double> h = gain;
    for (int s = 0; s < sections; ++s)
    {
        const float* c = rows + 6 * s;
        h *= (double(c[0]) + double(c[1]) * z1 + double(c[2]) * z2) / (double(c[3]) + double(c[4]) * z1 + double(c[5]) * z2);
    }
    return h;
}

// Largest pole radius of one section 1 + a1 z^-1 + a2 z^-2.
inline double poleRadius(float a1, float a2)
{
    const double p = a1, q = a2;
    const double disc = p * p - 4.0 * q;
    if (disc < 0.0)
        return std::sqrt(q);
    const double r = std::sqrt(disc);
    return std::fmax(std::fabs((-p + r) / 2.0), std::fabs((-p - r) / 2.0));
}

inline bool sameBits(float a, float b)
{
    std::uint32_t x, y;
    std::memcpy(&x, &a, 4);
    std::memcpy(&y, &b, 4);
    return x == y;
}

inline std::vector<float> noise(std::mt19937& rng, int n, float amplitude)
{
    std::uniform_real_distribution<float> d(-amplitude, amplitude);
    std::vector<float> v(static_cast<std::size_t>(n));
    for (float& s : v)
        s = d(rng);
    return v;
}

// Index of the first sample that differs in its bits, or -1.
inline long firstDifference(const float* a, const float* b, long n)
{
    for (long i = 0; i < n; ++i)
        if (!sameBits(a[i], b[i]))
            return i;
    return -1;
}

} // namespace dsptest
