"""Reads a file the tool wrote with an independent reader and prints what it holds as JSON.
"midi FILE": mido's view of a Standard MIDI File, notes in seconds through its tempo map.
"svg FILE": xml.etree's parse (so a file that is not well-formed fails) and the slice markers,
their heights relative to the tallest."""
import json
import sys
import xml.etree.ElementTree as ElementTree

import mido


def midi(path):
    midi = mido.MidiFile(path)
    events = [m for track in midi.tracks for m in track]
    seconds, sounding, notes = 0.0, {}, []
    for message in midi:  # all tracks merged, times in seconds
        seconds += message.time
        if message.type == "note_on" and message.velocity > 0:
            sounding[message.channel, message.note] = seconds
        elif message.type in ("note_on", "note_off"):
            notes.append({"note": message.note, "channel": message.channel,
                          "start": sounding.pop((message.channel, message.note)),
                          "end": seconds})
    return {"type": midi.type, "ticksPerBeat": midi.ticks_per_beat, "tracks": len(midi.tracks),
            "tempos": [m.tempo for m in events if m.type == "set_tempo"],
            "timeSignatures": [[m.numerator, m.denominator] for m in events
                               if m.type == "time_signature"],
            "notes": sorted(notes, key=lambda n: (n["start"], n["note"])),
            "unfinishedNotes": len(sounding)}


def svg(path):
    root = ElementTree.parse(path).getroot()
    markers = [e for e in root.iter() if "slice" in e.get("class", "").split()]
    heights = [float(e.get("y1")) - float(e.get("y2")) for e in markers]
    return {"root": root.tag,
            "markers": [{"index": int(e.get("data-index")), "position": int(e.get("data-position")),
                         "active": "active" in e.get("class").split(), "height": h / max(heights)}
                        for e, h in zip(markers, heights)]}


if __name__ == "__main__":
    print(json.dumps({"midi": midi, "svg": svg}[sys.argv[1]](sys.argv[2])))
