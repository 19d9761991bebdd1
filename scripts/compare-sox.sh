#!/usr/bin/env bash
# Compares `quillon-cli level` with `sox FILE -n stats` on one 10-minute 96 kHz 24-bit
# mono WAV file: RMS level, crest factor, the wall time each takes (median of five paired
# runs, and the ratio) and the peak memory (maximum resident set) of each.
#
#   scripts/compare-sox.sh [quillon-cli path] [work folder]
#
# The two programs define the numbers slightly differently:
#   RMS level    sox "RMS lev dB" is 20 log10 sqrt(mean(x^2)), DC included. quillon-cli's dB
#                is 20 log10 |rms - |mean||: the DC part is removed by subtracting the mean's
#                magnitude from the rms (as the Measure Noise page always has). For a signal
#                without DC the two agree; a DC offset lowers Quillon's reading only.
#   crest factor sox "Crest factor" is peak / rms, with peak = max |x|. quillon-cli's crest
#                factor is (peak - mean) / L with peak = max |x| and L as above; again the
#                same number without DC.
# Both scale 24-bit samples to full scale 2^23, so dB values are dBFS in both.
set -euo pipefail

cli="${1:-build/src/cli/quillon-cli}"
work="${2:-$(mktemp -d)}"
[ -x "$cli" ] || { echo "no quillon-cli at $cli (build it first, or pass its path)" >&2; exit 2; }
command -v sox >/dev/null || { echo "sox is not installed (scripts/install-deps.sh)" >&2; exit 2; }
command -v python3 >/dev/null || { echo "python3 is not installed (apt-get install python3)" >&2; exit 2; }
mkdir -p "$work"
wav="$work/noise-10min-96k-24bit.wav"

if [ ! -f "$wav" ]; then
  echo "Writing $wav (10 min of pink noise and a 1 kHz tone, 96 kHz, 24-bit, mono)..."
  sox -n -r 96000 -b 24 -c 1 "$wav" synth 600 pinknoise synth 600 sine mix 1000 vol 0.25 \
    2>/dev/null
fi

python3 - "$wav" "$cli" "$work/sox.txt" "$work/quillon.json" <<'PY'
import json, math, os, statistics, subprocess, sys, time
wav, cli, sox_text, quillon_json = sys.argv[1:5]

def timed(command, output, stream):
    """Runs command with `stream` ("stdout" or "stderr") going to the file `output`: wall
    seconds and peak resident memory in MiB. The peak is the process's own high-water mark
    (VmHWM), read until it exits: a child's rusage would include the memory it shared with
    this Python process before it started the program."""
    with open(output, "w") as out:
        start = time.perf_counter()
        p = subprocess.Popen(command, stdout=out if stream == "stdout" else subprocess.DEVNULL,
                             stderr=out if stream == "stderr" else subprocess.DEVNULL)
        peak = 0
        while p.poll() is None:
            try:
                with open(f"/proc/{p.pid}/status") as status:
                    for line in status:
                        if line.startswith("VmHWM:"):
                            peak = max(peak, int(line.split()[1]))
            except (OSError, ValueError):
                pass
            time.sleep(0.001)
        seconds = time.perf_counter() - start
    if p.returncode != 0:
        sys.exit(f"{command[0]} failed")
    return seconds, peak / 1024

# Paired runs, alternating, so that both see the same state of the machine.
runs = [(timed(["sox", wav, "-n", "stats"], sox_text, "stderr"),
         timed([cli, "level", wav, "--time", "10000", "--json"], quillon_json, "stdout"))
        for _ in range(5)]
sox_time = statistics.median(s[0] for s, _ in runs)
q_time = statistics.median(q[0] for _, q in runs)
ratio = statistics.median(s[0] / q[0] for s, q in runs)
sox_memory = max(s[1] for s, _ in runs)
q_memory = max(q[1] for _, q in runs)

stats = {}
for line in open(sox_text):
    parts = line.rsplit(None, 1)
    if len(parts) == 2:
        stats[parts[0].strip()] = parts[1]
q = json.load(open(quillon_json))["whole"]
sox_rms = float(stats["RMS lev dB"])
sox_crest = float(stats["Crest factor"])
sox_dc = float(stats["DC offset"])
sox_peak = 10 ** (float(stats["Pk lev dB"]) / 20)
# sox's figures with Quillon's DC rule applied: L = rms - |mean|, crest = (peak - mean) / L.
level = 10 ** (sox_rms / 20) - abs(sox_dc)
sox_rms_q = 20 * math.log10(level)
sox_crest_q = (sox_peak - sox_dc) / level
seconds = q["frames"] / 96000.0
print(f"{'':24}{'sox stats':>14}{'quillon-cli':>14}{'difference':>14}")
print(f"{'RMS level (dBFS)':24}{sox_rms:14.3f}{q['dB']:14.3f}{q['dB'] - sox_rms:14.3f}")
print(f"{'crest factor':24}{sox_crest:14.3f}{q['crestFactor']:14.3f}{q['crestFactor'] - sox_crest:14.3f}")
print(f"{'DC offset (full scale)':24}{sox_dc:14.6f}{q['mean'] / 8388608:14.6f}")
print(f"{'sox, DC removed as Quillon removes it:'}")
print(f"{'  RMS level (dBFS)':24}{sox_rms_q:14.3f}{q['dB']:14.3f}{q['dB'] - sox_rms_q:14.3f}")
print(f"{'  crest factor':24}{sox_crest_q:14.3f}{q['crestFactor']:14.3f}{q['crestFactor'] - sox_crest_q:14.3f}")
print(f"{'time (s), median of 5':24}{sox_time:14.3f}{q_time:14.3f}")
print(f"{'x real time':24}{seconds / sox_time:14.0f}{seconds / q_time:14.0f}")
print(f"{'peak memory (MiB)':24}{sox_memory:14.1f}{q_memory:14.1f}")
print(f"quillon-cli is {ratio:.1f} times as fast as sox (median of the paired ratios)")
# sox prints the level with two decimals and the crest factor with two or three.
ok = abs(q["dB"] - sox_rms_q) < 0.006 and abs(q["crestFactor"] - sox_crest_q) < 0.006
print("agree within the precision sox prints (DC rule applied)" if ok else "DISAGREE")
sys.exit(0 if ok else 1)
PY
