"""Writes, with Python's own plistlib and none of the suite's code, a
preference file laid out the way the original platform's keyed archiver
writes one: an immutable NSDictionary root, keys and tables both as direct
values and as NSMutableString / NSMutableData objects, one inner dictionary
referenced twice, class records after the objects that use them, a date,
non-ASCII text, negative integers, and enough objects that references take
two bytes. Usage: write_platform_archive.py FILE"""

import plistlib
import sys
from plistlib import UID

ANSI = bytes(range(256))
JIS = bytes(255 - i for i in range(256))


def main(path):
    objects = ["$null"]

    def add(value):
        objects.append(value)
        return UID(len(objects) - 1)

    def reserve():
        return add(None)

    root = reserve()
    inner = reserve()
    ansi_key, ansi_table = add("Vexa Orla ANSI"), add(ANSI)
    jis_key, jis_table = reserve(), reserve()
    string_class = add({"$classname": "NSMutableString", "$classes": ["NSMutableString", "NSString", "NSObject"]})
    data_class = add({"$classname": "NSMutableData", "$classes": ["NSMutableData", "NSData", "NSObject"]})
    objects[jis_key.data] = {"NS.string": "Vexa Orla JIS", "$class": string_class}
    objects[jis_table.data] = {"NS.data": JIS, "$class": data_class}
    mutable_class = add({"$classname": "NSMutableDictionary",
                         "$classes": ["NSMutableDictionary", "NSDictionary", "NSObject"]})
    objects[inner.data] = {"NS.keys": [ansi_key, jis_key], "NS.objects": [ansi_table, jis_table],
                           "$class": mutable_class}

    keys, values = [add("VexaKeyMap"), add("Shared")], [inner, inner]
    for i in range(300):
        keys.append(add("k%03d" % i))
        values.append(add(-i))
    date_class = add({"$classname": "NSDate", "$classes": ["NSDate", "NSObject"]})
    for key, value in (("Größe ✓ 設定", add(2.5)), ("flag", add(True)),
                       ("when", add({"NS.time": 750000000.5, "$class": date_class}))):
        keys.append(add(key))
        values.append(value)
    dictionary_class = add({"$classname": "NSDictionary", "$classes": ["NSDictionary", "NSObject"]})
    objects[root.data] = {"NS.keys": keys, "NS.objects": values, "$class": dictionary_class}

    archive = {"$version": 100000, "$archiver": "NSKeyedArchiver", "$top": {"root": root}, "$objects": objects}
    with open(path, "wb") as f:
        plistlib.dump(archive, f, fmt=plistlib.FMT_BINARY)


if __name__ == "__main__":
    main(sys.argv[1])
