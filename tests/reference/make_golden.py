#!/usr/bin/python3
"""Golden outputs for the seismogram object's operations, computed with SciPy/NumPy.

Run with Debian's python3 (python3-scipy, python3-numpy):  tests/reference/make_golden.py
It rewrites tests/reference/golden/. Each case is a SAC file (little-endian, written here
without the project's code) holding float32 samples; the C++ tests read the input, apply one
operation and compare with the output sample by sample.

What each reference is, and why it is the right one:
  rtrend     scipy.signal.detrend(x, 'linear')  -- least-squares line, as SAC RTREND
  rmean      x - mean(x)                        -- SAC RMEAN on the samples
  taper      SAC's Hanning taper written out: n = max(2, int(0.05 (N+1))) samples each end,
             w_j = 0.5 - 0.5 cos(pi j / n)       -- SAC TAPER default
  lp1, hp1   scipy.signal.butter(2, fc, btype, fs=1/dt, output='sos') + sosfilt: SAC's
             bilinear Butterworth with a prewarped corner has the same frequency response
  lp2, hp2   the same sections forward, then backward, zero initial state, no padding:
             sosfilt(sos, sosfilt(sos, x)[::-1])[::-1]. (scipy.signal.sosfiltfilt pads and
             uses steady-state initial conditions, which is not SAC's PASSES 2.)
  int        SAC's trapezoidal INT: cumulative_trapezoid(x, dx=dt) (no leading zero), one
             sample fewer, B moved by dt/2
  deciN      scipy.signal.decimate(x, N, ftype='fir') on a band-limited input: a different
             anti-alias FIR, so only the interior is compared, with a looser tolerance; the
             pass and stop bands of our own filter are checked separately in the tests.
"""
import os
import struct

import numpy as np
from scipy import signal
from scipy.integrate import cumulative_trapezoid

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "golden")
UNDEF_F, UNDEF_I = -12345.0, -12345


def write_sac(path, data, delta, b=0.0, order="<", kcmpnm="BHZ"):
    data = np.asarray(data, dtype=np.float32)
    floats = [UNDEF_F] * 70
    ints = [UNDEF_I] * 40
    floats[0] = delta
    floats[1], floats[2], floats[56] = float(data.min()), float(data.max()), float(data.mean())
    floats[5] = b
    floats[6] = b + (len(data) - 1) * delta
    ints[0:6] = [2012, 167, 10, 0, 0, 0]  # 2012-06-15T10:00:00.000
    ints[6] = 6  # NVHDR
    ints[9] = len(data)  # NPTS
    ints[15] = 1  # IFTYPE = ITIME
    ints[16] = 5  # IDEP = IUNKN
    ints[17] = 9  # IZTYPE = IB
    ints[35:39] = [1, 0, 0, 0]  # LEVEN, LPSPOL, LOVROK, LCALDA
    text = bytearray(b"-12345  " * 24)
    text[160:168] = kcmpnm.ljust(8).encode()  # KCMPNM at byte 600
    with open(path, "wb") as f:
        f.write(struct.pack(order + "70f", *floats))
        f.write(struct.pack(order + "40i", *ints))
        f.write(bytes(text))
        f.write(data.astype(order + "f4").tobytes())


def synthetic(n, dt, seed):
    """A chirp plus a step plus noise: every operation has something to do."""
    rng = np.random.default_rng(seed)
    t = np.arange(n) * dt
    fny = 0.5 / dt
    chirp = np.sin(2 * np.pi * (0.01 * fny * t + 0.5 * (0.6 * fny - 0.01 * fny) / t[-1] * t * t))
    step = np.where(t > 0.4 * t[-1], 2.0, 0.0)
    trend = 0.3 + 0.002 * t / dt
    return (chirp + step + trend + 0.2 * rng.standard_normal(n)).astype(np.float32)


def band_limited(n, dt, q, seed):
    rng = np.random.default_rng(seed)
    t = np.arange(n) * dt
    new_nyq = 0.5 / (dt * q)
    x = np.zeros(n)
    for k in range(5):
        f = rng.uniform(0.02, 0.4) * new_nyq
        x += rng.uniform(0.2, 1.0) * np.sin(2 * np.pi * f * t + rng.uniform(0, 2 * np.pi))
    return x.astype(np.float32)


def sac_taper(x, width):
    x = x.astype(np.float64).copy()
    n = len(x)
    m = max(2, int(width * (n + 1)))
    m = min(m, n // 2)
    for j in range(m):
        w = 0.5 - 0.5 * np.cos(np.pi * j / m)
        x[j] *= w
        x[n - 1 - j] *= w
    return x


def forward_backward(sos, x):
    return signal.sosfilt(sos, signal.sosfilt(sos, x)[::-1])[::-1]


CASES = [
    # name, samples, sample interval, low-pass corner, high-pass corner
    ("bb20", 1000, 0.05, 2.0, 0.1),
    ("sp40", 2000, 0.025, 5.0, 0.5),
    ("lp1", 600, 1.0, 0.05, 0.002),
]


def main():
    os.makedirs(OUT, exist_ok=True)
    for old in os.listdir(OUT):
        os.remove(os.path.join(OUT, old))
    for i, (name, n, dt, flp, fhp) in enumerate(CASES):
        x = synthetic(n, dt, seed=100 + i)
        x64 = x.astype(np.float64)
        write_sac(os.path.join(OUT, f"{name}.in.sac"), x, dt)
        write_sac(os.path.join(OUT, f"{name}.rtrend.sac"), signal.detrend(x64, type="linear"), dt)
        write_sac(os.path.join(OUT, f"{name}.rmean.sac"), x64 - x64.mean(), dt)
        write_sac(os.path.join(OUT, f"{name}.taper.sac"), sac_taper(x, 0.05), dt)
        lp = signal.butter(2, flp, btype="low", fs=1.0 / dt, output="sos")
        hp = signal.butter(2, fhp, btype="high", fs=1.0 / dt, output="sos")
        write_sac(os.path.join(OUT, f"{name}.lp1.sac"), signal.sosfilt(lp, x64), dt)
        write_sac(os.path.join(OUT, f"{name}.lp2.sac"), forward_backward(lp, x64), dt)
        write_sac(os.path.join(OUT, f"{name}.hp1.sac"), signal.sosfilt(hp, x64), dt)
        write_sac(os.path.join(OUT, f"{name}.hp2.sac"), forward_backward(hp, x64), dt)
        write_sac(os.path.join(OUT, f"{name}.int.sac"), cumulative_trapezoid(x64, dx=dt), dt, b=dt / 2)
        with open(os.path.join(OUT, f"{name}.corners.txt"), "w") as f:
            f.write(f"{flp!r} {fhp!r}\n")
    # Decimation on band-limited input; 2 and 5 are the stages the chain uses.
    for q in (2, 5):
        dt = 0.025
        x = band_limited(3000, dt, q, seed=7 + q)
        write_sac(os.path.join(OUT, f"deci{q}.in.sac"), x, dt)
        y = signal.decimate(x.astype(np.float64), q, ftype="fir")
        write_sac(os.path.join(OUT, f"deci{q}.out.sac"), y, dt * q)
    # One input in big-endian order, for the byte-order detection.
    x = synthetic(300, 0.05, seed=42)
    write_sac(os.path.join(OUT, "order.le.sac"), x, 0.05, order="<")
    write_sac(os.path.join(OUT, "order.be.sac"), x, 0.05, order=">")


if __name__ == "__main__":
    main()
