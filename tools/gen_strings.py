#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Builds the string table and the header of named string ids.

Sources, under resources/strings/:
  <lang>.txt  one line per string id, "<id> <entry>" (one space, or a tab),
              ids from 0 in order, the same ids in every language; the entry
              is already in the table's text form ("|" line break,
              backslash escapes).
  names.txt   "<id> <NAME>" for every id, and "range <NAME> <first> <last>"
              for the ids code indexes into.
Lines starting with "#" and blank lines are comments; in names.txt a "#"
after the name starts a comment too.

Outputs:
  resources/strings.txt (no option, or --table PATH): the languages
      interleaved as the program reads them: group g = id 2g in en, fr, es,
      de, ru, then id 2g + 1.
  --header PATH: the C++ header of the ids (enum StrId, STRING_COUNT, the
      ranges); written only when its text changes, so a build that reruns
      the generator recompiles nothing needlessly.
  --check: writes nothing; fails when the sources disagree, when
      resources/strings.txt is stale, or when a file under the scanned
      folders uses a STR_ name the table lacks.
"""
import argparse
import os
import re
import sys

LANGS = ["en", "fr", "es", "de", "ru"]
NAME_RE = re.compile(r"STR_[A-Z0-9_]*[A-Z0-9]\Z")
USE_RE = re.compile(r"\bSTR_[A-Z0-9_]*[A-Z0-9]\b")
# Folders whose sources may name string ids, and the file kinds read there.
SCAN_DIRS = ["src", "server", "tests", "bench", "fuzz"]
SCAN_EXTS = (".cc", ".h", ".py", ".in")
# The generator's own tests make up names on purpose.
SCAN_SKIP = [os.path.join("tests", "tools")]


class SourceError(Exception):
    pass


def load_language(path):
    """The entries of one language source, by id."""
    texts = []
    with open(path, encoding="utf-8", newline="") as f:
        for lineno, line in enumerate(f.read().split("\n"), 1):
            where = f"{path}:{lineno}"
            if not line.strip() or line.startswith("#"):
                continue
            if "\r" in line:
                raise SourceError(f"{where}: carriage return")
            m = re.match(r"(\d+)[ \t](.*)\Z", line)
            if not m:
                raise SourceError(f"{where}: expected '<id> <text>'")
            num, text = int(m.group(1)), m.group(2)
            if num != len(texts):
                raise SourceError(f"{where}: id {num}, expected {len(texts)}")
            if not text.strip():
                raise SourceError(f"{where}: empty text")
            if (len(text) - len(text.rstrip("\\"))) % 2:
                raise SourceError(f"{where}: text ends in a lone backslash")
            texts.append(text)
    return texts


def load_names(path, count):
    """The names by id and the ranges [(name, first, last)]."""
    names = {}
    ranges = []
    seen = {}
    with open(path, encoding="utf-8") as f:
        for lineno, raw in enumerate(f, 1):
            where = f"{path}:{lineno}"
            line = raw.split("#", 1)[0].split()
            if not line:
                continue
            if line[0] == "range":
                if len(line) != 4 or not line[2].isdigit() or not line[3].isdigit():
                    raise SourceError(f"{where}: expected 'range <NAME> <first> <last>'")
                name, first, last = line[1], int(line[2]), int(line[3])
                if first > last or last >= count:
                    raise SourceError(f"{where}: range {first}..{last} outside the ids 0..{count - 1}")
                defined = [name + "_FIRST", name + "_LAST", name + "_RANGE"]
                ranges.append((name, first, last))
            else:
                if len(line) != 2 or not line[0].isdigit():
                    raise SourceError(f"{where}: expected '<id> <NAME>'")
                sid, name = int(line[0]), line[1]
                if sid >= count:
                    raise SourceError(f"{where}: id {sid} is not in the table (ids 0..{count - 1})")
                if sid in names:
                    raise SourceError(f"{where}: id {sid} named twice ({names[sid]}, {name})")
                names[sid] = name
                defined = [name]
            if not NAME_RE.match(name):
                raise SourceError(f"{where}: {name}: names are STR_ and capitals, digits, '_'")
            for d in defined:
                if d in seen or d in ("STR_NONE", "STR_ALL_RANGE"):
                    raise SourceError(f"{where}: {d} defined twice")
                seen[d] = where
    missing = [i for i in range(count) if i not in names]
    if missing:
        raise SourceError(f"{path}: ids without a name: {', '.join(map(str, missing))}")
    return names, ranges


def load(root):
    src = os.path.join(root, "resources", "strings")
    tables = [load_language(os.path.join(src, lang + ".txt")) for lang in LANGS]
    count = len(tables[0])
    for lang, t in zip(LANGS, tables):
        if len(t) < count:
            raise SourceError(f"{src}/{lang}.txt: no text for ids {len(t)}..{count - 1} (en has {count})")
        if len(t) > count:
            raise SourceError(f"{src}/{lang}.txt: ids {count}..{len(t) - 1} are not in en.txt")
    names, ranges = load_names(os.path.join(src, "names.txt"), count)
    return tables, names, ranges


def table_text(tables):
    out = []
    count = len(tables[0])
    for first in range(0, count, 2):
        for sid in range(first, min(first + 2, count)):
            for t in tables:
                out.append(t[sid])
    return "\n".join(out) + "\n"


def header_text(names, ranges):
    lines = [
        "// Generated by tools/gen_strings.py from resources/strings/names.txt;",
        "// do not edit. The named ids of the string table, and the ranges code",
        "// indexes into (through str_at()).",
        "#pragma once",
        "",
        "// A string id. An int does not convert to it, so that every id in code",
        "// is a name; STR_NONE stands for \"no text\".",
        "enum StrId : int {",
        "  STR_NONE = -1,",
    ]
    lines += [f"  {names[i]} = {i}," for i in sorted(names)]
    for name, first, last in ranges:
        lines.append(f"  {name}_FIRST = {names[first]},")
        lines.append(f"  {name}_LAST = {names[last]},")
    lines += [
        "};",
        "",
        f"inline constexpr int STRING_COUNT = {len(names)};",
        "",
        "// The ids first..last, both included; a range-for walks them.",
        "struct StrRange {",
        "  StrId first;",
        "  StrId last;",
        "};",
        f"inline constexpr StrRange STR_ALL_RANGE{{{names[0]}, {names[len(names) - 1]}}};",
    ]
    lines += [f"inline constexpr StrRange {n}_RANGE{{{n}_FIRST, {n}_LAST}};" for n, _, _ in ranges]
    return "\n".join(lines) + "\n"


def defined_names(names, ranges):
    out = {"STR_NONE", "STR_ALL_RANGE"}
    out.update(names.values())
    for n, _, _ in ranges:
        out.update({n + "_FIRST", n + "_LAST", n + "_RANGE"})
    return out


def unknown_uses(root, known):
    """[(path, line, name)] for every STR_ name used under the scanned folders
    that the table does not define."""
    found = []
    for top in SCAN_DIRS:
        for dirpath, dirnames, files in os.walk(os.path.join(root, top)):
            dirnames[:] = sorted(d for d in dirnames
                                 if os.path.relpath(os.path.join(dirpath, d), root) not in SCAN_SKIP)
            for fn in sorted(files):
                if not fn.endswith(SCAN_EXTS):
                    continue
                path = os.path.join(dirpath, fn)
                with open(path, encoding="utf-8", errors="replace") as f:
                    for lineno, line in enumerate(f, 1):
                        for name in USE_RE.findall(line):
                            if name not in known:
                                found.append((os.path.relpath(path, root), lineno, name))
    return found


def write_if_changed(path, text):
    try:
        with open(path, encoding="utf-8", newline="") as f:
            if f.read() == text:
                return False
    except FileNotFoundError:
        pass
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path + ".tmp", "w", encoding="utf-8", newline="\n") as f:
        f.write(text)
    os.replace(path + ".tmp", path)
    return True


def check(root, tables, names, ranges):
    """The problems --check reports, as lines."""
    problems = []
    committed = os.path.join(root, "resources", "strings.txt")
    try:
        with open(committed, encoding="utf-8", newline="") as f:
            stale = f.read() != table_text(tables)
    except FileNotFoundError:
        stale = True
    if stale:
        problems.append("resources/strings.txt does not match the language sources; run tools/gen_strings.py")
    for path, lineno, name in unknown_uses(root, defined_names(names, ranges)):
        problems.append(f"{path}:{lineno}: {name} is not a string id (resources/strings/names.txt)")
    return problems


def main(argv=None):
    default_root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--root", default=default_root, help="the checkout (default: this tool's)")
    ap.add_argument("--header", help="write the header of named ids here")
    ap.add_argument("--table", help="write the table here instead of resources/strings.txt")
    ap.add_argument("--check", action="store_true", help="verify only; write nothing")
    args = ap.parse_args(argv)
    try:
        tables, names, ranges = load(args.root)
    except (SourceError, OSError) as e:
        print(f"gen_strings: {e}", file=sys.stderr)
        return 1
    if args.check:
        problems = check(args.root, tables, names, ranges)
        for p in problems:
            print(f"gen_strings: {p}", file=sys.stderr)
        return 1 if problems else 0
    if args.header:
        write_if_changed(args.header, header_text(names, ranges))
    if args.table or not args.header:
        dest = args.table or os.path.join(args.root, "resources", "strings.txt")
        write_if_changed(dest, table_text(tables))
    return 0


if __name__ == "__main__":
    sys.exit(main())
