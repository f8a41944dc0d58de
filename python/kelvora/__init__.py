"""Kelvora: transient detection and tempo-independent loop slicing over numpy arrays.

``kelvora.detect(audio, sample_rate)`` finds a loop's transients; ``kelvora.Loop`` cuts a loop
into slices and plays it at another tempo without stretching the audio.
"""

from ._kelvora import Loop, __version__, detect

__all__ = ["Loop", "detect", "__version__"]
