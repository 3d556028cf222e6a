#!/usr/bin/python3
"""The same work as bench_sac, done with NumPy/SciPy's compiled routines, for comparison.

Run with Debian's python3:  bench/scipy_chain.py
Single-threaded: the routines used here do not thread (OPENBLAS_NUM_THREADS=1 all the same).
Decoding is np.frombuffer on the SAC body plus the extrema; the chains are linear detrend,
demean, the SAC Hanning taper, Butterworth sections run forward and backward, FIR decimation by
2 (scipy.signal.decimate, ftype='fir'), and the unit-RMS scaling.
"""
import os
import time

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")
os.environ.setdefault("OMP_NUM_THREADS", "1")

import numpy as np  # noqa: E402
from scipy import signal  # noqa: E402

CASES = [("1h@40sps", 3600 * 40 + 1, 0.025), ("1d@100sps", 86400 * 100 + 1, 0.01)]


def samples(n, delta, seed=1):
    # Not bit-identical to the C++ generator; the work does not depend on the values.
    rng = np.random.default_rng(seed)
    t = np.arange(n) * delta
    x = 300 * np.sin(2 * np.pi * t / 7.0) + 120 * np.sin(2 * np.pi * t / 15.3) + 0.01 * t + 40 * (rng.random(n) - 0.5)
    return x.astype(np.float32)


def taper(x, width=0.05):
    n = len(x)
    m = min(max(2, int(width * (n + 1))), n // 2)
    w = 0.5 - 0.5 * np.cos(np.pi * np.arange(m) / m)
    x[:m] *= w
    x[n - m:] *= w[::-1]
    return x


def twopass(sos, x):
    return signal.sosfilt(sos, signal.sosfilt(sos, x)[::-1])[::-1]


def broadband(x, delta):
    x = signal.detrend(x, type="linear")
    x = x - x.mean()
    x = taper(x)
    x = twopass(signal.butter(2, 0.005, btype="high", fs=1 / delta, output="sos"), x)
    x = signal.decimate(x, 2, ftype="fir")
    x = signal.detrend(x, type="linear")
    x = x - x.mean()
    return (x / np.sqrt(np.mean(x * x))).astype(np.float32)


def long_period(x, delta):
    x = signal.detrend(x, type="linear")
    x = x - x.mean()
    x = taper(x)
    x = twopass(signal.butter(2, 0.05, btype="low", fs=1 / delta, output="sos"), x)
    x = twopass(signal.butter(2, 0.002, btype="high", fs=1 / delta, output="sos"), x)
    x = signal.decimate(x, 2, ftype="fir")
    return (x / np.sqrt(np.mean(x * x))).astype(np.float32)


def decode(body):
    x = np.frombuffer(body, dtype="<f4", offset=632)
    return x.min(), x.max(), x.mean()


def best_of(f, repeat):
    times = []
    for _ in range(repeat):
        t = time.perf_counter()
        f()
        times.append(time.perf_counter() - t)
    return min(times) * 1000.0


def main():
    print(f"numpy {np.__version__}, scipy {__import__('scipy').__version__}")
    for name, n, delta in CASES:
        x = samples(n, delta)
        body = bytes(632) + x.astype("<f4").tobytes()
        repeat = 20 if n < 1_000_000 else 3
        print(f"{name:10s} decode        {best_of(lambda: decode(body), repeat):9.2f} ms")
        print(f"{name:10s} broadband     {best_of(lambda: broadband(x.copy(), delta), repeat):9.2f} ms")
        print(f"{name:10s} long-period   {best_of(lambda: long_period(x.copy(), delta), repeat):9.2f} ms")
        if n > 1_000_000:
            xd = x.astype(np.float64)
            sos = signal.butter(2, 0.005, btype="high", fs=1 / delta, output="sos")
            print(f"{name:10s} detrend       {best_of(lambda: signal.detrend(xd, type='linear'), repeat):9.2f} ms")
            print(f"{name:10s} highpass2pass {best_of(lambda: twopass(sos, xd), repeat):9.2f} ms")
            print(f"{name:10s} decimate2     {best_of(lambda: signal.decimate(xd, 2, ftype='fir'), repeat):9.2f} ms")


if __name__ == "__main__":
    main()
