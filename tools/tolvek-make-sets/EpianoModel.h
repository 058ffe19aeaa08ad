#pragma once

#include <cstdint>
#include <vector>

// A tine electric piano, modelled from its mechanics: a felt-tipped hammer
// strikes a cantilever tine near its clamp; the tine is coupled to a tone bar
// tuned to its fundamental; an electromagnetic pickup near the tine's tip
// delivers the time derivative of the magnetic flux, a nonlinear function of
// the tip's displacement past the pickup pole.
//
// All lengths are in pickup pole widths, all times in seconds.

// What tells one instrument from another: the same mechanics, voiced differently.
struct EpianoVoicing
{
    double poleOffset = 0.4;            // pole axis to the tine's rest position; 0.577 gives the
                                        // least even distortion, smaller values more
    double swingInBass = 0.9;           // tip swing at velocity 127 at the bottom of the range
    double swingInTreble = 0.35;        // and at the top
    double contactScale = 1.0;          // felt: above 1 softer (longer contact), below 1 harder
    double strikePoint = 0.1;           // hammer position along the tine, from the clamp (0..1)
    double coilCutoffHz = 6000.0;       // pickup coil and cable resonance
    double coilQ = 1.0;
    double upperModeLevel = 0.35;       // tip motion of the upper bending modes against a plain
                                        // cantilever's: the tuning spring's mass near the tip holds it back
    double barShare = 0.55;             // part of the fundamental's energy that lives in the long,
                                        // in-phase tine-and-bar mode; the rest dies fast
    double sustainScale = 1.0;          // scales every decay time
};

// A loop of `length` samples holding exactly `periods` periods of `frequencyHz`.
struct LoopChoice
{
    uint32_t length = 0;
    uint32_t periods = 0;
    double frequencyHz = 0.0;           // periods * sampleRate / length
    double centsError = 0.0;            // frequencyHz against the requested pitch
};

// The shortest loop of at least minimumLength samples whose whole number of periods
// sounds within toleranceCents of targetHz; the closest one up to maximumLength
// when none is that close.
LoopChoice chooseLoop (double targetHz, double sampleRate, uint32_t minimumLength, uint32_t maximumLength,
                       double toleranceCents);

// The gain per loop pass that a loop decay value gives once stored (single precision).
double storedLoopGain (uint32_t loopDecay);

struct RenderedZone
{
    std::vector<double> samples;        // unscaled pickup output
    bool looped = false;
    uint32_t loopLength = 0;            // the loop is the last loopLength samples
    uint32_t loopDecay = 0;             // loopGain = 1 - loopDecay / 1e6 per pass
    double fundamentalHz = 0.0;
    double contactSeconds = 0.0;        // how long the hammer touched the tine
};

struct EpianoModel
{
    EpianoVoicing voicing;
    double sampleRate = 44100.0;

    // A sustained zone at the key's pitch, ending in a loop that continues its decay.
    RenderedZone renderSustainZone (int midiNote, int velocity) const;

    // A short strike transient at the note's pitch, no loop, faded to silence.
    RenderedZone renderTineStrike (int midiNote, int velocity, double lengthSeconds) const;

    // How long a sustained zone of this note lasts before its loop ends, in seconds.
    static double sustainZoneSeconds (int midiNote);
};
