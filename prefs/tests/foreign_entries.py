"""Preference files holding entries the suite does not interpret, written and
read with Python's own plistlib and none of the suite's code.

  foreign_entries.py write FILE   writes a keyed archive (laid out as the
      platform's archiver lays one out) whose root and "VexaKeyMap"
      dictionaries hold, beside the two tables, NSNull, NSURL, NSUUID,
      NSMutableSet, numbers above INT64_MAX, dictionaries with number and
      data keys, number keys in both dictionaries, objects of another
      program's class in a cycle, and objects referenced from several places.
  foreign_entries.py write-damaged FILE [WHERE]   writes the same archive
      with damaged objects of known classes beside the tables: texts holding
      a NUL (ASCII and UTF-16, direct and in an NSString), an NSString
      without "NS.string", an NSData whose "NS.data" is a text, dictionaries
      whose "NS.keys" and "NS.objects" differ in length, a dictionary holding
      $null, an array without "NS.objects". WHERE also damages what the suite
      reads: "table" (the ANSI table an NSData without "NS.data"),
      "keymaps" (the "VexaKeyMap" dictionary uneven) or "root" (the root).
  foreign_entries.py show FILE    prints the two tables, a line "--", then
      every other entry of the root and of "VexaKeyMap", one a line.

In "show", other objects print with their class record and every field,
integers with their exact value (a 16-byte integer above INT64_MAX reads as
negative if it comes back 8 bytes wide), and an object reached again prints
as "@n", so sharing must come back as it was. Dictionaries, arrays, texts
and data print by their contents alone: the suite writes every dictionary
as NSMutableDictionary and every array as NSMutableArray. A text holding a
NUL prints as Python writes it in code ('a\\x00b'); an object of those
classes laid out otherwise prints as other objects do, field by field."""

import plistlib
import sys
from plistlib import UID

TYPES = ("Vexa Orla ANSI", "Vexa Orla JIS")
ANSI = bytes((i * 3) & 0xFF for i in range(256))
JIS = bytes((255 - i * 5) & 0xFF for i in range(256))


def write(path, damaged=False, where=None):
    objects = ["$null"]
    classes = {}

    def add(value):
        objects.append(value)
        return UID(len(objects) - 1)

    def cls(*chain):
        if chain[0] not in classes:
            classes[chain[0]] = add({"$classname": chain[0], "$classes": list(chain) + ["NSObject"]})
        return classes[chain[0]]

    def obj(chain, **fields):
        return add(dict(fields, **{"$class": cls(*chain)}))

    def dictionary(chain, pairs):
        keys = [add(k) if not isinstance(k, UID) else k for k, _ in pairs]
        values = [add(v) if not isinstance(v, UID) else v for _, v in pairs]
        return obj(chain, **{"NS.keys": keys, "NS.objects": values})

    null = obj(["NSNull"])
    url = obj(["NSURL"], **{"NS.base": UID(0), "NS.relative": add("https://example.org/keymaps?v=2")})
    uuid = obj(["NSUUID"], **{"NS.uuidbytes": bytes(range(0xA0, 0xB0))})
    big = add(2 ** 64 - 1)
    members = obj(["NSMutableSet", "NSSet"], **{"NS.objects": [null, add("a"), big, add(3)]})
    cls("VXNode")
    first = UID(len(objects))
    obj(["VXNode"], next=UID(first.data + 1), name="first")
    obj(["VXNode"], next=first, count=-5, ratio=0.1)
    numbers = dictionary(["NSDictionary"], [(1, "one"), (2, "two"), (b"\x01", null)])
    listed = obj(["NSMutableArray", "NSArray"], **{"NS.objects": [null, url]})
    keymap_entries = [(TYPES[0], ANSI), (TYPES[1], JIS), ("Note", null), (7, "seven")]
    root_entries = [
        ("null", null), ("url", url), ("uuid", uuid), ("set", members), ("big", big), ("big63", 2 ** 63),
        ("numbers", numbers), ("ring", first), ("listed", listed), (42, "answer")]
    if damaged:
        def uneven(*chain):
            return obj(chain, **{"NS.keys": [add("a"), add("b")], "NS.objects": [add("c")]})
        root_entries += [
            ("nul", "a\0b"), ("nul16", "\u00e9\0\u00e9"), ("nul long", "\U0001F600\0" + "x" * 20),
            ("nul key", dictionary(["NSDictionary"], [("k\0", 1)])),
            ("nul string", obj(["NSMutableString", "NSString"], **{"NS.string": "x\0y"})),
            ("no string", obj(["NSString"], **{"NS.bytes": b"xy"})),
            ("text data", obj(["NSData"], **{"NS.data": "xy"})),
            ("uneven", uneven("NSDictionary")),
            ("holds null", obj(["NSDictionary"], **{"NS.keys": [add("a")], "NS.objects": [UID(0)]})),
            ("no objects", obj(["NSArray"])),
            ("inside", obj(["NSMutableArray", "NSArray"], **{"NS.objects": [add("fine"), uneven("NSDictionary")]}))]
        keymap_entries += [("Damaged", obj(["NSData"], **{"NS.bytes": b"xy"})), ("nul", "a\0b")]
        if where == "table":
            keymap_entries[0] = (TYPES[0], obj(["NSMutableData", "NSData"], **{"NS.bytes": ANSI}))
    keymaps = dictionary(["NSMutableDictionary", "NSDictionary"], keymap_entries)
    if where == "keymaps":
        objects[keymaps.data]["NS.objects"].append(UID(0))
    root = dictionary(["NSDictionary"], [("VexaKeyMap", keymaps)] + root_entries)
    if where == "root":
        objects[root.data]["NS.objects"].pop()
    archive = {"$version": 100000, "$archiver": "NSKeyedArchiver", "$top": {"root": root}, "$objects": objects}
    with open(path, "wb") as f:
        plistlib.dump(archive, f, fmt=plistlib.FMT_BINARY)


VALUE_CLASSES = {
    "NSDictionary": "dict", "NSMutableDictionary": "dict", "NSArray": "list", "NSMutableArray": "list",
    "NSString": "str", "NSMutableString": "str", "NSData": "data", "NSMutableData": "data", "NSDate": "date",
}


def show(path):
    with open(path, "rb") as f:
        top = plistlib.load(f, fmt=plistlib.FMT_BINARY)
    objects = top["$objects"]
    labels = {}

    def pairs(uid):
        o = objects[uid.data]
        return list(zip(o["NS.keys"], o["NS.objects"]))

    def plain(v):
        if isinstance(v, UID):
            return plain(objects[v.data]) if v.data else "$null"
        if isinstance(v, bool):
            return f"bool:{v}"
        if isinstance(v, int):
            return f"int:{v}"
        if isinstance(v, float):
            return f"real:{v!r}"
        if isinstance(v, bytes):
            return f"data:{v.hex()}"
        if isinstance(v, str):
            return f"str:{v!r}" if "\0" in v else f"str:{v}"
        if isinstance(v, list):
            return "[" + ", ".join(canon(x) for x in v) + "]"
        return "{" + ", ".join(f"{k}: {canon(v[k])}" for k in sorted(v)) + "}"

    def canon(v):
        if not isinstance(v, UID) or v.data == 0 or not isinstance(objects[v.data], dict):
            return plain(v)
        o = objects[v.data]
        if "$class" not in o:
            return plain(o)
        record = objects[o["$class"].data]
        kind = VALUE_CLASSES.get(record["$classname"])
        fields = {"dict": {"NS.keys": list, "NS.objects": list}, "list": {"NS.objects": list},
                  "str": {"NS.string": str}, "data": {"NS.data": bytes}, "date": {"NS.time": float}}.get(kind, {})
        if not all(isinstance(o.get(f), t) for f, t in fields.items()) or (
                kind == "dict" and len(o["NS.keys"]) != len(o["NS.objects"])):
            kind = None  # laid out otherwise: shown field by field
        if kind == "dict":
            items = sorted(pairs(v), key=lambda kv: plain(kv[0]))
            return "dict{" + ", ".join(f"{canon(k)}: {canon(x)}" for k, x in items) + "}"
        if kind == "list":
            return "list[" + ", ".join(canon(x) for x in o["NS.objects"]) + "]"
        if kind in ("str", "data", "date"):
            return plain(o[{"str": "NS.string", "data": "NS.data", "date": "NS.time"}[kind]])
        if v.data in labels:
            return f"@{labels[v.data]}"
        labels[v.data] = len(labels)
        fields = ", ".join(f"{k}: {canon(o[k])}" for k in sorted(o) if k != "$class")
        return f"#{labels[v.data]} {plain(record)} {{{fields}}}"

    root = top["$top"]["root"]
    tables, lines = {}, []
    entries = sorted(pairs(root), key=lambda kv: plain(kv[0]))
    for key, value in entries:
        if plain(key) != "str:VexaKeyMap":
            lines.append(f"root {plain(key)} = {canon(value)}")
    for key, value in entries:
        if plain(key) == "str:VexaKeyMap":
            for k, v in sorted(pairs(value), key=lambda kv: plain(kv[0])):
                if plain(k) in (f"str:{t}" for t in TYPES):
                    tables[plain(k)[4:]] = plain(v)
                else:
                    lines.append(f"VexaKeyMap {plain(k)} = {canon(v)}")
    for t in TYPES:
        print(f"{t} = {tables.get(t, 'missing')}")
    print("--")
    for line in lines:
        print(line)


if __name__ == "__main__":
    if sys.argv[1] == "write-damaged":
        write(sys.argv[-1], damaged=True, where=sys.argv[2] if len(sys.argv) > 3 else None)
    else:
        {"write": write, "show": show}[sys.argv[1]](sys.argv[2])
