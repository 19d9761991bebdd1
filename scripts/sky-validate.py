#!/usr/bin/env python3
"""G/T from the Sun on the virtual bench's sky mode, against the bench's truth.

200 measurements of `quillon-cli sky sun` (each two readings of 4 blocks of 1 s: the
antenna on the Sun, then on cold sky, the bench's step SkyStepK on top of SkyColdK), each
with its own bench seed. Reports:

  - the mean G/T and its standard error (the spread of the 200 over sqrt 200) against the
    bench's true G/T (the same formula at the bench's own Y): within 3 standard errors;
  - the share of the 95% intervals (G/T +- its half-width) that contain the truth: 93..97%.

Usage: sky-validate.py BUILD_FOLDER [COUNT]   (a scratch HOME: the default bench)
Exit status 0 when both hold, 1 otherwise.
"""

import json
import math
import os
import subprocess
import sys
import tempfile

SEED = 20261207
ARGS = ["sky", "sun", "--flux", "65", "--beamwidth", "10", "--average", "4", "--dummy", "0",
        "--utc", "2026-06-21T12:00:00Z", "--locator", "JO01", "--json"]


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    cli = os.path.join(build, "src", "cli", "quillon-cli")
    values, inside, truth = [], 0, None
    with tempfile.TemporaryDirectory() as home:
        conf_dir = os.path.join(home, ".config", "Tremont")
        os.makedirs(conf_dir)
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"))
        for i in range(count):
            with open(os.path.join(conf_dir, "Quillon.conf"), "w") as conf:
                conf.write(f"[VirtualBench]\nSeed={SEED + i}\n")
            out = subprocess.run([cli] + ARGS, env=env, check=True, capture_output=True,
                                 text=True)
            j = json.loads(out.stdout)
            g = j["gOverTDbK"]
            truth = j["benchTruth"]["gOverTDbK"]
            values.append(g["value"])
            if abs(g["value"] - truth) <= g["halfWidth95"]:
                inside += 1
    n = len(values)
    mean = sum(values) / n
    sd = math.sqrt(sum((v - mean) ** 2 for v in values) / (n - 1))
    se = sd / math.sqrt(n)
    coverage = 100.0 * inside / n
    off = (mean - truth) / se
    print(f"sky sun on the bench: {n} measurements, 4 + 4 blocks of 1 s each")
    print(f"true G/T        {truth:.4f} dB/K")
    print(f"mean G/T        {mean:.4f} dB/K, standard error {se:.4f} dB "
          f"({off:+.2f} standard errors from the truth), spread {sd:.4f} dB")
    print(f"95% coverage    {inside} of {n} = {coverage:.1f} %")
    ok = abs(off) <= 3.0 and 93.0 <= coverage <= 97.0
    print("PASS" if ok else "FAIL")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
