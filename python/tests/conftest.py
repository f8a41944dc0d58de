import numpy as np
import pytest

RATE = 44100


def drum_loop(seconds=2.0, channels=2, rate=RATE, seed=1):
    """A seeded loop of decaying tones and noise bursts on an eighth-note grid at 120 BPM."""
    rng = np.random.default_rng(seed)
    frames = int(seconds * rate)
    audio = np.zeros((frames, channels), np.float32)
    step = rate // 4
    for hit, start in enumerate(range(0, frames - 1, step)):
        length = min(6000, frames - start)
        n = np.arange(length)
        tone = np.exp(-n / 500.0) * np.sin(2 * np.pi * (60 + 45 * (hit % 3)) * n / rate)
        noise = rng.standard_normal(length) * np.exp(-n / 150.0) * (0.2 + 0.3 * (hit % 2))
        pan = np.linspace(0.6, 1.0, channels)
        audio[start:start + length] += ((tone + noise) * (0.4 + 0.1 * (hit % 4)))[:, None] * pan
    audio += rng.standard_normal(audio.shape).astype(np.float32) * 1e-3
    return audio


@pytest.fixture(scope="session")
def loop_audio():
    return drum_loop()
