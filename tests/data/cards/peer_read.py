#!/usr/bin/python3
# Reads a vCard file with the vobject library and prints, as JSON, what a
# peer program finds in each card: the name's parts, phones, e-mails and
# the photo's size in bytes. Exits with 77 when vobject is not installed.
# The library builds its cards by vCard 3.0's rules, which cut a 4.0 photo's
# data: URI at its comma; the photos are therefore taken from the library's
# own content lines (unfolded and split by it), one per card.
import base64
import json
import sys

try:
    import vobject
except ImportError:
    sys.exit(77)


def text(v):
    return v if isinstance(v, str) else str(v)


def photo_sizes(path):
    sizes = []
    with open(path, encoding="utf-8") as f:
        for line, _ in vobject.base.getLogicalLines(f):
            name, params, value, group = vobject.base.parseLine(line)
            if name.upper() == "BEGIN":
                sizes.append(0)
            elif name.upper() == "PHOTO":
                if value.startswith("data:"):
                    value = value.split(",", 1)[1]
                sizes[-1] = len(base64.b64decode(value))
    return sizes


cards = []
photos = photo_sizes(sys.argv[1])
with open(sys.argv[1], encoding="utf-8") as f:
    for card in vobject.readComponents(f):
        n = card.n.value
        cards.append({
            "n": [text(n.family), text(n.given), text(n.additional)],
            "fn": text(card.fn.value),
            "tel": sorted(text(t.value) for t in card.contents.get("tel", [])),
            "email": sorted(text(e.value) for e in card.contents.get("email", [])),
            "photo": photos[len(cards)],
        })
json.dump(cards, sys.stdout, ensure_ascii=False)
