#!/usr/bin/env python3
"""A drifting receiver in Measure Device's series, on the virtual bench at speed 0.

The bench's receiver gain drifts GainDriftDbPerMinute = 0.2 dB per minute (in the bench's own
time: the audio its streams generate). SERIES series are taken in each order, each by its
own quillon-cli measure run (the bench, and with it the drift, starts again at 0 dB; every
run has its own seed), 1 s blocks, one dummy read, AVERAGE blocks a reading:

  sequential      Noise ON, OFF, DUT ON, OFF, one reading after another
  drift order     --drift-order: Noise ON (first half), OFF, ON (second half), then the DUT
                  pair likewise

For each order: the mean DUT noise figure and gain against the bench's truth (with the
standard error of the mean), the mean total 95% half-width of the NF and how often the
interval holds the truth, and how often the drift warning shows.

Usage: drift.py BUILD_FOLDER [SERIES] [AVERAGE]   (defaults 100 and 16; runs in a scratch HOME)
"""

import json
import math
import os
import subprocess
import sys
import tempfile

DRIFT_DB_PER_MINUTE = 0.2
FIRST_SEED = 20261207


def run_series(cli, home, seed, average, drift_order):
    with open(os.path.join(home, ".config", "Tremont", "Quillon.conf"), "w") as conf:
        conf.write(f"[VirtualBench]\nSeed={seed}\nGainDriftDbPerMinute={DRIFT_DB_PER_MINUTE}\n")
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"))
    args = [cli, "measure", "--json", "--time", "1000", "--dummy", "1", "--average", str(average),
            "--drift-order" if drift_order else "--no-drift-order"]
    out = subprocess.run(args, env=env, check=True, capture_output=True, text=True)
    return json.loads(out.stdout)


def mean_and_error(values):
    n = len(values)
    m = sum(values) / n
    sd = math.sqrt(sum((v - m) ** 2 for v in values) / (n - 1)) if n > 1 else 0.0
    return m, sd / math.sqrt(n)


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    series = int(sys.argv[2]) if len(sys.argv) > 2 else 100
    average = int(sys.argv[3]) if len(sys.argv) > 3 else 16
    cli = os.path.join(build, "src", "cli", "quillon-cli")
    print(f"Bench drifting {DRIFT_DB_PER_MINUTE} dB/min; {series} series per order, 1 s blocks, "
          f"1 dummy, {average} blocks a reading")
    print(f"{'order':<12} {'DUT NF - truth (dB)':>22} {'gain - truth (dB)':>22} "
          f"{'NF total 95%':>13} {'covered':>8} {'warned':>7}")
    with tempfile.TemporaryDirectory() as home:
        os.makedirs(os.path.join(home, ".config", "Tremont"))
        for drift_order in (False, True):
            nf_errors, gain_errors, half_widths = [], [], []
            covered = warned = 0
            for k in range(series):
                doc = run_series(cli, home, FIRST_SEED + k, average, drift_order)
                run = doc["runs"][-1]
                truth = doc["benchTruth"]
                nf = run["results"]["noiseFigure"] - truth["dutNfDb"]
                nf_errors.append(nf)
                gain_errors.append(run["results"]["gainDb"] - truth["dutGainDb"])
                h = run["uncertainty"]["noiseFigure"]["totalHalfWidth95"]
                half_widths.append(h)
                covered += abs(nf) <= h
                warned += any(w.startswith("receiver gain drifted") for w in run["warnings"])
            nf_mean, nf_se = mean_and_error(nf_errors)
            gain_mean, gain_se = mean_and_error(gain_errors)
            name = "drift order" if drift_order else "sequential"
            print(f"{name:<12} {nf_mean:>+12.4f} ± {nf_se:.4f}   {gain_mean:>+12.4f} ± {gain_se:.4f}"
                  f"   {sum(half_widths) / series:>10.3f}   {covered:>3}/{series} {warned:>3}/{series}")


if __name__ == "__main__":
    main()
