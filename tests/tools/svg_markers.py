"""Parses an SVG file with xml.etree (so a file that is not well-formed XML fails here) and
prints its root element and the slice markers it draws as JSON."""
import json
import sys
import xml.etree.ElementTree as ElementTree


def main(path):
    root = ElementTree.parse(path).getroot()
    markers = []
    for element in root.iter():
        classes = element.get("class", "").split()
        if "slice" not in classes:
            continue
        markers.append({
            "index": int(element.get("data-index")),
            "position": int(element.get("data-position")),
            "active": "active" in classes,
            "height": float(element.get("y1")) - float(element.get("y2")),
        })
    texts = ["".join(element.itertext()) for element in root.iter("{http://www.w3.org/2000/svg}text")]
    print(json.dumps({"root": root.tag, "markers": markers, "texts": texts}))


if __name__ == "__main__":
    main(sys.argv[1])
