#!/usr/bin/env python3
"""Prints a .dbf read through dbfread: field names, field types, then one line per record with
tab-separated canonical cells (null, true/false, integers, %.17g floats, ISO dates, text)."""
import sys

import dbfread


def cell(v):
    if v is None:
        return "null"
    if isinstance(v, bool):
        return "true" if v else "false"
    if isinstance(v, int):
        return str(v)
    if isinstance(v, float):
        return "%.17g" % v
    if hasattr(v, "isoformat"):
        return v.isoformat()
    if isinstance(v, str):
        return v if v != "" else "null"
    return repr(v)


def main():
    table = dbfread.DBF(sys.argv[1], load=True)
    out = [table.encoding,
           "\t".join(f.name for f in table.fields),
           "\t".join("%s%d.%d" % (f.type, f.length, f.decimal_count) for f in table.fields)]
    for rec in table.records:
        out.append("\t".join(cell(v) for v in rec.values()))
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
