#!/usr/bin/python3
"""Fits the five speaker-cabinet filters at each supported sample rate and
writes Source/dsp/CabinetTables.h and .cpp, then draws docs/cabinets.png.

Input: REFERENCE_DB below, the magnitude (dB, overall gain included) of each
cabinet at 26 frequencies from 25 Hz to 20 kHz. Every rate fits the same
target: the table interpolated smoothly (monotone cubic in log frequency),
held flat below 25 Hz, and above 20 kHz continued at the last segment's
slope, but at least 12 dB per octave downwards, floored at -110 dB.

Model: 25 sections (1, b1, b2, 1, a1, a2) and one overall gain. The first
section is a gain stage, (1, 0, K, 1, 0, 0), flat within 1/K, and the overall
gain is the tiny OVERALL_GAIN: the plug-in rounds every section's state to a
fixed absolute step, so a cascade that runs its signal far above that step
leaves almost nothing behind when the sound stops (about 1e-8 instead of
1e-3 at the output), all the more with the sections nearest z = 1 placed
last. The other 24 sections are fitted. Their zeros are free
(b1, b2 unconstrained); each pole pair is r e^(+-j theta) with
r = MAX_POLE_RADIUS * sigmoid(rho), so every fit is stable by construction.
scipy.optimize.least_squares (trust region, analytic Jacobian) minimises the
weighted dB error on a log-spaced grid (24 points per octave up to just below
Nyquist, 48 over 5..20 kHz, plus the table frequencies, which weigh more), together with a
hinge penalty on any grid point above -0.15 dB, and a penalty on any
section whose poles or zeros lie closer to z = 1 than a 30 Hz resonance
(1 + a1 + a2 or 1 + b1 + b2 below (2 pi 30 / fs)^2): rounding would leave
those stuck on large state values, and on pole pairs sharper than
Q = MAX_POLE_Q (needle-thin parked sections ring and spike). Start: 13 near-flat pole/zero
pairs log-spaced over 30 Hz..6 kHz and 11 zero pairs on the unit circle
over 7..20 kHz with their poles just below them. The coefficients are then
rounded to 8 decimal places (and single precision). Poles and zeros close to
z = 1 are so sensitive that plain rounding costs up to 1 dB at the high rates,
so a polish follows: section by section, the stored values within three steps
of each coefficient are tried together and the best-fitting combination is
kept (two sweeps). Everything reported is computed from the stored values; if
any point still lies above -0.01 dB the gain stage is trimmed to put it there.

Goals checked (and printed per cabinet and rate): within 1 dB of the table
at each table frequency 25..6300 Hz, within 3 dB at 8..20 kHz, never above
0 dB up to Nyquist, pole radius at most 0.999, and at most 1e-6 left at the
output after a burst of noise and silence (simulated in single precision
exactly as the plug-in filters).

Takes a few minutes on one core; run by hand, not at build time:
    nice /usr/bin/python3 tools/dsp-tables/fit_cabinets.py
"""
import os
import sys
import time

import numpy as np
from scipy.interpolate import PchipInterpolator
from scipy.optimize import least_squares

RATES = [44100, 48000, 88200, 96000, 176400, 192000]
SECTIONS = 25
FITTED = SECTIONS - 1  # the first section is a fixed gain stage
# Stored overall gain. Tiny, with a gain stage of the same size in front: the
# cascade's state is rounded to a fixed absolute step (z = (z + 1) - 1), so
# the larger the signal inside, the smaller the rounding residue at the
# output after the sound stops.
OVERALL_GAIN = 1e-8
# Poles or zeros closer to z = 1 than a 30 Hz resonance would be are penalised:
# the rounding leaves such sections stuck on large state values.
DC_LIMIT_HZ = 30.0
# Pole pairs sharper than this (theta / (2 (1 - r))) are penalised: unused
# sections otherwise park as needle-thin pole/zero pairs that ring and show
# as spikes between the table's frequencies.
MAX_POLE_Q = 10.0
SHARPNESS_WEIGHT = 10.0
MAX_POLE_RADIUS = 0.9989  # a little under 0.999, so rounding cannot cross it

FREQUENCIES = np.array([25, 40, 63, 100, 160, 200, 250, 315, 400, 500, 630, 800, 1000, 1250, 1600,
                        2000, 2500, 3150, 4000, 5000, 6300, 8000, 10000, 12500, 16000, 20000], float)
REFERENCE_DB = np.array([  # rows: frequencies above; columns: cabinets 1..5
    [-5.4, -3.0, -4.1, -1.6, -4.7], [-5.3, -3.0, -4.0, -1.6, -4.3], [-5.1, -2.8, -3.7, -1.6, -3.7],
    [-4.7, -2.4, -3.2, -1.6, -2.6], [-4.0, -1.4, -2.1, -1.6, -1.5], [-3.6, -0.9, -1.4, -1.6, -1.3],
    [-3.2, -1.0, -0.9, -1.8, -1.6], [-2.9, -1.9, -0.7, -2.1, -2.4], [-3.0, -2.8, -1.3, -2.7, -3.9],
    [-3.4, -3.4, -2.7, -3.4, -5.6], [-4.4, -3.8, -4.6, -4.5, -5.6], [-7.0, -4.4, -4.9, -5.8, -5.8],
    [-8.1, -7.0, -5.9, -7.6, -7.6], [-9.0, -3.3, -8.6, -11.1, -8.7], [-9.6, -6.2, -9.8, -8.2, -11.0],
    [-4.7, -5.4, -7.5, -9.4, -8.6], [-0.4, -5.5, -3.9, -6.5, -6.7], [-6.7, -8.0, -6.4, -4.7, -4.5],
    [-6.3, -7.5, -11.1, -8.9, -8.5], [-17.5, -7.2, -8.7, -11.7, -6.9], [-16.4, -9.7, -16.9, -19.9, -22.6],
    [-29.7, -34.9, -24.0, -27.3, -25.3], [-45.2, -42.1, -28.4, -34.8, -32.7], [-58.4, -29.8, -51.7, -40.6, -30.3],
    [-58.3, -33.7, -32.2, -42.8, -31.4], [-60.2, -31.2, -34.8, -53.5, -32.5]])

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
DB_PER_LOG = 10.0 / np.log(10.0)


def target_curve(cabinet):
    log_f = np.log(FREQUENCIES)
    y = REFERENCE_DB[:, cabinet]
    inner = PchipInterpolator(log_f, y)
    slope = min((y[-1] - y[-2]) / np.log2(FREQUENCIES[-1] / FREQUENCIES[-2]), -12.0)

    def curve(f):
        f = np.asarray(f, float)
        out = np.empty_like(f)
        low = f < FREQUENCIES[0]
        high = f > FREQUENCIES[-1]
        mid = ~(low | high)
        out[low] = y[0]
        out[mid] = inner(np.log(f[mid]))
        out[high] = np.maximum(y[-1] + slope * np.log2(f[high] / FREQUENCIES[-1]), -110.0)
        return out

    return curve


def sigmoid(v):
    return 0.5 * (1.0 + np.tanh(0.5 * v))


def split(x):
    s = x[:-1].reshape(FITTED, 4)
    return s[:, 0], s[:, 1], s[:, 2], s[:, 3], x[-1]


def response_db(b1, b2, a1, a2, gain_db, w):
    """dB magnitude of the cascade at angular frequencies w (coefficient rows)."""
    z1 = np.exp(-1j * w)[None, :]
    z2 = z1 * z1
    num = 1 + b1[:, None] * z1 + b2[:, None] * z2
    den = 1 + a1[:, None] * z1 + a2[:, None] * z2
    return DB_PER_LOG * (np.log(np.abs(num) ** 2 + 1e-300) - np.log(np.abs(den) ** 2)).sum(0) + gain_db


def model(x, w):
    """dB response and its Jacobian with respect to x."""
    b1, b2, rho, theta, gain_db = split(x)
    c1, s1 = np.cos(w)[None, :], np.sin(w)[None, :]
    c2, s2 = np.cos(2 * w)[None, :], np.sin(2 * w)[None, :]
    sg = sigmoid(rho)[:, None]
    r = MAX_POLE_RADIUS * sg
    a1 = -2 * r * np.cos(theta)[:, None]
    a2 = r * r
    nr = 1 + b1[:, None] * c1 + b2[:, None] * c2
    ni = -(b1[:, None] * s1 + b2[:, None] * s2)
    dr_ = 1 + a1 * c1 + a2 * c2
    di = -(a1 * s1 + a2 * s2)
    n2 = nr ** 2 + ni ** 2 + 1e-14
    d2 = dr_ ** 2 + di ** 2
    db = DB_PER_LOG * (np.log(n2) - np.log(d2)).sum(0) + gain_db
    d_b1 = DB_PER_LOG * (2 * nr * c1 - 2 * ni * s1) / n2
    d_b2 = DB_PER_LOG * (2 * nr * c2 - 2 * ni * s2) / n2
    d_a1 = -DB_PER_LOG * (2 * dr_ * c1 - 2 * di * s1) / d2
    d_a2 = -DB_PER_LOG * (2 * dr_ * c2 - 2 * di * s2) / d2
    dr_drho = MAX_POLE_RADIUS * sg * (1 - sg)
    jac = np.empty((len(w), FITTED, 4))
    jac[:, :, 0] = d_b1.T
    jac[:, :, 1] = d_b2.T
    jac[:, :, 2] = ((d_a1 * (-2 * np.cos(theta)[:, None]) + d_a2 * 2 * r) * dr_drho).T
    jac[:, :, 3] = (d_a1 * 2 * r * np.sin(theta)[:, None]).T
    return db, np.concatenate([jac.reshape(len(w), -1), np.ones((len(w), 1))], 1)


def start_point(fs, w, target):
    centres = np.concatenate([np.geomspace(30, 6000, 13), np.geomspace(7000, min(20000, 0.45 * fs), 11)])
    x0 = []
    for fc in centres:
        angle = 2 * np.pi * fc / fs
        zero_radius = np.exp(-np.pi * fc * 0.5 / fs)
        pole_radius = np.exp(-np.pi * fc * 0.6 / fs)
        pole_angle = angle
        if fc > 6500:
            zero_radius = 1.0
            pole_radius = np.exp(-np.pi * fc * 0.3 / fs)
            pole_angle = 0.8 * angle
        pole_radius = min(pole_radius, 0.997)
        q = pole_radius / MAX_POLE_RADIUS
        x0 += [-2 * zero_radius * np.cos(angle), zero_radius ** 2, np.log(q / (1 - q)), pole_angle]
    x0.append(0.0)
    x0 = np.array(x0)
    db, _ = model(x0, w)
    x0[-1] = np.mean(target - db)
    return x0


def fit(cabinet, fs):
    curve = target_curve(cabinet)
    top = 0.495 * fs
    # Twice as dense over the steep roll-off, where narrow notches would
    # otherwise fall between grid points.
    f = np.unique(np.concatenate([[0.5, 1.0, 2.0, 3.0, 5.0, 7.0], np.geomspace(10, top, int(np.log2(top / 10) * 24)),
                                  np.geomspace(5000, min(20000, top), 97), FREQUENCIES[FREQUENCIES < top]]))
    w = 2 * np.pi * f / fs
    target = curve(f)
    weight = np.select([f < 25, f <= 6300, f <= 8000, f <= 20000], [0.3, 1.0, 0.6, 0.35], 0.08)
    weight = weight * np.where(np.isin(f, FREQUENCIES), 3.0, 1.0)

    dc_floor = np.log((2 * np.pi * DC_LIMIT_HZ / fs) ** 2)

    def dc_terms(x):
        """ln of |D(1)| and |N(1)| per section, and their derivatives."""
        b1, b2, rho, theta, _ = split(x)
        sg = sigmoid(rho)
        r = MAX_POLE_RADIUS * sg
        d1 = 1 - 2 * r * np.cos(theta) + r * r
        n1 = 1 + b1 + b2
        dd_drho = (2 * r - 2 * np.cos(theta)) * MAX_POLE_RADIUS * sg * (1 - sg) / d1
        dd_dtheta = 2 * r * np.sin(theta) / d1
        dn = 1.0 / np.where(np.abs(n1) < 1e-30, 1e-30, n1)
        return np.log(d1), 0.5 * np.log(n1 * n1 + 1e-60), dd_drho, dd_dtheta, dn

    def sharpness(x):
        """ln(Q / MAX_POLE_Q) per section and its derivatives."""
        _, _, rho, theta, _ = split(x)
        sg = sigmoid(rho)
        r = MAX_POLE_RADIUS * sg
        angle = np.abs(theta) + 1e-12
        lq = np.log(angle / (2 * (1 - r)) / MAX_POLE_Q)
        dq_drho = MAX_POLE_RADIUS * sg * (1 - sg) / (1 - r)
        dq_dtheta = np.sign(theta) / angle
        return lq, dq_drho, dq_dtheta

    def residuals(x):
        db, _ = model(x, w)
        ld, ln, _, _, _ = dc_terms(x)
        lq, _, _ = sharpness(x)
        return np.concatenate([weight * (db - target), 5.0 * np.maximum(db + 0.15, 0.0),
                               np.maximum(dc_floor - ld, 0.0), np.maximum(dc_floor - ln, 0.0),
                               SHARPNESS_WEIGHT * np.maximum(lq, 0.0)])

    def jacobian(x):
        db, jac = model(x, w)
        over = (db + 0.15) > 0
        ld, ln, dd_drho, dd_dtheta, dn = dc_terms(x)
        pole_rows = np.zeros((FITTED, len(x)))
        zero_rows = np.zeros((FITTED, len(x)))
        for k in range(FITTED):
            if dc_floor - ld[k] > 0:
                pole_rows[k, 4 * k + 2] = -dd_drho[k]
                pole_rows[k, 4 * k + 3] = -dd_dtheta[k]
            if dc_floor - ln[k] > 0:
                zero_rows[k, 4 * k] = -dn[k]
                zero_rows[k, 4 * k + 1] = -dn[k]
        lq, dq_drho, dq_dtheta = sharpness(x)
        sharp_rows = np.zeros((FITTED, len(x)))
        for k in range(FITTED):
            if lq[k] > 0:
                sharp_rows[k, 4 * k + 2] = SHARPNESS_WEIGHT * dq_drho[k]
                sharp_rows[k, 4 * k + 3] = SHARPNESS_WEIGHT * dq_dtheta[k]
        return np.concatenate([weight[:, None] * jac, 5.0 * jac * over[:, None], pole_rows, zero_rows,
                               sharp_rows], 0)

    x0 = start_point(fs, w, target)
    sol = least_squares(residuals, x0, jac=jacobian, method="trf", max_nfev=400, x_scale="jac")
    return sol.x, curve, (w, target, weight)


def rounded(v):
    return float(np.float32(round(float(v), 8)))


def section_db(b1, b2, a1, a2, w):
    """dB contribution of candidate sections (arrays of equal shape) at w."""
    z1 = np.exp(-1j * w)
    z2 = z1 * z1
    num = 1 + b1[..., None] * z1 + b2[..., None] * z2
    den = 1 + a1[..., None] * z1 + a2[..., None] * z2
    return DB_PER_LOG * (np.log(np.abs(num) ** 2 + 1e-300) - np.log(np.abs(den) ** 2))


def neighbours(v, reach):
    """The stored values (8 decimals, then single precision) around v."""
    step = max(abs(float(np.spacing(np.float32(v)))), 1e-8)
    return sorted({rounded(v + k * step) for k in range(-reach, reach + 1)})


def gain_stage_db(k, w):
    return DB_PER_LOG * np.log(np.abs(1 + k * np.exp(-2j * w)) ** 2)


def polish(rows, gain, grid, fixed_db, sweeps=2, reach=3):
    """Rounding moves poles near z = 1 a long way in response terms. Each
    section in turn tries the stored values within a few steps of its own
    four coefficients and keeps the combination that fits best, the other
    sections held as they are."""
    w, target, weight = grid
    gain_db = 20 * np.log10(gain) + fixed_db
    contributions = np.array([section_db(np.array(r[1]), np.array(r[2]), np.array(r[4]), np.array(r[5]), w)
                              for r in rows])
    order = np.argsort(-np.array([np.abs(np.roots([1.0, r[4], r[5]])).max() for r in rows]))
    for _ in range(sweeps):
        for i in order:
            rest = contributions.sum(0) - contributions[i] + gain_db
            c1, c2, c4, c5 = (neighbours(rows[i][k], reach) for k in (1, 2, 4, 5))
            g1, g2, g4, g5 = np.meshgrid(c1, c2, c4, c5, indexing="ij")
            g1, g2, g4, g5 = g1.ravel(), g2.ravel(), g4.ravel(), g5.ravel()
            ok = (g4 * g4 <= 4.0 * g5) & (np.sqrt(np.abs(g5)) <= 0.999)
            g1, g2, g4, g5 = g1[ok], g2[ok], g4[ok], g5[ok]
            db = rest[None, :] + section_db(g1, g2, g4, g5, w)
            cost = ((weight * (db - target)) ** 2).sum(1) + ((5.0 * np.maximum(db + 0.15, 0.0)) ** 2).sum(1)
            best = int(np.argmin(cost))
            rows[i] = [1.0, float(g1[best]), float(g2[best]), 1.0, float(g4[best]), float(g5[best])]
            contributions[i] = section_db(g1[best:best + 1], g2[best:best + 1], g4[best:best + 1],
                                          g5[best:best + 1], w)[0]
    return rows


def to_rows(x, fs, grid):
    """Stored rows: the gain stage (1, 0, K, 1, 0, 0), whose response is
    |1 + K z^-2|, then the fitted sections from the highest pole angle down;
    and the overall gain. Sections near z = 1 come last, where the gain
    behind them is smallest: their rounding leaves them stuck on the largest
    state values."""
    b1, b2, rho, theta, gain_db = split(x)
    r = MAX_POLE_RADIUS * sigmoid(rho)
    a1 = -2 * r * np.cos(theta)
    a2 = r * r
    order = np.argsort(-np.abs(theta))
    rows = []
    for i in order:
        p1, p2 = rounded(a1[i]), rounded(a2[i])
        # A pole pair near angle 0 can turn into two real poles when rounded,
        # one of them further out: pull a1 in until the pair stays complex.
        while p1 * p1 > 4.0 * p2:
            step = max(abs(float(np.spacing(np.float32(p1)))), 1e-8)
            p1 = rounded(p1 - np.sign(p1) * step)
        rows.append([1.0, rounded(b1[i]), rounded(b2[i]), 1.0, p1, p2])
    gain = rounded(OVERALL_GAIN)
    k = rounded(10 ** (gain_db / 20) / gain)
    w = grid[0]
    rows = polish(rows, gain, grid, gain_stage_db(k, w))
    rows = np.array([[1.0, 0.0, k, 1.0, 0.0, 0.0]] + [list(r) for r in rows])
    # keep every point below 0 dB after rounding, by trimming the gain stage
    dense = 2 * np.pi * np.geomspace(0.1, 0.49999 * fs, 20000) / fs
    peak = response_db(rows[:, 1], rows[:, 2], rows[:, 4], rows[:, 5], 20 * np.log10(gain), dense).max()
    if peak > -0.01:
        rows[0, 2] = rounded(k * 10 ** ((-0.01 - peak) / 20) * (1 - 1e-7))
    return rows, gain


def check(rows, gain, fs, curve):
    gain_db = 20 * np.log10(gain)
    f = FREQUENCIES[FREQUENCIES < 0.5 * fs]
    db = response_db(rows[:, 1], rows[:, 2], rows[:, 4], rows[:, 5], gain_db, 2 * np.pi * f / fs)
    err = db - curve(f)
    mid = np.abs(err[f <= 6300]).max()
    high = np.abs(err[f >= 8000]).max() if np.any(f >= 8000) else 0.0
    dense = 2 * np.pi * np.geomspace(0.1, 0.49999 * fs, 20000) / fs
    peak = response_db(rows[:, 1], rows[:, 2], rows[:, 4], rows[:, 5], gain_db, dense).max()
    radius = 0.0
    for row in rows:
        radius = max(radius, np.abs(np.roots([1.0, row[4], row[5]])).max())
    return mid, high, peak, radius


def settled_residues(cascades, burst=4096, quiet=30000):
    """Largest output, after a burst of noise and a long silence, of each
    cascade (rows, gain) run exactly as the plug-in runs it in single
    precision. All cascades and sections advance together, each section one
    sample behind the one feeding it."""
    rows = np.array([c[0] for c in cascades], np.float32)
    gains = np.array([c[1] for c in cascades], np.float32)
    count, sections, _ = rows.shape
    b0, b1, b2, a1, a2 = (rows[:, :, k].copy() for k in (0, 1, 2, 4, 5))
    z1 = np.zeros((count, sections), np.float32)
    z2 = np.zeros((count, sections), np.float32)
    rng = np.random.default_rng(1)
    total = burst + quiet
    signal = np.zeros(total, np.float32)
    signal[:burst] = rng.uniform(-1, 1, burst).astype(np.float32)
    previous = np.zeros((count, sections), np.float32)
    one = np.float32(1.0)
    limit = np.float32(1e-10)
    lane = np.arange(sections)
    worst = np.zeros(count)
    for t in range(total + sections - 1):
        x = np.empty((count, sections), np.float32)
        x[:, 0] = signal[t] if t < total else 0.0
        x[:, 1:] = previous[:, :-1]
        y = b0 * x + z1
        y[np.abs(y) < limit] = 0.0
        r1 = (b1 * x + z2) - a1 * y
        r2 = b2 * x - a2 * y
        active = (lane <= t) & (t - lane < total)
        z1[:, active] = ((r1 + one) - one)[:, active]
        z2[:, active] = ((r2 + one) - one)[:, active]
        previous = y
        sample = t - sections + 1
        if sample >= total - 10000:
            worst = np.maximum(worst, np.abs(y[:, -1] * gains))
    return worst


def fmt(v):
    s = "%.8f" % v
    if s in ("0.00000000", "-0.00000000"):
        return "0.0f"
    if float(s) == round(float(s)):
        return "%.1ff" % float(s)
    return s + "f"


def write_tables(results):
    banner = ("// Generated by tools/dsp-tables/fit_cabinets.py (25-section least-squares fits\n"
              "// to the cabinets' reference magnitudes, one fit per rate). Do not edit by hand.\n")
    h = [banner, "#pragma once\n\n",
         "// Speaker-cabinet cascades: 5 cabinets x 25 sections x (b0, b1, b2, a0, a1, a2);\n",
         "// cabinet c starts at value 150 c. Gain rows: 5 x (25 section entries of 1.0,\n",
         "// then the overall gain); cabinet c starts at value 26 c.\n"]
    c = [banner, '#include "dsp/CabinetTables.h"\n']
    for fs in RATES:
        h.append("\nextern const float hpsos_%d[750];\nextern const float hpgain_%d[130];\n" % (fs, fs))
        c.append("\nconst float hpsos_%d[750] = {\n" % fs)
        for cab in range(5):
            rows, _ = results[(fs, cab)]
            c.append("    // cabinet %d\n" % (cab + 1))
            for row in rows:
                c.append("    " + ", ".join(fmt(v) for v in row) + ",\n")
        c.append("};\n")
        c.append("const float hpgain_%d[130] = {\n" % fs)
        for cab in range(5):
            _, gain = results[(fs, cab)]
            c.append("    " + ", ".join(["1.0f"] * SECTIONS) + ", " + fmt(gain) + ",\n")
        c.append("};\n")
    with open(os.path.join(ROOT, "Source", "dsp", "CabinetTables.h"), "w") as f:
        f.write("".join(h))
    with open(os.path.join(ROOT, "Source", "dsp", "CabinetTables.cpp"), "w") as f:
        f.write("".join(c))


def draw(results):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    fig, axes = plt.subplots(5, 1, figsize=(9, 16), sharex=True)
    for cab in range(5):
        ax = axes[cab]
        for fs in RATES:
            rows, gain = results[(fs, cab)]
            f = np.geomspace(10, min(0.4999 * fs, 40000), 1500)
            db = response_db(rows[:, 1], rows[:, 2], rows[:, 4], rows[:, 5], 20 * np.log10(gain),
                             2 * np.pi * f / fs)
            ax.semilogx(f, db, lw=0.9, label="%d Hz" % fs)
        ax.semilogx(FREQUENCIES, REFERENCE_DB[:, cab], "ko", ms=4, label="reference")
        ax.set_ylim(-70, 3)
        ax.set_ylabel("cab%d  dB" % (cab + 1))
        ax.grid(True, which="both", alpha=0.3)
        if cab == 0:
            ax.legend(fontsize=7, ncol=4)
    axes[-1].set_xlabel("Hz")
    fig.suptitle("Cabinet filters at each rate against the reference magnitudes")
    fig.tight_layout()
    os.makedirs(os.path.join(ROOT, "docs"), exist_ok=True)
    fig.savefig(os.path.join(ROOT, "docs", "cabinets.png"), dpi=80)


def main():
    results = {}
    failed = False
    print("rate    cab  |err| 25-6300  |err| 8k-20k  peak dB  pole radius  seconds")
    for fs in RATES:
        for cab in range(5):
            started = time.time()
            x, curve, grid = fit(cab, fs)
            rows, gain = to_rows(x, fs, grid)
            results[(fs, cab)] = (rows, gain)
            mid, high, peak, radius = check(rows, gain, fs, curve)
            ok = mid <= 1.0 and high <= 3.0 and peak < 0.0 and radius <= 0.999
            failed = failed or not ok
            print("%6d  %d    %6.3f         %6.3f        %6.2f   %.6f     %4.1f%s"
                  % (fs, cab + 1, mid, high, peak, radius, time.time() - started, "" if ok else "  MISSED"))
            sys.stdout.flush()
    keys = sorted(results)
    residues = settled_residues([results[k] for k in keys])
    print("largest output after a burst and 30000 samples of silence:")
    for key, value in zip(keys, residues):
        print("%6d  cab%d  %.1e%s" % (key[0], key[1] + 1, value, "" if value <= 1e-6 else "  MISSED"))
        failed = failed or value > 1e-6
    write_tables(results)
    draw(results)
    if failed:
        print("some fits missed their goals")
        sys.exit(1)


if __name__ == "__main__":
    main()
