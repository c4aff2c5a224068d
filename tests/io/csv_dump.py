#!/usr/bin/env python3
"""Reads an ASCII table with the csv module, using only what its .sch schema says (separator,
delimiter, field names and types), and prints field names, then one line per record with
tab-separated canonical cells (null, true/false, integers, %.17g floats, ISO dates, text)."""
import csv
import sys


def read_schema(path):
    settings, fields = {}, {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("[") or "=" not in line:
                continue
            key, value = line.split("=", 1)
            if key.upper().startswith("FIELD"):
                name, ftype, size, dec, off = value.rsplit(",", 4)
                fields[int(key[5:])] = (name, ftype.upper())
            else:
                settings[key.upper()] = value
    return settings, [fields[i] for i in sorted(fields)]


def cell(raw, ftype):
    if raw == "":
        return "null"
    if ftype in ("SHORT", "LONGINT", "AUTOINC"):
        return str(int(raw))
    if ftype in ("NUMBER", "FLOAT", "CURRENCY"):
        return "%.17g" % float(raw)
    if ftype == "BOOL":
        return {"true": "true", "false": "false"}[raw.lower()]
    return raw


def main():
    settings, fields = read_schema(sys.argv[2])
    assert settings.get("CHARSET", "UTF8").upper() in ("UTF8", "UTF-8")
    out = ["\t".join(name for name, _ in fields), "\t".join(t for _, t in fields)]
    with open(sys.argv[1], encoding="utf-8", newline="") as f:
        reader = csv.reader(f, delimiter=settings["SEPARATOR"], quotechar=settings["DELIMITER"])
        for row in reader:
            if not row:
                continue
            assert len(row) == len(fields), row
            out.append("\t".join(cell(v, t) for v, (_, t) in zip(row, fields)))
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
