#!/usr/bin/env python3
"""Keeps every name of the library in namespace kv.

  tools/kvnamespace.py [--check]

The library (platform/**, KVplus/**): each .h/.cpp is wrapped, after its preamble (comments, blank
lines, preprocessor lines), in `namespace kv { ... }  // namespace kv`; forward declarations of
Qt, SQLite and libpq types move in front of the namespace. Headers listed in
KVplus/PublicHeaders.txt are what an application sees: their declarations are exported from the
shared library (the library is built with hidden visibility).

Programs (demo, tools, tests, bench, fuzz): a file that includes a library header, or a program
header that brings the namespace in, gets `using namespace kv;` after its preamble; a forward
declaration of a library class becomes `namespace kv { class X; }`. Forms (.ui) name library
widget classes as kv::X.

Files already in the namespace are left alone, so running it again changes nothing. With --check
nothing is written and the exit status is 1 when some file would change.
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
LIBRARY = ["platform", "KVplus"]
PROGRAMS = ["demo", "tools", "tests", "bench", "fuzz"]
PUBLIC_LIST = ROOT / "KVplus" / "PublicHeaders.txt"

OPEN = "namespace kv {"
CLOSE = "}  // namespace kv"
USING = "using namespace kv;"
FOREIGN_DECL = re.compile(r"^(class Q\w*;|struct sqlite3\w*;|struct pg_\w*;|typedef struct pg_\w+ \w+;)$")
TYPE_DECL = re.compile(r"^(?:class|struct|enum class|enum|union)\s+(\w+)\b(?!\s*;)")
FORWARD = re.compile(r"^(class|struct) (\w+);$")
QUOTED_INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def sources(folders, suffixes=(".h", ".cpp")):
    for folder in folders:
        for path in sorted((ROOT / folder).rglob("*")):
            if path.suffix in suffixes and path.is_file():
                yield path


def preamble_end(lines):
    """Index of the first line that is not a comment, a blank or a preprocessor line."""
    in_block = False
    continued = False
    for i, line in enumerate(lines):
        s = line.strip()
        if in_block:
            in_block = "*/" not in s
            continue
        if continued:
            continued = s.endswith("\\")
            continue
        if s.startswith("/*"):
            in_block = "*/" not in s
            continue
        if s == "" or s.startswith("//") or s in ('extern "C" {', "}"):
            continue
        if s.startswith("#"):
            continued = s.endswith("\\")
            continue
        return i
    return len(lines)


def split_preamble(lines):
    """The preamble up to its last preprocessor line (or, without one, the opening comment up to
    the first blank line), and the body: comments right above the first declaration stay with it."""
    end = preamble_end(lines)
    directives = [i for i in range(end) if lines[i].strip().startswith("#") or lines[i].strip() == "}"]
    if directives:
        cut = directives[-1] + 1
        while cut < end and lines[cut - 1].rstrip().endswith("\\"):
            cut += 1
    else:
        cut = next((i for i in range(end) if lines[i].strip() == ""), 0)
    return lines[:cut], lines[cut:]


def public_headers():
    return {line.strip() for line in PUBLIC_LIST.read_text().splitlines()
            if line.strip() and not line.startswith("#")}


def wrap_library(path, public):
    text = path.read_text()
    if OPEN in text:
        return text
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    head, body = split_preamble(lines)
    foreign = [l for l in body if FOREIGN_DECL.match(l)]
    body = [l for l in body if not FOREIGN_DECL.match(l)]
    while body and body[0].strip() == "":
        body.pop(0)
    while body and body[-1].strip() == "":
        body.pop()
    exported = path.suffix == ".h" and path.name in public
    out = list(head)
    if foreign:
        out += [""] + foreign
    out.append("")
    if exported:
        out.append("#pragma GCC visibility push(default)")
    out += [OPEN, ""] + body + ["", CLOSE]
    if exported:
        out.append("#pragma GCC visibility pop")
    return "\n".join(out) + "\n"


def library_classes():
    names = set()
    for path in sources(LIBRARY, (".h",)):
        for line in path.read_text().split("\n"):
            m = TYPE_DECL.match(line)
            if m:
                names.add(m.group(1))
    return names


def library_header_names():
    return {p.name for p in sources(LIBRARY, (".h",))}


def program_files():
    return list(sources(PROGRAMS))


def brings_kv(paths, lib_headers):
    """The program files that see library names: those including a library header or a program
    header that does (to a fixed point)."""
    includes = {}
    for p in paths:
        includes[p] = [m.group(1) for m in map(QUOTED_INCLUDE.match, p.read_text().split("\n")) if m]
    by_name = {}
    for p in paths:
        if p.suffix == ".h":
            by_name.setdefault(p.name, []).append(p)
    seeing = {p for p, inc in includes.items()
              if any(pathlib.PurePath(i).name in lib_headers for i in inc) or USING in p.read_text()
              or "namespace kv {" in p.read_text()}
    changed = True
    while changed:
        changed = False
        for p, inc in includes.items():
            if p in seeing:
                continue
            for i in inc:
                if any(h in seeing for h in by_name.get(pathlib.PurePath(i).name, [])):
                    seeing.add(p)
                    changed = True
                    break
    return seeing


def convert_program(path, classes, sees):
    text = path.read_text()
    lines = text.split("\n")
    declares = any((m := FORWARD.match(l)) and m.group(2) in classes for l in lines)
    if USING in text or OPEN in text or not (sees or declares):
        return text
    head, body = split_preamble(lines)
    # Library classes declared ahead are declared in their namespace, before it is brought in.
    forward, out_body = [], []
    for line in body:
        m = FORWARD.match(line)
        if m and m.group(2) in classes:
            forward.append("%s %s;" % (m.group(1), m.group(2)))
        else:
            out_body.append(line)
    while out_body and out_body[0].strip() == "":
        out_body.pop(0)
    ahead = ["", OPEN] + forward + [CLOSE] if forward else []
    return "\n".join(head + ahead + ["", USING, ""] + out_body)


def convert_ui(path, classes):
    text = path.read_text()

    def widget(m):
        return m.group(1) + ("kv::" if m.group(2) in classes else "") + m.group(2) + m.group(3)

    text = re.sub(r'(<widget class=")(\w+)(")', widget, text)
    text = re.sub(r"(<customwidget>\s*<class>)(\w+)(</class>)", widget, text)
    return text


def main():
    check = "--check" in sys.argv[1:]
    public = public_headers()
    lib = list(sources(LIBRARY))
    missing = public - {p.name for p in lib if p.suffix == ".h"}
    if missing:
        sys.exit("PublicHeaders.txt names headers that do not exist: " + ", ".join(sorted(missing)))
    results = {p: wrap_library(p, public) for p in lib}
    classes = library_classes()
    programs = program_files()
    seeing = brings_kv(programs, library_header_names())
    results.update({p: convert_program(p, classes, p in seeing) for p in programs})
    for folder in LIBRARY + PROGRAMS:
        for p in sorted((ROOT / folder).rglob("*.ui")):
            results[p] = convert_ui(p, classes)
    changed = [p for p, text in results.items() if text != p.read_text()]
    for p in changed:
        if check:
            print("not in namespace kv:", p.relative_to(ROOT))
        else:
            p.write_text(results[p])
    if not check and changed:
        print("%d files put in namespace kv" % len(changed))
    return 1 if check and changed else 0


if __name__ == "__main__":
    sys.exit(main())
