#!/usr/bin/env python3
"""Times kelvora.detect against aubio's onset detector, and both kelvora calls against the same
calls made by a C++ host, on the same generated loops in one run, and prints the ratios.

Run from the repository root after building:
    PYTHONPATH=build/python python3 python/bench/bench_kelvora.py \
        --host-timing build/python/kelvora_host_timing

Every figure is the CPU time of the calling thread (time spent waiting for a core under other
load does not count), the fastest of --rounds x --repeats runs; the rounds alternate between
the C++ host and Python, so both see the same machine.
"""
import argparse
import subprocess
import tempfile
import time

import aubio
import numpy as np

import kelvora

RATE = 44100
HOP = 256


def drum_loop(seconds, seed, channels=2):
    """Decaying tones and noise bursts on a sixteenth-note grid at 120 BPM, plus a noise floor."""
    rng = np.random.default_rng(seed)
    frames = int(seconds * RATE)
    audio = np.zeros((frames, channels), np.float32)
    for hit, start in enumerate(range(0, frames, RATE // 8)):
        length = min(5000, frames - start)
        n = np.arange(length)
        tone = np.exp(-n / 400.0) * np.sin(2 * np.pi * rng.uniform(50, 400) * n / RATE)
        noise = rng.standard_normal(length) * np.exp(-n / 120.0) * rng.uniform(0.05, 0.5)
        audio[start:start + length] += ((tone + noise) * rng.uniform(0.2, 0.8))[:, None]
    return audio + rng.standard_normal(audio.shape).astype(np.float32) * 1e-3


def fastest(repeats, work):
    times = []
    for _ in range(repeats):
        start = time.thread_time_ns()
        work()
        times.append(time.thread_time_ns() - start)
    return min(times)


def aubio_onsets(mono):
    onset = aubio.onset("hfc", 2 * HOP, HOP, RATE)
    found = []
    for start in range(0, len(mono) - HOP + 1, HOP):
        if onset(mono[start:start + HOP]):
            found.append(onset.get_last())
    return found


def host_timing(program, audio, repeats):
    planar = np.ascontiguousarray(audio.T)
    with tempfile.NamedTemporaryFile(suffix=".f32") as samples:
        planar.tofile(samples.name)
        output = subprocess.run([program, samples.name, str(planar.shape[0]),
                                 str(planar.shape[1]), str(RATE), str(repeats)],
                                check=True, capture_output=True, text=True).stdout
    return {key: float(value) for key, value in (line.split() for line in output.splitlines())}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host-timing", required=True, help="the built kelvora_host_timing")
    parser.add_argument("--repeats", type=int, default=10)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()

    print(f"kelvora {kelvora.__version__}, aubio {aubio.version}; thread CPU time, "
          f"fastest of {args.rounds} x {args.repeats} runs; stereo loops at {RATE} Hz (aubio: hfc, hop {HOP}, mono mix, fed hop by hop)")
    print(f"{'loop':>6} {'detect ms':>10} {'C++ ms':>8} {'overhead':>9} {'(frames, ch)':>13} "
          f"{'aubio ms':>9} {'aubio/kelvora':>14} {'render ms':>10} {'C++ ms':>8} "
          f"{'overhead':>9} {'out=':>6}")
    renders = {}
    for seconds, seed in [(1, 1), (4, 2), (4, 3), (16, 4)]:
        audio = drum_loop(seconds, seed)
        planar = np.ascontiguousarray(audio.T)
        mono = np.ascontiguousarray(audio.mean(axis=1, dtype=np.float32))
        loop = kelvora.Loop(planar, RATE)
        loop.tempo = np.float32(loop.loop_tempo) * np.float32(0.8)
        out = np.empty((2, loop.rendered_length), np.float32).T

        best = {}
        for _ in range(args.rounds):
            host = host_timing(args.host_timing, audio, args.repeats)
            assert loop.rendered_length == host["render_frames"], "not the host's render"
            times = dict(
                host_detect=host["detect_ns"], host_render=host["render_ns"],
                detect=fastest(args.repeats, lambda: kelvora.detect(planar, RATE)),
                interleaved=fastest(args.repeats, lambda: kelvora.detect(audio, RATE)),
                render=fastest(args.repeats, loop.render),
                into=fastest(args.repeats, lambda: loop.render(out=out)),
                aubio=fastest(max(1, args.repeats // 3), lambda: aubio_onsets(mono)))
            best = {k: min(v, best.get(k, v)) for k, v in times.items()}
        ms = {k: v / 1e6 for k, v in best.items()}
        renders.setdefault(seconds, best["render"])

        print(f"{seconds:>4} s {ms['detect']:>10.2f} {ms['host_detect']:>8.2f} "
              f"{ms['detect'] / ms['host_detect'] - 1:>+9.1%} {ms['interleaved']:>13.2f} "
              f"{ms['aubio']:>9.2f} {ms['aubio'] / ms['detect']:>14.2f} "
              f"{ms['render']:>10.2f} {ms['host_render']:>8.2f} "
              f"{ms['render'] / ms['host_render'] - 1:>+9.1%} "
              f"{ms['into'] / ms['host_render'] - 1:>+6.1%}")

    # The binding's own cost per call has an upper bound that load barely blurs: one frame
    # rendered into a reused array is a whole call through it, with almost no engine work.
    one = np.empty((2, 1), np.float32).T
    call = fastest(2000, lambda: loop.play(1, out=one))
    print(f"one call through the binding, engine work for 1 frame included: {call / 1e3:.2f} us "
          f"= {call / renders[4]:.2%} of a 4 s loop's render")


if __name__ == "__main__":
    main()
