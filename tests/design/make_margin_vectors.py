#!/usr/bin/python3
"""Writes margin_vectors.h: crossover, phase margin and gain margin of the drive's current,
speed and position loops, worked out in the frequency domain for the loop model to be held to.

The route is not the model's. The model steps the drive period by period and lifts one loop
period into a transition matrix; here every sampled path is the sum over the aliases of a
continuous response (impulse invariance), with the holds written as their transforms:

- the bridge holds each command for one fast period, half a PWM period after the current
  was sampled: H(s) = e^{-s Tc/2} (1 - e^{-s Tc}) / s;
- the current converter samples i(t) at the fast rate; the current loop is closed in z_c;
- the speed and position loops hand a current (or speed) reference to the fast loop, which
  repeats it for the N fast samples of a slow one;
- the encoder samples the angle at the slow rate; the speed is its difference.

The bundled drive: 40 MHz clock, PWMPER 1000 (Tc = 50 us), SLPER 10 (Ts = 0.5 ms), 48 V,
+-10 A over a 1024-level converter, 500 lines, R 1.2 ohm, L 1 mH, K 0.06 Nm/A,
Jt 4.5e-5 kgm^2; gains as its chip pairs store them.

Run with the Debian python3-scipy:  /usr/bin/python3 make_margin_vectors.py
"""

import math
import os

import numpy as np
from scipy import signal

TC = 2 * 1000 / 40e6
N = 10
TS = N * TC
R, L, K, J = 1.2, 1e-3, 0.06, 4.5e-5
CURRENT = (65536 - 64) / 20.0          # counts per A
VOLT = 48.0 / 32767.0                  # V per count of the command
POSITION = 2000 / (2 * math.pi)        # counts per rad

KPI, KII = 19132 / 32767, 1367 / 32767
KPS, KIS = 24682 * 4096 / 32767, 19745 * 128 / 32767
KPP, KIP = 983 / 32767, 7 / 32767
ALIASES = 4000


def motor(s):
    """Current and speed per volt of the motor with its back EMF."""
    d = L * J * s * s + R * J * s + K * K
    return J * s / d, K / d


def bridge(s):
    return np.exp(-s * TC / 2) * (1 - np.exp(-s * TC)) / s


def alias(w, period, count=ALIASES):
    m = np.arange(-count, count + 1)
    return 1j * (w + 2 * math.pi * m / period)


def pi_controller(kp, ki, z):
    return kp + ki / (1 - 1 / z)


def current_plant(w):
    """Sampled current (counts) per command count, at the fast rate, for each of `w`."""
    w = np.atleast_1d(w)
    s = alias(w[:, None], TC)
    gi, _ = motor(s)
    return CURRENT * VOLT * np.sum(gi * bridge(s), axis=1) / TC


def biquad(z, b, a):
    return (b[0] + b[1] / z + b[2] / z ** 2) / (1 + a[0] / z + a[1] / z ** 2)


_ANGLE = {}


def angle_plant(w):
    """Sampled angle (counts) per current-reference count held over a slow sample."""
    if w in _ANGLE:
        return _ANGLE[w]
    s = alias(w, TS, 200)
    zc = np.exp(s * TC)
    c = pi_controller(KPI, KII, zc)
    # The fast loop's response is periodic in the fast rate: one alias sum per slow alias.
    pc = current_plant(s.imag)
    closed = c / (1 + c * pc)
    repeat = sum(np.exp(-s * n * TC) for n in range(N))
    _, gw = motor(s)
    _ANGLE[w] = POSITION * VOLT * np.sum(repeat * closed * bridge(s) * gw / s) / TS
    return _ANGLE[w]


def margins(w, loop):
    with np.errstate(divide="ignore"):  # a loop gain of exactly 0 is -inf dB
        mag = 20 * np.log10(np.abs(loop))
    phase = np.degrees(np.unwrap(np.angle(loop)))
    if phase[0] > 0:
        phase -= 360
    out = {"crossover": None, "pm": None, "gm": None, "phase_crossover": None}
    for k in range(1, len(w)):
        if (mag[k - 1] >= 0) != (mag[k] >= 0):
            t = mag[k - 1] / (mag[k - 1] - mag[k])
            pm = 180 + phase[k - 1] + t * (phase[k] - phase[k - 1])
            if out["pm"] is None or pm < out["pm"]:
                out["pm"] = pm
                out["crossover"] = w[k - 1] * (w[k] / w[k - 1]) ** t
        level = -180 + 360 * math.floor((phase[k - 1] + 180) / 360)
        if phase[k] < phase[k - 1] and (phase[k - 1] - level) * (phase[k] - level) <= 0:
            t = (level - phase[k - 1]) / (phase[k] - phase[k - 1])
            gm = -(mag[k - 1] + t * (mag[k] - mag[k - 1]))
            if out["gm"] is None or gm < out["gm"]:
                out["gm"] = gm
                out["phase_crossover"] = w[k - 1] * (w[k] / w[k - 1]) ** t
    return out


def low_pass(hz):
    b, a = signal.butter(2, hz, fs=1 / TS)
    return list(b / a[0]), list(a[1:] / a[0])


def speed_loop(w, feedback):
    z = np.exp(1j * w * TS)
    p = np.array([angle_plant(x) for x in w])
    f = np.ones_like(z) if feedback is None else biquad(z, *feedback)
    return pi_controller(KPS, KIS, z) * p * (1 - 1 / z) * f


def position_over_speed(w):
    z = np.exp(1j * w * TS)
    p = np.array([angle_plant(x) for x in w])
    cs = pi_controller(KPS, KIS, z)
    speed_closed = cs * p / (1 + cs * p * (1 - 1 / z))
    return pi_controller(KPP, KIP, z) * speed_closed


def sweep(period, points=240):
    return math.pi / period * np.logspace(-3.5, 0, points) * (1 - 1e-9)


def main():
    cases = []
    w = sweep(TC)
    zc = np.exp(1j * w * TC)
    loop = pi_controller(KPI, KII, zc) * current_plant(w)
    cases.append(("current", "none", 0.0, margins(w, loop)))
    w = sweep(TS)
    for name, hz in (("none", 0.0), ("low_pass_150", 150.0), ("low_pass_30", 30.0)):
        feedback = low_pass(hz) if hz else None
        cases.append(("speed", name, hz, margins(w, speed_loop(w, feedback))))
    cases.append(("position", "none", 0.0, margins(w, position_over_speed(w))))

    lines = [
        "#pragma once",
        "// Generated by make_margin_vectors.py: margins of the bundled drive's loops, worked in the",
        "// frequency domain from the continuous motor and the holds. Do not edit by hand.",
        "",
        "struct MarginVector {",
        "  const char* loop;",
        "  const char* feedback_filter;",
        "  double low_pass_hz;  // 2nd-order Butterworth on the speed feedback; 0 for none",
        "  double b[3], a[2];",
        "  double crossover_rad_s, phase_margin_deg, gain_margin_db, phase_crossover_rad_s;",
        "};",
        "",
        "inline constexpr MarginVector kMarginVectors[] = {",
    ]
    for loop, name, hz, m in cases:
        b, a = low_pass(hz) if hz else ([1.0, 0.0, 0.0], [0.0, 0.0])
        lines.append(
            '    {"%s", "%s", %.1f, {%.17g, %.17g, %.17g}, {%.17g, %.17g}, %.6g, %.6g, %.6g, %.6g},'
            % (loop, name, hz, *b, *a, m["crossover"], m["pm"], m["gm"], m["phase_crossover"]))
    lines += ["};", ""]
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "margin_vectors.h")
    with open(path, "w") as out:
        out.write("\n".join(lines))
    for c in cases:
        print(c)


if __name__ == "__main__":
    main()
