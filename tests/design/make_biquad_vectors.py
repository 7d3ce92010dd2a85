#!/usr/bin/python3
"""Writes biquad_vectors.h: reference coefficients, responses and poles of the drive's
biquad types, computed with SciPy from the analogue prototypes, so that the designer's
tests compare against an implementation that is not ours.

Every type is the bilinear image of its analogue prototype with the corner frequency
prewarped, w_a = 2 / Ts * tan(pi * f * Ts); the lead-lag types prewarp the lead and the lag
frequency each. Peak and shelf types are designed at 0 dB, where they are flat.

Run from anywhere with the Debian python3-scipy:  /usr/bin/python3 make_biquad_vectors.py
"""

import math
import os

import numpy as np
import scipy
from scipy import signal

# (label, type code, f1 Hz, third: Q or lag Hz, Ts s)
CASES = [
    ("low pass 1st order 100 Hz", 0, 100.0, 0.707, 0.0005),
    ("low pass 1st order near Nyquist", 0, 900.0, 0.707, 0.0005),
    ("low pass 2nd order 200 Hz", 1, 200.0, 0.707, 0.0005),
    ("low pass 2nd order resonant", 1, 50.0, 5.0, 0.0001),
    ("notch 300 Hz", 2, 300.0, 2.0, 0.0005),
    ("notch wide", 2, 60.0, 0.6, 0.00025),
    ("high pass 50 Hz", 3, 50.0, 0.707, 0.0005),
    ("high pass 400 Hz", 3, 400.0, 1.5, 0.0002),
    ("band pass 150 Hz", 4, 150.0, 3.0, 0.0005),
    ("peak at 0 dB", 5, 100.0, 2.0, 0.0005),
    ("low shelf at 0 dB", 6, 100.0, 0.707, 0.0005),
    ("high shelf at 0 dB", 7, 250.0, 0.707, 0.0005),
    ("lead-lag 1st order lead", 8, 50.0, 150.0, 0.0005),
    ("lead-lag 1st order lag", 8, 200.0, 20.0, 0.0005),
    ("lead-lag 2nd order", 9, 30.0, 300.0, 0.0005),
    ("lead-lag 2nd order fast loop", 9, 400.0, 100.0, 0.0001),
]

# Frequencies, as fractions of the Nyquist limit, at which the responses are compared.
FRACTIONS = [0.0, 0.01, 0.05, 0.1, 0.2, 0.35, 0.5, 0.75, 0.95]


def prewarped(f, ts):
    return 2.0 / ts * math.tan(math.pi * f * ts)


def analogue(code, f1, third, ts):
    w = prewarped(f1, ts)
    if code == 0:
        return [w], [1.0, w]
    if code in (1, 2, 3, 4, 5):
        q = third
        den = [1.0, w / q, w * w]
        num = {
            1: [w * w],
            2: [1.0, 0.0, w * w],
            3: [1.0, 0.0, 0.0],
            4: [w / q, 0.0],
            5: den,
        }[code]
        return num, den
    if code in (6, 7):
        den = [1.0, math.sqrt(2.0) * w, w * w]
        return den, den
    wz = w
    wp = prewarped(third, ts)
    num, den = [1.0 / wz, 1.0], [1.0 / wp, 1.0]
    if code == 9:
        num, den = np.polymul(num, num), np.polymul(den, den)
    return num, den


def design(code, f1, third, ts):
    b, a = signal.bilinear(*analogue(code, f1, third, ts), fs=1.0 / ts)
    b = np.atleast_1d(b) / a[0]
    a = np.atleast_1d(a) / a[0]
    b = np.concatenate([b, np.zeros(3 - len(b))])
    a = np.concatenate([a, np.zeros(3 - len(a))])
    return b, a


def c_number(x):
    return repr(float(x))


def main():
    lines = [
        "#pragma once",
        "// Written by make_biquad_vectors.py with SciPy " + scipy.__version__ +
        "; do not edit by hand.",
        "",
        "namespace biquad_vectors {",
        "",
        "struct Response {",
        "  double frequency_hz, magnitude, phase_rad;",
        "};",
        "",
        "struct Vector {",
        "  const char* label;",
        "  int type;",
        "  double f1_hz, third, ts_s;",
        "  double b0, b1, b2, a1, a2;",
        "  double pole_re[2], pole_im[2];",
        "  Response response[%d];" % len(FRACTIONS),
        "};",
        "",
        "inline constexpr Vector kVectors[] = {",
    ]
    for label, code, f1, third, ts in CASES:
        b, a = design(code, f1, third, ts)
        nyquist = 0.5 / ts
        freqs = [fr * nyquist for fr in FRACTIONS]
        _, h = signal.freqz(b, a, worN=freqs, fs=1.0 / ts)
        poles = np.roots(a) if abs(a[2]) > 0 else np.array([-a[1], 0.0])
        poles = sorted(poles, key=lambda p: (-p.imag, -p.real))
        response = ", ".join(
            "{%s, %s, %s}" % (c_number(f), c_number(abs(v)), c_number(np.angle(v)))
            for f, v in zip(freqs, h))
        lines.append(
            "    {%s, %d, %s, %s, %s, %s, {%s}, {%s}, {%s}}," % (
                '"' + label + '"', code, c_number(f1), c_number(third), c_number(ts),
                ", ".join(c_number(x) for x in (b[0], b[1], b[2], a[1], a[2])),
                ", ".join(c_number(p.real) for p in poles),
                ", ".join(c_number(p.imag) for p in poles),
                response))
    lines += ["};", "", "}  // namespace biquad_vectors", ""]
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "biquad_vectors.h")
    with open(out, "w") as f:
        f.write("\n".join(lines))


if __name__ == "__main__":
    main()
