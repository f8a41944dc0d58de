from typing import Any, Sequence, SupportsFloat, SupportsIndex

import numpy as np
import numpy.typing as npt

__version__: str

_AudioLike = npt.ArrayLike

def detect(
    audio: _AudioLike,
    sample_rate: SupportsFloat,
    window_ms: float = 75.0,
    *,
    channel_axis: int | None = None,
) -> tuple[npt.NDArray[np.uint32], npt.NDArray[np.float32]]:
    """Transient positions (frames) and strengths (0 to 1) of a loop."""

class Loop:
    """A loop cut into slices at its transients, played at any tempo."""

    def __init__(
        self,
        audio: _AudioLike,
        sample_rate: SupportsFloat,
        *,
        slices: Sequence[int] | npt.NDArray[np.void] | None = None,
        loop_tempo: float | None = None,
        output_rate: int | None = None,
        channel_axis: int | None = None,
        ticks_per_beat: int = ...,
        bars: int = ...,
        beats_per_bar: int = ...,
        beat_unit: int = ...,
        extra_beats: int = ...,
        tempo: float = ...,
        sensitivity: float = ...,
        transpose: float = ...,
        fine_tune: float = ...,
        gain: float = ...,
        attack: float = ...,
        hold: float = ...,
        decay: float = ...,
        sustain: float = ...,
        tail_extension: float = ...,
        tail_from_sound_end: bool = ...,
        tail_loop_position: float = ...,
        detection_window: float = ...,
    ) -> None: ...

    ticks_per_beat: int
    bars: int
    beats_per_bar: int
    beat_unit: int
    extra_beats: int
    tempo: float
    sensitivity: float
    transpose: float
    fine_tune: float
    gain: float
    attack: float
    hold: float
    decay: float
    sustain: float
    tail_extension: float
    tail_from_sound_end: bool
    tail_loop_position: float
    detection_window: float
    @property
    def loop_tempo(self) -> float: ...
    @loop_tempo.setter
    def loop_tempo(self, value: float | None) -> None: ...
    @property
    def output_rate(self) -> int: ...
    @output_rate.setter
    def output_rate(self, value: int | None) -> None: ...
    @property
    def sample_rate(self) -> int: ...
    @property
    def frames(self) -> int: ...
    @property
    def channels(self) -> int: ...
    @property
    def audio(self) -> npt.NDArray[np.float32]:
        """The (channels, frames) samples the engine reads."""
    @property
    def rendered_length(self) -> int: ...
    @property
    def position(self) -> int: ...
    @property
    def slices(self) -> npt.NDArray[np.void]:
        """Fields: position, source_position, ticks, strength, locked, deleted, active,
        detected, disabled, added."""
    @property
    def regions(self) -> npt.NDArray[np.void]:
        """Fields: start, length."""

    def add(self, position: SupportsIndex) -> int: ...
    def move(self, index: SupportsIndex, position: SupportsIndex) -> None: ...
    def lock(self, index: SupportsIndex, locked: bool = True) -> None: ...
    def delete(self, index: SupportsIndex, deleted: bool = True) -> None: ...
    def edit(
        self,
        index: SupportsIndex,
        *,
        position: SupportsIndex | None = None,
        ticks: float | None = None,
        strength: float | None = None,
        locked: bool | None = None,
        deleted: bool | None = None,
    ) -> None: ...
    def disable(self, index: SupportsIndex) -> None: ...
    def render(
        self, passes: SupportsIndex = 1, *, out: npt.NDArray[np.float32] | None = None
    ) -> npt.NDArray[np.float32]:
        """(passes x rendered_length, channels) float32, into `out` when given."""
    def play(
        self, frames: SupportsIndex, *, out: npt.NDArray[np.float32] | None = None
    ) -> npt.NDArray[np.float32]: ...
    def start(self) -> None: ...
    def stop(self) -> None: ...
    def audition(self, index: SupportsIndex) -> None: ...
    def to_dict(self) -> dict[str, Any]: ...
    @staticmethod
    def from_dict(
        state: dict[str, Any], audio: _AudioLike, *, channel_axis: int | None = None
    ) -> Loop: ...
