#!/usr/bin/env python3
"""Validates the uncertainties quillon-cli measure reports, on the virtual bench at speed 0.

1. Coverage: at least 400 device measurements in several reading plans; for the noise
   figure and the gain, the share of 95% intervals (value +- total half-width) that contain
   the bench's truth. Target 93..97%.
2. Averaging to a precision of 0.05 dB (automatic dummy reads, no fixed ones): the counted
   and discarded capture time of a series against the radiometer bound.

   Each reading's relative variance is 1 / (B tau) for the noise's statistical bandwidth
       B = (integral |H(f)|^2 df)^2 / integral |H(f)|^4 df     (one-sided, Hz)
   and its time tau. The noise figure's variance is sum_i s_i^2 / (B tau_i) with
   s_i = dNF / d ln P_i (dB); the least total time that gives a 95% half-width h is
       T_min = (sum_i |s_i|)^2 / (B (h / 1.96)^2),
   with tau_i in proportion to |s_i|. H is the bench's passband: a second-order Butterworth
   high-pass and low-pass (bilinear transform) at the capture's sample rate.

Usage: validate.py BUILD_FOLDER   (runs in a scratch HOME: the default bench and settings,
with the bench's seed fixed so that the figures repeat exactly)
"""

import cmath
import json
import math
import os
import subprocess
import sys
import tempfile


SEED = 20261207


def set_seed(home, seed):
    """The bench's noise: a fixed seed repeats every figure exactly."""
    with open(os.path.join(home, ".config", "Tremont", "Quillon.conf"), "w") as conf:
        conf.write(f"[VirtualBench]\nSeed={seed}\n")


def run_cli(cli, args, env):
    out = subprocess.run([cli] + args, env=env, check=True, capture_output=True, text=True)
    return json.loads(out.stdout)


def butterworth(fs, corner, high_pass):
    """The bench's biquad (b, a), as NoiseGenerator builds it (RBJ cookbook, Q = 1/sqrt 2)."""
    w0 = 2 * math.pi * corner / fs
    alpha = math.sin(w0) / (2 * (1 / math.sqrt(2)))
    c = math.cos(w0)
    if high_pass:
        b = [(1 + c) / 2, -(1 + c), (1 + c) / 2]
    else:
        b = [(1 - c) / 2, 1 - c, (1 - c) / 2]
    a = [1 + alpha, -2 * c, 1 - alpha]
    return [x / a[0] for x in b], [x / a[0] for x in a]


def response(filt, f, fs):
    b, a = filt
    z = cmath.exp(-2j * math.pi * f / fs)
    return (b[0] + b[1] * z + b[2] * z * z) / (a[0] + a[1] * z + a[2] * z * z)


def statistical_bandwidth(fs, low, high, steps=200000):
    hp, lp = butterworth(fs, low, True), butterworth(fs, high, False)
    df = fs / 2 / steps
    s2 = s4 = 0.0
    for k in range(1, steps):
        g = abs(response(hp, k * df, fs) * response(lp, k * df, fs)) ** 2
        s2 += g * df
        s4 += g * g * df
    return s2 * s2 / s4


def coverage(cli, env):
    plans = [  # (arguments, runs)
        (["--dummy", "1", "--average", "1"], 100),
        (["--dummy", "1", "--average", "4"], 100),
        (["--dummy", "0", "--average", "16", "--time", "100"], 100),
        (["--dummy", "1", "--average", "8"], 100),
    ]
    inside = {"nf": 0, "gain": 0}
    total = 0
    for args, runs in plans:
        doc = run_cli(cli, ["measure", "--json", "--repeat", str(runs)] + args, env)
        truth = doc["benchTruth"]
        for run in doc["runs"]:
            res, unc = run["results"], run["uncertainty"]
            total += 1
            for key, value, true, u in (("nf", res["noiseFigure"], truth["dutNfDb"],
                                         unc["noiseFigure"]),
                                        ("gain", res["gainDb"], truth["dutGainDb"],
                                         unc["gainDb"])):
                if abs(value - true) <= u["totalHalfWidth95"]:
                    inside[key] += 1
        print(f"  {' '.join(args):40s} {runs} runs")
    return total, inside


def precision(cli, env, target, time_ms, runs):
    doc = run_cli(cli, ["measure", "--json", "--precision", str(target), "--auto-dummy",
                        "--dummy", "0", "--time", str(time_ms), "--repeat", str(runs)], env)
    seconds = []
    half_widths = []
    for run in doc["runs"]:
        # Counted blocks and every discarded one (fixed and automatic dummy reads, also those
        # taken again when a reading of the first series goes on after its pilot).
        blocks = sum(r["blocks"] + r["autoDummies"] + r.get("dummies", 0)
                     for r in run["readings"])
        seconds.append(blocks * time_ms / 1000.0)
        half_widths.append(run["uncertainty"]["noiseFigure"]["statisticalHalfWidth95"])
    return doc, seconds, half_widths


def sensitivities(cli, env, bench):
    truth = bench["truth"]
    levels = [10 * math.log10(s["power"]) for s in truth["states"]]
    common = ["--enr", str(bench["parameters"]["referenceEnrDb"]), "--tsoff",
              str(truth["offTemperatureK"]), "--t0", str(truth["t0"]), "--json"]

    def nf(db):
        doc = run_cli(cli, ["calc", "device", "--on", repr(db[0]), "--off", repr(db[1]),
                            "--dut-on", repr(db[2]), "--dut-off", repr(db[3])] + common, env)
        return doc["noiseFigure"]["value"]

    step = 0.01  # dB of power; d ln P = step * ln 10 / 10
    s = []
    for i in range(4):
        up, down = list(levels), list(levels)
        up[i] += step
        down[i] -= step
        s.append((nf(up) - nf(down)) / (2 * step * math.log(10) / 10))
    return s


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    cli = os.path.join(build, "src", "cli", "quillon-cli")
    with tempfile.TemporaryDirectory() as home:
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"))
        os.makedirs(os.path.join(home, ".config", "Tremont"))
        set_seed(home, SEED)
        print("Coverage of the 95% intervals (virtual bench, speed 0):")
        total, inside = coverage(cli, env)
        for key, name in (("nf", "NF"), ("gain", "gain")):
            print(f"  {name:5s} {inside[key]}/{total} = {100.0 * inside[key] / total:.1f}%"
                  "  (target 93..97%)")

        bench = run_cli(cli, ["bench", "--json"], env)
        s = sensitivities(cli, env, bench)
        target = 0.05
        print(f"\nAveraging to a precision of {target} dB (automatic dummy reads):")
        print("  dNF/dlnP (dB): " + ", ".join(f"{x:+.3f}" for x in s))
        for time_ms, runs in ((1000, 20), (100, 20)):
            doc, seconds, widths = precision(cli, env, target, time_ms, runs)
            rate = round(float(doc["format"]["label"].split()[0]) * 1000)  # "44.1 kHz, ..."
            p = bench["parameters"]
            b = statistical_bandwidth(rate, p["passbandLowHz"], p["passbandHighHz"])
            bound = sum(abs(x) for x in s) ** 2 / (b * (target / 1.96) ** 2)
            later = seconds[1:]  # the first series takes pilots: it knows no powers yet
            mean_later = sum(later) / len(later)
            # The first series of a run is the one a user usually takes: ten runs of one, each
            # on its own noise.
            firsts = []
            for k in range(10):
                set_seed(env["HOME"], SEED + 1 + k)
                firsts.append(precision(cli, env, target, time_ms, 1)[1][0])
            set_seed(env["HOME"], SEED)
            seconds[0] = sum(firsts) / len(firsts)
            print(f"  blocks of {time_ms} ms at {rate} Hz: B = {b:.1f} Hz, bound {bound:.2f} s;"
                  f" first series (mean of 10) {seconds[0]:.1f} s = {seconds[0] / bound:.2f} x"
                  f" the bound,"
                  f" later series {mean_later:.2f} s = {mean_later / bound:.2f} x the bound"
                  f" (target <= 1.3 for both);"
                  f" NF half-width mean {sum(widths) / len(widths):.4f} dB")
    return 0


if __name__ == "__main__":
    sys.exit(main())
