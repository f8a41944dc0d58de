#!/usr/bin/env bash
# Times the whole `kelvora render` process against `soundstretch` changing the tempo of the same
# 5 s stereo drum loop to 0.75 of its own (2 bars of 4/4 in 5 s: 96 -> 72 BPM), side by side.
# Usage: bench/compare-soundstretch.sh [KELVORA_BINARY] [RUNS]
set -euo pipefail

kelvora=${1:-build/tools/kelvora}
runs=${2:-20}
command -v soundstretch >/dev/null || { echo "soundstretch is not installed" >&2; exit 1; }
[[ -x $kelvora ]] || { echo "no kelvora binary at $kelvora" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The loop: a kick, snares and hats on an eighth-note grid, 16-bit stereo WAV.
/usr/bin/python3 - "$work/loop.wav" <<'PY'
import sys, numpy as np, soundfile
rate, frames = 44100, 5 * 44100
rng = np.random.default_rng(11)
noise = rng.uniform(-1, 1, frames)
j = np.arange(frames)
eighth = frames // 16
step, t = j // eighth, (j % eighth) / rate
kick = np.where(step % 4 == 0, np.sin(2 * np.pi * 55 * t) * np.exp(-18 * t), 0)
snare = np.where(step % 4 == 2, noise * np.exp(-25 * t), 0)
hat = 0.3 * noise * np.exp(-120 * t)
left, right = 0.6 * kick + 0.5 * snare + hat, 0.6 * kick + 0.4 * snare + 0.8 * hat
soundfile.write(sys.argv[1], np.stack([left, right], 1) * 0.8, rate, subtype="PCM_16")
PY

# Milliseconds of each run, one per line.
time_runs() {
    for ((i = 0; i < runs; ++i)); do
        local start=$(date +%s%N)
        "$@" >/dev/null 2>&1
        echo $((($(date +%s%N) - start) / 1000))
    done
}
summary() {
    sort -n | awk '{ v[NR] = $1; s += $1 } END { printf "median %.1f ms, mean %.1f ms, min %.1f ms", v[int((NR + 1) / 2)] / 1000, s / NR / 1000, v[1] / 1000 }'
}

# Alternate the two tools so that load on the machine hits both alike. Both write 16-bit WAV:
# soundstretch keeps its input's format, and kelvora is asked for the same.
: >"$work/kelvora.txt"
: >"$work/soundstretch.txt"
for ((r = 0; r < runs; ++r)); do
    runs=1 time_runs "$kelvora" render "$work/loop.wav" -o "$work/kelvora.wav" -t 72 \
        --bit-depth 16 >>"$work/kelvora.txt"
    runs=1 time_runs soundstretch "$work/loop.wav" "$work/soundstretch.wav" -tempo=-25 >>"$work/soundstretch.txt"
done
k=$(summary <"$work/kelvora.txt")
s=$(summary <"$work/soundstretch.txt")
echo "kelvora render (5 s stereo, 96 -> 72 BPM, 16-bit out), $runs runs: $k"
echo "soundstretch -tempo=-25 (same file),                   $runs runs: $s"
awk -v a="$(sort -n "$work/kelvora.txt" | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}')" \
    -v b="$(sort -n "$work/soundstretch.txt" | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}')" \
    'BEGIN { printf "soundstretch / kelvora (medians): %.2f\n", b / a }'
