"""Writes a volume table full of values that are hard to keep, and compares two such tables,
both with Python's own plistlib: another program's reader and writer.

  odd_plists.py write xml|binary PATH   the table, in that format
  odd_plists.py compare BEFORE AFTER    prints what changed besides "hdpn", and "hdpn" after
"""
import datetime
import math
import plistlib
import sys

ODD = {
    "huge unsigned": 18446744073709551615,
    "just above int64": 9223372036854775808,
    "int64 min": -9223372036854775808,
    "int64 max": 9223372036854775807,
    "negative zero": -0.0,
    "1e300": 1e300,
    "-1e300": -1e300,
    "infinity": math.inf,
    "-infinity": -math.inf,
    "nan": math.nan,
    "tiny": 5e-324,
    "cr": "a\r\nb\rc",
    "tabs and newlines": "\ta\n\tb\t",
    "markup": "<integer>1</integer> & <string>\x7f</string>",
    "texts": ["h\u00e9llo \U0001f50a", ""],
    "data": b"\x00\x01\xff" * 40,
    "empty data": b"",
    "dates": [datetime.datetime(2031, 4, 5, 6, 7, 8), datetime.datetime(1969, 12, 31),
              datetime.datetime(2100, 1, 1)],
    "uid": plistlib.UID(7),
    "nested": [[1, [2.5, ["deep", {"k": [True, False]}]]], {}, []],
    "key with \r carriage return": 1,
    "hdpn": 0.5,
}


def same(a, b):
    if isinstance(a, plistlib.UID):
        a = {"CF$UID": a.data}  # how XML, which has no UIDs, carries one
    if isinstance(a, float) and isinstance(b, float):
        return repr(a) == repr(b)  # -0.0 is not 0.0, nan is nan
    if type(a) is not type(b):
        return False
    if isinstance(a, dict):
        return a.keys() == b.keys() and all(same(a[k], b[k]) for k in a)
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    return a == b


def main():
    if sys.argv[1] == "write":
        fmt = plistlib.FMT_XML if sys.argv[2] == "xml" else plistlib.FMT_BINARY
        odd = dict(ODD)
        if fmt == plistlib.FMT_XML:
            # plistlib's XML writer folds carriage returns itself and has no UIDs: binary only.
            odd = {k: v for k, v in odd.items()
                   if "\r" not in k + str(v) and not isinstance(v, plistlib.UID)}
        with open(sys.argv[3], "wb") as f:
            plistlib.dump(odd, f, fmt=fmt, sort_keys=False)
        return
    with open(sys.argv[2], "rb") as f:
        before = plistlib.load(f)
    with open(sys.argv[3], "rb") as f:
        after = plistlib.load(f)
    changed = [k for k in before.keys() | after.keys()
               if k != "hdpn" and not same(before.get(k), after.get(k))]
    for k in sorted(changed):
        print(f"{k!r}: {before.get(k)!r} -> {after.get(k)!r}")
    print(f"hdpn: {after.get('hdpn')!r}")


main()
