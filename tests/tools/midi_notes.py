"""Reads a Standard MIDI File with mido and prints what it holds as JSON: the file type, the
resolution, the tempo and time signature events, and every note with its start and end in
seconds (mido applies the tempo map) and in ticks of its own track."""
import json
import sys

import mido


def main(path):
    midi = mido.MidiFile(path)
    tempos, signatures, notes = [], [], []
    for track_index, track in enumerate(midi.tracks):
        tick = 0
        for message in track:
            tick += message.time
            if message.type == "set_tempo":
                tempos.append({"tick": tick, "microseconds": message.tempo})
            elif message.type == "time_signature":
                signatures.append({"tick": tick, "numerator": message.numerator,
                                   "denominator": message.denominator})

    seconds = 0.0
    sounding = {}
    for message in midi:  # all tracks merged, times in seconds
        seconds += message.time
        if message.type == "note_on" and message.velocity > 0:
            sounding[message.note] = (seconds, message.velocity)
        elif message.type in ("note_on", "note_off"):
            start, velocity = sounding.pop(message.note)
            notes.append({"note": message.note, "velocity": velocity,
                          "start": start, "end": seconds})
    notes.sort(key=lambda n: (n["start"], n["note"]))
    print(json.dumps({"type": midi.type, "ticksPerBeat": midi.ticks_per_beat,
                      "tracks": len(midi.tracks), "tempos": tempos,
                      "timeSignatures": signatures, "notes": notes,
                      "unfinishedNotes": len(sounding)}))


if __name__ == "__main__":
    main(sys.argv[1])
