#!/usr/bin/env python3
"""Validates the correction chain on the virtual bench (speed 0, fixed seeds).

Two benches, each measured in 200 Measure Device series (quillon-cli measure --repeat 200
--average 8) with the matching corrections entered:

1. a DUT of NF 0.5 dB and gain 20 dB behind an input loss of 0.4 dB at 300 K and ahead of
   an output loss of 1.0 dB at 290 K, the source off at 303 K;
2. a double-sideband converter (LO 1152 MHz, the receiver at 144 MHz, input 1296 MHz) of
   single-sideband NF 6 dB and gain 12 dB, a flat ENR of 25 dB.

For each: the mean DUT NF and gain must lie within 3 standard errors of the bench's truth,
and the 95% intervals (value +- total half-width) must contain it in 93..97% of the series.
The same readings' plain (uncorrected) result is printed beside it for comparison:
--no-corrections on a second 200 series.

Usage: validate-corrections.py BUILD_FOLDER [RUNS]   (RUNS series per bench, default 200)
"""

import json
import math
import os
import subprocess
import sys
import tempfile

RUNS = 200

BENCHES = [
    ("losses: DUT NF 0.5 dB, gain 20 dB, input 0.4 dB at 300 K, output 1.0 dB at 290 K",
     {"Seed": 20261207, "DutNfDb": 0.5, "DutGainDb": 20, "SourceOffTemperatureK": 303,
      "InputLossDb": 0.4, "InputLossTemperatureK": 300, "OutputLossDb": 1.0,
      "OutputLossTemperatureK": 290},
     ["--tsoff", "303", "--loss-before", "0.4@300", "--loss-after", "1.0@290"]),
    ("double-sideband converter: LO 1152 MHz, NF 6 dB (SSB), gain 12 dB",
     {"Seed": 20261208, "DutNfDb": 6, "DutGainDb": 12, "ReferenceEnrSlopeDbPerMHz": 0,
      "DutGainSlopeDbPerMHz": 0, "DutNfCurvatureDbPerMHz2": 0, "ConverterOn": 1,
      "ConverterLoMHz": 1152, "ConverterSideband": "double"},
     ["--lo", "1152", "--sideband", "double"]),
]


def write_bench(home, values):
    with open(os.path.join(home, ".config", "Tremont", "Quillon.conf"), "w") as conf:
        conf.write("[VirtualBench]\n")
        for key, value in values.items():
            conf.write(f"{key}={value}\n")


def run_cli(cli, args, env):
    out = subprocess.run([cli] + args, env=env, check=True, capture_output=True, text=True)
    return json.loads(out.stdout)


def series(cli, env, extra):
    doc = run_cli(cli, ["measure", "--json", "--average", "8", "--repeat", str(RUNS)] + extra,
                  env)
    return doc, [run for run in doc["runs"] if not run["cutShort"]]


def stats(values):
    n = len(values)
    mean = sum(values) / n
    sd = math.sqrt(sum((v - mean) ** 2 for v in values) / (n - 1))
    return mean, sd / math.sqrt(n)


def main():
    global RUNS
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    if len(sys.argv) > 2:
        RUNS = int(sys.argv[2])
    cli = os.path.join(build, "src", "cli", "quillon-cli")
    failed = False
    with tempfile.TemporaryDirectory() as home:
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"))
        os.makedirs(os.path.join(home, ".config", "Tremont"))
        for name, bench, options in BENCHES:
            write_bench(home, bench)
            print(f"{name}, {RUNS} series:")
            doc, runs = series(cli, env, options)
            truth = doc["benchTruth"]
            for key, label, true in (("noiseFigure", "NF", truth["dutNfDb"]),
                                     ("gainDb", "gain", truth["dutGainDb"])):
                values = [r["results"][key] for r in runs]
                widths = [r["uncertainty"][key]["totalHalfWidth95"] for r in runs]
                inside = sum(abs(v - true) <= w for v, w in zip(values, widths))
                mean, se = stats(values)
                share = 100.0 * inside / len(values)
                ok = abs(mean - true) <= 3 * se and 93.0 <= share <= 97.0
                failed = failed or not ok
                print(f"  corrected   {label:4s} mean {mean:.4f} dB, truth {true:.4f} dB,"
                      f" error {mean - true:+.4f} dB = {(mean - true) / se:+.2f} standard errors"
                      f" ({se:.4f} dB); intervals containing the truth {inside}/{len(values)}"
                      f" = {share:.1f}%  {'ok' if ok else 'FAIL'}")
            # The same set-up without corrections: only the source's off temperature typed.
            tsoff = options[options.index("--tsoff"):][:2] if "--tsoff" in options else []
            _, runs = series(cli, env, ["--no-corrections"] + tsoff)
            for key, label, true, plain in (
                    ("noiseFigure", "NF", truth["dutNfDb"], truth["uncorrectedDutNfDb"]),
                    ("gainDb", "gain", truth["dutGainDb"], truth["uncorrectedDutGainDb"])):
                mean, se = stats([r["results"][key] for r in runs])
                print(f"  uncorrected {label:4s} mean {mean:.4f} dB, error {mean - true:+.4f} dB"
                      f" (the plain formulas on the bench's expected readings: {plain:.4f} dB)")
    print("FAIL" if failed else "PASS")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
