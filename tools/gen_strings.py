#!/usr/bin/env python3
"""Builds resources/strings.txt from the per-language sources.

Each source resources/strings/<code>.txt holds one line per string id,
"<id> <entry>" (one space, or a tab), ids from 0 in order, the same number in
every language (STRING_COUNT in src/support/strings.h); the entry is already in the table's
text form ("|" line break, backslash escapes). Lines starting with "#" and
blank lines are comments. The output interleaves the languages as the program
reads them: group g = id 2g in en, fr, es, de, ru, then id 2g + 1.
"""
import os
import sys

LANGS = ["en", "fr", "es", "de", "ru"]


def string_count(root):
    with open(os.path.join(root, "src", "support", "strings.h"), encoding="utf-8") as f:
        for line in f:
            parts = line.split()
            if len(parts) >= 3 and parts[0] == "STRING_COUNT" and parts[1] == "=":
                return int(parts[2].rstrip(","))
    sys.exit("strings.h: STRING_COUNT not found")


COUNT = 0


def load(path):
    texts = []
    with open(path, encoding="utf-8") as f:
        for lineno, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            if "\r" in line:
                sys.exit(f"{path}:{lineno}: carriage return")
            num = line.split(None, 1)[0] if line.split() else ""
            text = line[len(num) + 1:]
            if not num.isdigit() or len(line) <= len(num) or line[len(num)] not in " \t":
                sys.exit(f"{path}:{lineno}: expected '<id> <text>'")
            if int(num) != len(texts):
                sys.exit(f"{path}:{lineno}: id {num}, expected {len(texts)}")
            if not text.strip():
                sys.exit(f"{path}:{lineno}: empty text")
            trailing = len(text) - len(text.rstrip("\\"))
            if trailing % 2:
                sys.exit(f"{path}:{lineno}: text ends in a lone backslash")
            texts.append(text)
    if len(texts) != COUNT:
        sys.exit(f"{path}: {len(texts)} ids, expected {COUNT}")
    return texts


def main():
    global COUNT
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    COUNT = string_count(root)
    src = os.path.join(root, "resources", "strings")
    tables = [load(os.path.join(src, lang + ".txt")) for lang in LANGS]
    out = []
    for first in range(0, COUNT, 2):
        for sid in (first, first + 1):
            if sid >= COUNT:
                break
            for t in tables:
                out.append(t[sid])
    dest = os.path.join(root, "resources", "strings.txt")
    with open(dest + ".tmp", "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(out) + "\n")
    os.replace(dest + ".tmp", dest)
    print(f"wrote {dest}: {len(out)} entries")


if __name__ == "__main__":
    main()
