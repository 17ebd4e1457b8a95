#!/usr/bin/python3
"""dBase III files for the data tests.

make PATH LAYOUT   writes a table with struct: {"fields": [[name, type, length, decimals]...],
                 "records": [[value, ...]...]}; values are GBK text, left-aligned and blank-padded.
                 LAYOUT is the JSON text, or @FILE for a UTF-8 file holding it.
read PATH        reads a table with dbfread and prints, in UTF-8, "date Y-M-D", one line "field NAME TYPE LENGTH"
                 per field and one line "record V1|V2|..." per record, values as stored (GBK decoded).
"""
import datetime
import json
import struct
import sys


def make(path, layout):
    fields = layout["fields"]
    records = layout.get("records", [])
    record_len = 1 + sum(f[2] for f in fields)
    header_len = 32 + 32 * len(fields) + 1
    today = datetime.date.today()
    out = bytearray(struct.pack("<BBBBIHH20x", 3, today.year - 1900, today.month, today.day, len(records),
                                header_len, record_len))
    for name, ftype, length, dec in fields:
        out += struct.pack("<11sc4xBB14x", name.encode("ascii"), ftype.encode("ascii"), length, dec)
    out += b"\r"
    for rec in records:
        out += b" "
        for (name, ftype, length, dec), value in zip(fields, rec):
            raw = value.encode("gbk")[:length]
            out += raw + b" " * (length - len(raw))
    out += b"\x1a"
    with open(path, "wb") as f:
        f.write(out)


def read(path):
    import dbfread
    table = dbfread.DBF(path, encoding="gbk", raw=True, load=True)
    print("date", table.date)
    for f in table.fields:
        print("field", f.name, f.type, f.length)
    for rec in table.records:
        print("record " + "|".join(v.decode("gbk") for v in rec.values()))


if __name__ == "__main__":
    if sys.argv[1] == "make":
        layout = sys.argv[3]
        if layout.startswith("@"):
            with open(layout[1:], encoding="utf-8") as f:
                layout = f.read()
        make(sys.argv[2], json.loads(layout))
    else:
        read(sys.argv[2])
