#include "EpianoModel.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace
{

using Complex = std::complex<double>;

constexpr double pi = 3.14159265358979323846;

double noteToHz (double midiNote)
{
    return 440.0 * std::pow (2.0, (midiNote - 69.0) / 12.0);
}

// A fixed number in -1..1 per note and salt: tines of one instrument are not all
// cut alike, so their upper modes sit a little apart from note to note.
double noteJitter (int midiNote, uint32_t salt)
{
    uint32_t h = (uint32_t) midiNote * 0x9E3779B1u ^ salt * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return (double) (h & 0xFFFFu) / 32767.5 - 1.0;
}

// Bending mode shapes of a clamped-free beam, normalised so that the square of a
// shape integrates to 1 over the beam; the tip value is +-2.
double cantileverShape (int mode, double xi)
{
    static const double beta[3] = { 1.8751040687119611, 4.6940911329741746, 7.8547574382376126 };
    const double b = beta[mode];
    const double sigma = (std::cosh (b) + std::cos (b)) / (std::sinh (b) + std::sin (b));
    const double x = b * xi;
    return std::cosh (x) - std::cos (x) - sigma * (std::sinh (x) - std::sin (x));
}

// One vibrating component as the strike sees it and the pickup hears it.
struct TineMode
{
    double dampedHz = 0.0;          // frequency of the free, damped vibration
    double decayRate = 0.0;         // amplitude decay per second (1 / time constant)
    double strikeShape = 0.0;       // mode shape at the hammer
    double tipShape = 0.0;          // mode shape at the pickup
    double forceShare = 1.0;        // part of the hammer's force the mode receives
    bool fundamental = false;       // one of the two tine-and-bar modes at the key's pitch
    bool fastFundamental = false;   // of those, the anti-phase one that the clamp's losses damp
};

struct StrikeResult
{
    std::vector<double> tipDuringContact;   // tip displacement at the rendering rate, from the first touch
    double contactEnd = 0.0;                // seconds after the first touch
    std::vector<Complex> amplitude;         // per mode: q(t) = Re(amplitude * exp((-decay + j w)(t - contactEnd)))
};

constexpr double hammerMass = 1.0;
constexpr double tineModalMass = 3.0;       // per mode, in hammer masses
constexpr double feltExponent = 2.8;        // felt stiffens as it is compressed
constexpr double feltLoss = 0.3;            // hysteresis: the felt gives back less than it took

// The felt stiffness for which a hammer at speed 1 stays on a rigid target for contactSeconds.
double feltStiffness (double contactSeconds)
{
    const double p = feltExponent;
    // integral of du / sqrt(1 - u^(p+1)) over 0..1
    const double shapeIntegral = std::tgamma (1.0 / (p + 1.0)) * std::sqrt (pi)
                               / (std::tgamma (1.0 / (p + 1.0) + 0.5) * (p + 1.0));
    const double maxCompression = contactSeconds / (2.0 * shapeIntegral);
    return (p + 1.0) * hammerMass / (2.0 * std::pow (maxCompression, p + 1.0));
}

// Hammer and tine modes integrated together while they touch (fourth-order
// Runge-Kutta, many steps per output sample), then handed over as free decays.
StrikeResult simulateStrike (const std::vector<TineMode>& modes, double hammerSpeed, double stiffness,
                             double renderRate, int substeps)
{
    const size_t count = modes.size();
    const size_t stateSize = 2 + 2 * count;
    const double dt = 1.0 / (renderRate * substeps);

    std::vector<double> omega0Squared (count);
    for (size_t j = 0; j < count; ++j)
    {
        const double w = 2.0 * pi * modes[j].dampedHz;
        omega0Squared[j] = w * w + modes[j].decayRate * modes[j].decayRate;
    }

    auto derivative = [&] (const std::vector<double>& s, std::vector<double>& d) {
        double strikeDisplacement = 0.0, strikeVelocity = 0.0;
        for (size_t j = 0; j < count; ++j)
        {
            strikeDisplacement += modes[j].strikeShape * s[2 + 2 * j];
            strikeVelocity += modes[j].strikeShape * s[3 + 2 * j];
        }
        const double compression = s[0] - strikeDisplacement;
        double force = 0.0;
        if (compression > 0.0)
            force = std::max (0.0, stiffness * std::pow (compression, feltExponent)
                                       * (1.0 + feltLoss * (s[1] - strikeVelocity)));
        d[0] = s[1];
        d[1] = -force / hammerMass;
        for (size_t j = 0; j < count; ++j)
        {
            d[2 + 2 * j] = s[3 + 2 * j];
            d[3 + 2 * j] = -2.0 * modes[j].decayRate * s[3 + 2 * j] - omega0Squared[j] * s[2 + 2 * j]
                         + modes[j].forceShare * modes[j].strikeShape * force / tineModalMass;
        }
        return compression;
    };

    std::vector<double> s (stateSize, 0.0), k1 (stateSize), k2 (stateSize), k3 (stateSize), k4 (stateSize),
        tmp (stateSize);
    s[1] = hammerSpeed;

    StrikeResult result;
    const long maxSteps = (long) (0.03 * renderRate * substeps);
    long step = 0;
    bool touching = true;
    while (touching && step < maxSteps)
    {
        if (step % substeps == 0)
        {
            double tip = 0.0;
            for (size_t j = 0; j < count; ++j)
                tip += modes[j].tipShape * s[2 + 2 * j];
            result.tipDuringContact.push_back (tip);
        }

        derivative (s, k1);
        for (size_t i = 0; i < stateSize; ++i) tmp[i] = s[i] + 0.5 * dt * k1[i];
        derivative (tmp, k2);
        for (size_t i = 0; i < stateSize; ++i) tmp[i] = s[i] + 0.5 * dt * k2[i];
        derivative (tmp, k3);
        for (size_t i = 0; i < stateSize; ++i) tmp[i] = s[i] + dt * k3[i];
        derivative (tmp, k4);
        for (size_t i = 0; i < stateSize; ++i)
            s[i] += dt / 6.0 * (k1[i] + 2.0 * k2[i] + 2.0 * k3[i] + k4[i]);
        ++step;

        double strikeDisplacement = 0.0;
        for (size_t j = 0; j < count; ++j)
            strikeDisplacement += modes[j].strikeShape * s[2 + 2 * j];
        touching = s[0] - strikeDisplacement > 0.0;
    }

    result.contactEnd = (double) step * dt;
    for (size_t j = 0; j < count; ++j)
    {
        const double q = s[2 + 2 * j], v = s[3 + 2 * j];
        const double w = 2.0 * pi * modes[j].dampedHz;
        result.amplitude.push_back (Complex (q, -(v + modes[j].decayRate * q) / w));
    }
    return result;
}

// Second-order low-pass: the pickup coil's inductance against the cable's capacitance.
void applyCoil (std::vector<double>& x, double cutoffHz, double q, double sampleRate)
{
    const double w0 = 2.0 * pi * cutoffHz / sampleRate;
    const double alpha = std::sin (w0) / (2.0 * q);
    const double c = std::cos (w0);
    const double a0 = 1.0 + alpha;
    const double b0 = (1.0 - c) / 2.0 / a0, b1 = (1.0 - c) / a0, b2 = b0;
    const double a1 = -2.0 * c / a0, a2 = (1.0 - alpha) / a0;
    double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
    for (double& v : x)
    {
        const double y = b0 * v + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = v;
        y2 = y1;
        y1 = y;
        v = y;
    }
}

// Kaiser-windowed sinc for bringing an oversampled signal back to the output rate.
std::vector<double> decimationFilter (int factor)
{
    const int half = 24 * factor;
    const double beta = 9.0;
    const double cutoff = 0.45 / factor;    // cycles per oversampled sample
    auto besselI0 = [] (double x) {
        double sum = 1.0, term = 1.0;
        for (int k = 1; k < 40; ++k)
        {
            term *= (x / (2.0 * k)) * (x / (2.0 * k));
            sum += term;
        }
        return sum;
    };
    std::vector<double> h (2 * half + 1);
    double total = 0.0;
    for (int i = -half; i <= half; ++i)
    {
        const double t = (double) i / half;
        const double window = besselI0 (beta * std::sqrt (std::max (0.0, 1.0 - t * t))) / besselI0 (beta);
        const double sinc = i == 0 ? 2.0 * cutoff : std::sin (2.0 * pi * cutoff * i) / (pi * i);
        h[(size_t) (i + half)] = sinc * window;
        total += h[(size_t) (i + half)];
    }
    for (double& v : h)
        v /= total;
    return h;
}

// The flux through the coil as the tip passes the pole: a bell around the pole's
// axis, which lies poleOffset away from the tine's rest position.
inline double poleFlux (double tip, double poleOffset)
{
    const double u = tip - poleOffset;
    return 1.0 / (1.0 + u * u);
}

// Where a note sits in the playing range, 0 at the bottom key, 1 at the top.
double rangePosition (int midiNote)
{
    return ((double) midiNote - 22.0) / 84.0;
}

double hammerSpeedFor (int velocity)
{
    return 0.25 + 0.75 * (double) velocity / 127.0;
}

// Contact time at full hammer speed: long in the bass, and never so long that
// the felt smothers the fundamental.
double contactSecondsFor (int midiNote, double fundamentalHz, double scale)
{
    const double byRange = 3.5e-3 * std::pow (2.0, -((double) midiNote - 22.0) / 28.0);
    return scale * std::min (byRange, 0.42 / fundamentalHz);
}

// The tine and its tone bar, tuned alike and joined through a lossy clamp, move
// as two modes at the key's pitch: in phase, barely damped (the long sustain),
// and against each other, damped fast by the clamp (the prompt first sound).
// Above them the tine's own second and third bending modes ring briefly; they
// make the bell of the strike.
std::vector<TineMode> tineModes (int midiNote, double fundamentalHz, const EpianoVoicing& voicing,
                                 double slowTime, double fastTime, double barShare, double renderRate)
{
    const double x = voicing.strikePoint;
    const double upperTime = 0.05 * std::pow (2.0, -((double) midiNote - 22.0) / 40.0);

    std::vector<TineMode> modes;
    TineMode slow;
    slow.dampedHz = fundamentalHz;
    slow.decayRate = 1.0 / slowTime;
    slow.strikeShape = cantileverShape (0, x);
    slow.tipShape = cantileverShape (0, 1.0);
    slow.forceShare = barShare;
    slow.fundamental = true;
    modes.push_back (slow);

    if (barShare < 1.0)
    {
        TineMode fast = slow;
        fast.decayRate = 1.0 / fastTime;
        fast.forceShare = 1.0 - barShare;
        fast.fastFundamental = true;
        modes.push_back (fast);
    }

    const double ratios[2] = { 6.267 * (1.0 + 0.012 * noteJitter (midiNote, 1)),
                               17.547 * (1.0 + 0.01 * noteJitter (midiNote, 2)) };
    const double times[2] = { upperTime, 0.4 * upperTime };
    for (int m = 0; m < 2; ++m)
    {
        TineMode upper;
        upper.dampedHz = ratios[m] * fundamentalHz;
        if (upper.dampedHz > 0.45 * renderRate)
            continue;   // beyond what the rendering rate holds; it would only alias
        upper.decayRate = 1.0 / times[m];
        upper.strikeShape = cantileverShape (m + 1, x);
        upper.tipShape = voicing.upperModeLevel * cantileverShape (m + 1, 1.0);
        modes.push_back (upper);
    }
    return modes;
}

int oversamplingFor (double fundamentalHz, double harmonics, double sampleRate)
{
    int factor = 1;
    while (factor < 16 && harmonics * fundamentalHz > 0.45 * factor * sampleRate)
        factor *= 2;
    return factor;
}

// How the pickup signal is laid out in time. For a looped zone the fundamental is
// read from a table of one loop (`periods` periods in `loopLength` samples) so
// that the loop repeats exactly; from `pureStart` on the tip swings with a fixed
// amplitude and the level falls by exactly `logDecay` per sample, which is what
// the stored loop gain goes on doing after the loop's end.
struct ToneLayout
{
    size_t length = 0;                  // output samples to produce
    bool looped = false;
    uint32_t loopLength = 0;
    uint32_t periods = 0;
    double logDecay = 0.0;              // natural log of the level change per output sample
    size_t blendStart = 0;
    size_t pureStart = 0;
};

std::vector<double> renderPickup (const std::vector<TineMode>& modes, double fundamentalHz, const EpianoVoicing& voicing,
                                  double poleWidth, double hammerSpeed, double stiffness, int factor,
                                  double sampleRate, const ToneLayout& layout, double& contactSeconds)
{
    const double rate = sampleRate * factor;
    const StrikeResult strike = simulateStrike (modes, hammerSpeed, stiffness, rate, std::max (4, 64 / factor));
    contactSeconds = strike.contactEnd;

    const std::vector<double> fir = factor > 1 ? decimationFilter (factor) : std::vector<double> { 1.0 };
    const size_t half = fir.size() / 2;
    const size_t total = layout.length * (size_t) factor + half + 1;

    // The fundamental's two components, as one complex envelope at the tip, with
    // the carrier counted from sample 0 of the zone.
    const double omega = 2.0 * pi * fundamentalHz;
    Complex slowAmplitude, fastAmplitude;
    double slowRate = 0.0, fastRate = 0.0;
    struct Upper
    {
        Complex value;
        Complex rotation;
    };
    std::vector<Upper> uppers;
    const size_t first = strike.tipDuringContact.size();   // first sample after the contact
    const double firstTime = (double) first / rate - strike.contactEnd;
    for (size_t j = 0; j < modes.size(); ++j)
    {
        const Complex a = strike.amplitude[j] * modes[j].tipShape / poleWidth;
        if (modes[j].fundamental)
        {
            const Complex carried = a * std::polar (1.0, -omega * strike.contactEnd);
            (modes[j].fastFundamental ? fastAmplitude : slowAmplitude) = carried;
            (modes[j].fastFundamental ? fastRate : slowRate) = modes[j].decayRate;
        }
        else
        {
            const Complex pole (-modes[j].decayRate / rate, 2.0 * pi * modes[j].dampedHz / rate);
            uppers.push_back ({ a * std::exp (pole * ((double) first - strike.contactEnd * rate)), std::exp (pole) });
        }
    }

    auto envelopeAt = [&] (double seconds) {
        return slowAmplitude * std::exp (-slowRate * seconds) + fastAmplitude * std::exp (-fastRate * seconds);
    };

    const size_t tableSize = (size_t) layout.loopLength * (size_t) factor;
    std::vector<Complex> carrierTable;
    if (layout.looped)
    {
        carrierTable.resize (tableSize);
        for (size_t i = 0; i < tableSize; ++i)
            carrierTable[i] = std::polar (1.0, 2.0 * pi * (double) i / (double) tableSize);
    }

    const size_t blendStart = layout.blendStart * (size_t) factor;
    const size_t pureStart = layout.pureStart * (size_t) factor;
    const double logDecay = layout.logDecay / factor;
    const Complex anchor = layout.looped ? envelopeAt ((double) pureStart / rate - strike.contactEnd) : Complex();
    const double anchorLog = std::log (std::abs (anchor));
    const double anchorPhase = std::arg (anchor);

    std::vector<double> pickup (total, 0.0);
    double previousFlux = poleFlux (0.0, voicing.poleOffset);
    double slowDecay = std::exp (-slowRate * firstTime), fastDecay = std::exp (-fastRate * firstTime);
    const double slowStep = std::exp (-slowRate / rate), fastStep = std::exp (-fastRate / rate);

    for (size_t m = 0; m < total; ++m)
    {
        double tip = 0.0;
        double level = 1.0;
        if (m < first)
        {
            tip = strike.tipDuringContact[m] / poleWidth;
        }
        else
        {
            double blend = 0.0;
            if (layout.looped && m >= pureStart)
                blend = 1.0;
            else if (layout.looped && m >= blendStart)
                blend = 0.5 - 0.5 * std::cos (pi * (double) (m - blendStart) / (double) (pureStart - blendStart));

            Complex envelope = slowAmplitude * slowDecay + fastAmplitude * fastDecay;
            if (blend > 0.0)
            {
                // Glide from the natural envelope to the fixed one of the loop.
                double phaseGap = anchorPhase - std::arg (envelope);
                phaseGap -= 2.0 * pi * std::round (phaseGap / (2.0 * pi));
                const double logAmplitude = (1.0 - blend) * std::log (std::abs (envelope)) + blend * anchorLog;
                envelope = blend >= 1.0 ? anchor
                                        : std::polar (std::exp (logAmplitude), std::arg (envelope) + blend * phaseGap);
                level = std::exp (blend * ((double) m - (double) pureStart) * logDecay);
            }

            const Complex carrier = layout.looped
                                        ? carrierTable[(size_t) (((uint64_t) layout.periods * m) % tableSize)]
                                        : std::polar (1.0, omega * (double) m / rate);
            tip = (envelope * carrier).real();

            double upperTip = 0.0;
            for (auto& u : uppers)
            {
                upperTip += u.value.real();
                u.value *= u.rotation;
            }
            tip += (1.0 - blend) * upperTip;

            slowDecay *= slowStep;
            fastDecay *= fastStep;
        }

        const double flux = poleFlux (tip, voicing.poleOffset);
        pickup[m] = level * (flux - previousFlux) * factor;
        previousFlux = flux;
    }

    std::vector<double> out (layout.length, 0.0);
    for (size_t n = 0; n < layout.length; ++n)
    {
        const size_t centre = n * (size_t) factor;
        double sum = 0.0;
        for (size_t k = 0; k < fir.size(); ++k)
        {
            const long index = (long) centre + (long) half - (long) k;
            if (index >= 0)
                sum += fir[k] * pickup[(size_t) index];
        }
        out[n] = sum;
    }

    applyCoil (out, voicing.coilCutoffHz, voicing.coilQ, sampleRate);
    return out;
}

} // namespace

LoopChoice chooseLoop (double targetHz, double sampleRate, uint32_t minimumLength, uint32_t maximumLength,
                       double toleranceCents)
{
    LoopChoice best;
    best.centsError = 1.0e9;
    for (uint32_t length = minimumLength; length <= maximumLength; ++length)
    {
        const double exactPeriods = (double) length * targetHz / sampleRate;
        const uint32_t periods = (uint32_t) std::lround (exactPeriods);
        if (periods == 0)
            continue;
        const double hz = (double) periods * sampleRate / (double) length;
        const double cents = 1200.0 * std::log2 (hz / targetHz);
        if (std::fabs (cents) < std::fabs (best.centsError))
        {
            best = { length, periods, hz, cents };
            if (std::fabs (cents) <= toleranceCents)
                break;
        }
    }
    return best;
}

double storedLoopGain (uint32_t loopDecay)
{
    return (double) (1.0f + (float) loopDecay / -1000000.0f);
}

double EpianoModel::sustainZoneSeconds (int midiNote)
{
    const double x = std::clamp (rangePosition (midiNote), 0.0, 1.0);
    return 2.2 * std::pow (0.6 / 2.2, x);
}

RenderedZone EpianoModel::renderSustainZone (int midiNote, int velocity) const
{
    RenderedZone zone;
    const double keyHz = noteToHz (midiNote);
    const size_t targetLength = (size_t) std::lround (sustainZoneSeconds (midiNote) * sampleRate);
    const uint32_t periodSamples = (uint32_t) std::ceil (sampleRate / keyHz);

    const LoopChoice loop = chooseLoop (keyHz, sampleRate, std::max<uint32_t> (1024, periodSamples),
                                        (uint32_t) (targetLength / 4), 0.25);
    zone.looped = true;
    zone.loopLength = loop.length;
    zone.fundamentalHz = loop.frequencyHz;

    const double x = rangePosition (midiNote);
    const double slowTime = voicing.sustainScale * 4.5 * std::pow (2.0, -((double) midiNote - 22.0) / 24.0);
    const double fastTime = 0.12 * slowTime + 0.02;
    const int factor = oversamplingFor (loop.frequencyHz, 8.0, sampleRate);
    const std::vector<TineMode> modes =
        tineModes (midiNote, loop.frequencyHz, voicing, slowTime, fastTime, voicing.barShare, sampleRate * factor);

    // The loop's gain per pass, as it will be stored, sets the decay inside the loop.
    const double naturalGain = std::exp (-(double) loop.length / (slowTime * sampleRate));
    zone.loopDecay = (uint32_t) std::lround ((1.0 - naturalGain) * 1.0e6);
    const double gain = storedLoopGain (zone.loopDecay);

    ToneLayout layout;
    layout.looped = true;
    layout.loopLength = loop.length;
    layout.periods = loop.periods;
    layout.logDecay = std::log (gain) / (double) loop.length;
    const size_t preRoll = 1024;   // settles the decimation and coil filters on the repeating signal
    const size_t earliestLoop = targetLength - loop.length - periodSamples;
    layout.pureStart = earliestLoop - preRoll;
    layout.blendStart = layout.pureStart - (size_t) (0.15 * sampleRate);
    layout.length = targetLength + 1;

    const double stiffness = feltStiffness (contactSecondsFor (midiNote, loop.frequencyHz, voicing.contactScale));
    const double swing = voicing.swingInBass * std::pow (voicing.swingInTreble / voicing.swingInBass,
                                                         std::clamp (x, 0.0, 1.0));

    // The pole width follows from how far the hardest strike swings the tip.
    const StrikeResult loudest = simulateStrike (modes, hammerSpeedFor (127), stiffness, sampleRate * factor,
                                                 std::max (4, 64 / factor));
    Complex loudestTip;
    for (size_t j = 0; j < modes.size(); ++j)
        if (modes[j].fundamental)
            loudestTip += loudest.amplitude[j] * modes[j].tipShape;
    const double poleWidth = std::abs (loudestTip) / swing;

    std::vector<double> out = renderPickup (modes, loop.frequencyHz, voicing, poleWidth, hammerSpeedFor (velocity),
                                            stiffness, factor, sampleRate, layout, zone.contactSeconds);

    // Start the loop where the waveform is flattest within one period, so the
    // join lands on the smallest step the signal makes there.
    size_t loopStart = earliestLoop;
    double smallestStep = 1.0e300;
    for (size_t s = earliestLoop; s < earliestLoop + periodSamples; ++s)
    {
        const double stepAcross = std::fabs (out[s + loop.length] - out[s + loop.length - 1]);
        if (stepAcross < smallestStep)
        {
            smallestStep = stepAcross;
            loopStart = s;
        }
    }
    out.resize (loopStart + loop.length);
    zone.samples = std::move (out);
    return zone;
}

RenderedZone EpianoModel::renderTineStrike (int midiNote, int velocity, double lengthSeconds) const
{
    RenderedZone zone;
    const double keyHz = noteToHz (midiNote);
    zone.fundamentalHz = keyHz;

    const int factor = oversamplingFor (keyHz, 5.0, sampleRate);
    const double tineTime = 0.09 * std::pow (2.0, -((double) midiNote - 33.0) / 48.0);
    const std::vector<TineMode> modes = tineModes (midiNote, keyHz, voicing, tineTime, tineTime, 1.0, sampleRate * factor);

    ToneLayout layout;
    layout.length = (size_t) std::lround (lengthSeconds * sampleRate);

    const double stiffness = feltStiffness (contactSecondsFor (midiNote, keyHz, voicing.contactScale));
    const double swing = voicing.swingInBass * std::pow (voicing.swingInTreble / voicing.swingInBass,
                                                         std::clamp (rangePosition (midiNote), 0.0, 1.0));
    const StrikeResult loudest = simulateStrike (modes, hammerSpeedFor (127), stiffness, sampleRate * factor,
                                                 std::max (4, 64 / factor));
    const double poleWidth = std::abs (loudest.amplitude[0] * modes[0].tipShape) / swing;

    std::vector<double> out = renderPickup (modes, keyHz, voicing, poleWidth, hammerSpeedFor (velocity), stiffness,
                                            factor, sampleRate, layout, zone.contactSeconds);

    // Fade the last 40 % to silence: the voice stops where the zone ends.
    const size_t fadeStart = out.size() * 6 / 10;
    const double fadeLength = (double) (out.size() - 1 - fadeStart);
    for (size_t n = fadeStart; n < out.size(); ++n)
        out[n] *= 0.5 + 0.5 * std::cos (pi * (double) (n - fadeStart) / fadeLength);

    zone.samples = std::move (out);
    return zone;
}
