"""Reads a preference file with Python's own plistlib, independently of the
suite's code, checks that it is a binary keyed archive whose references are
UID values, and prints the resolved root as sorted "path=kind:value" lines.
Exits non-zero with a message when the file is not such an archive."""

import plistlib
import sys

MUTABLE_DICTIONARY = ["NSMutableDictionary", "NSDictionary", "NSObject"]
MUTABLE_ARRAY = ["NSMutableArray", "NSArray", "NSObject"]
DATE = ["NSDate", "NSObject"]


class Date(float):
    pass


def fail(message):
    print(message, file=sys.stderr)
    sys.exit(1)


def check(condition, message):
    if not condition:
        fail(message)


def main(path):
    with open(path, "rb") as f:
        raw = f.read()
    check(raw[:8] == b"bplist00", "not a binary property list")
    top = plistlib.loads(raw, fmt=plistlib.FMT_BINARY)
    check(top.get("$archiver") == "NSKeyedArchiver", "$archiver is not NSKeyedArchiver")
    version = top.get("$version")
    check(type(version) is int and version == 100000, f"$version is not the integer 100000: {version!r}")
    objects = top.get("$objects")
    check(isinstance(objects, list) and objects and objects[0] == "$null", "$objects does not start with $null")
    root = top.get("$top", {}).get("root")
    check(isinstance(root, plistlib.UID), "$top root is not a UID")

    def obj(uid):
        check(isinstance(uid, plistlib.UID), f"expected a UID, found {uid!r}")
        check(0 < uid.data < len(objects), f"UID {uid.data} out of range")
        return objects[uid.data]

    def resolve(uid):
        o = obj(uid)
        if not isinstance(o, dict):
            return o
        cls = obj(o.get("$class"))
        check(isinstance(cls, dict), f"$class names no class record: {cls!r}")
        chain = cls.get("$classes")
        check(isinstance(chain, list) and chain and cls.get("$classname") == chain[0],
              f"class record {cls!r}: $classname is not the first of $classes")
        if "NS.keys" in o:
            check(chain == MUTABLE_DICTIONARY, f"dictionary class chain {chain}")
            keys, values = o["NS.keys"], o["NS.objects"]
            check(len(keys) == len(values), "NS.keys and NS.objects differ in length")
            return {resolve(k): resolve(v) for k, v in zip(keys, values)}
        if "NS.objects" in o:
            check(chain == MUTABLE_ARRAY, f"array class chain {chain}")
            return [resolve(v) for v in o["NS.objects"]]
        if "NS.time" in o:
            check(chain == DATE, f"date class chain {chain}")
            return Date(o["NS.time"])
        fail(f"unexpected object {o!r}")

    lines = []

    def flatten(prefix, value):
        if isinstance(value, dict):
            for k, v in value.items():
                flatten(f"{prefix}{k}/", v)
        elif isinstance(value, list):
            for i, v in enumerate(value):
                flatten(f"{prefix}{i}/", v)
        else:
            kind = {bytes: "data", str: "str", bool: "bool", int: "int", float: "real", Date: "date"}[type(value)]
            text = value.hex() if isinstance(value, bytes) else str(value)
            lines.append(f"{prefix[:-1]}={kind}:{text}")

    value = resolve(root)
    check(isinstance(value, dict), "root is not a dictionary")
    flatten("", value)
    for line in sorted(lines):
        print(line)


if __name__ == "__main__":
    main(sys.argv[1])
