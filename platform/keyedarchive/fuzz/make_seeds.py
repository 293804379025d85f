"""Writes seed keyed archives with Python's plistlib, independently of the
suite's encoder: the suite's own form, the platform's other forms (immutable
classes, NS.string / NS.data objects, shared objects), every value kind, and
objects of classes the decoder keeps as they are (NSNull, NSURL, NSUUID,
NSSet, a number above INT64_MAX, number keys, objects in a cycle), and
damaged objects it keeps as they are (texts holding a NUL, objects of the
classes it reads laid out otherwise)."""

import os
import plistlib
import sys
from plistlib import UID

MDICT = {"$classname": "NSMutableDictionary", "$classes": ["NSMutableDictionary", "NSDictionary", "NSObject"]}
DICT = {"$classname": "NSDictionary", "$classes": ["NSDictionary", "NSObject"]}
MARRAY = {"$classname": "NSMutableArray", "$classes": ["NSMutableArray", "NSArray", "NSObject"]}
MSTRING = {"$classname": "NSMutableString", "$classes": ["NSMutableString", "NSString", "NSObject"]}
MDATA = {"$classname": "NSMutableData", "$classes": ["NSMutableData", "NSData", "NSObject"]}
DATE = {"$classname": "NSDate", "$classes": ["NSDate", "NSObject"]}


def archive(objects, root=1):
    return plistlib.dumps({"$version": 100000, "$archiver": "NSKeyedArchiver", "$top": {"root": UID(root)},
                           "$objects": ["$null"] + objects}, fmt=plistlib.FMT_BINARY)


def table(seed):
    return bytes((seed + i * 7) & 0xFF for i in range(256))


seeds = {
    "suite-prefs": archive([
        {"NS.keys": [UID(2)], "NS.objects": [UID(3)], "$class": UID(8)},
        "VexaKeyMap",
        {"NS.keys": [UID(4), UID(5)], "NS.objects": [UID(6), UID(7)], "$class": UID(8)},
        "Vexa Orla ANSI", "Vexa Orla JIS", table(1), table(2), MDICT]),
    "platform-forms": archive([
        {"NS.keys": [UID(2), UID(3)], "NS.objects": [UID(4), UID(4)], "$class": UID(9)},
        "VexaKeyMap", "copy",
        {"NS.keys": [UID(5)], "NS.objects": [UID(6)], "$class": UID(9)},
        {"NS.string": "Vexa Orla ANSI", "$class": UID(7)},
        {"NS.data": table(3), "$class": UID(8)},
        MSTRING, MDATA, DICT]),
    "every-kind": archive([
        {"NS.keys": [UID(2), UID(3), UID(4), UID(5), UID(6)],
         "NS.objects": [UID(7), UID(8), UID(9), UID(10), UID(12)], "$class": UID(14)},
        "n", "r", "b", "d", "l",
        -5, 2.5, True,
        {"NS.time": 7.5e8, "$class": UID(11)}, DATE,
        {"NS.objects": [UID(7), UID(2), UID(13)], "$class": UID(15)},
        {"NS.keys": [], "NS.objects": [], "$class": UID(14)},
        MDICT, MARRAY]),
    "foreign-kinds": archive([
        {"NS.keys": [UID(i) for i in range(2, 10)], "NS.objects": [UID(i) for i in range(10, 18)], "$class": UID(18)},
        "VexaKeyMap", "null", "url", "uuid", "set", "big", "numbers", "ring",
        {"NS.keys": [UID(19), UID(3)], "NS.objects": [UID(20), UID(11)], "$class": UID(18)},
        {"$class": UID(21)},
        {"NS.base": UID(0), "NS.relative": UID(22), "$class": UID(23)},
        {"NS.uuidbytes": bytes(range(16)), "$class": UID(24)},
        {"NS.objects": [UID(11), UID(19), UID(25)], "$class": UID(26)},
        2 ** 64 - 1,
        {"NS.keys": [UID(25), UID(14)], "NS.objects": [UID(19), UID(11)], "$class": UID(27)},
        {"next": UID(28), "name": "a", "$class": UID(29)},
        MDICT, "Vexa Orla ANSI", table(4),
        {"$classname": "NSNull", "$classes": ["NSNull", "NSObject"]},
        "https://example.org/a?b=1",
        {"$classname": "NSURL", "$classes": ["NSURL", "NSObject"]},
        {"$classname": "NSUUID", "$classes": ["NSUUID", "NSObject"]},
        7,
        {"$classname": "NSSet", "$classes": ["NSSet", "NSObject"]},
        DICT,
        {"next": UID(17), "count": -5, "$class": UID(29)},
        {"$classname": "VXNode", "$classes": ["VXNode", "NSObject"]}]),
    "damaged-kinds": archive([
        {"NS.keys": [UID(i) for i in range(2, 9)], "NS.objects": [UID(i) for i in range(9, 16)], "$class": UID(16)},
        "VexaKeyMap", "nul", "nul16", "nul string", "no string", "uneven", "holds null",
        {"NS.keys": [UID(17), UID(4)], "NS.objects": [UID(18), UID(10)], "$class": UID(16)},
        "a\0b", "\u00e9\0\u00e9",
        {"NS.string": "x\0y", "$class": UID(19)},
        {"NS.bytes": b"xy", "$class": UID(19)},
        {"NS.keys": [UID(2), UID(3)], "NS.objects": [UID(4)], "$class": UID(16)},
        {"NS.keys": [UID(2)], "NS.objects": [UID(0)], "$class": UID(16)},
        MDICT, "Vexa Orla ANSI", table(5),
        {"$classname": "NSString", "$classes": ["NSString", "NSObject"]}]),
    "empty-root": archive([{"NS.keys": [], "NS.objects": [], "$class": UID(2)}, MDICT]),
}

out = sys.argv[1]
for name, data in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
