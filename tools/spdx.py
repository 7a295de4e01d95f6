#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Every source file of the project carries the licence's SPDX line.

  spdx.py --check   lists the files without it (exit 1 when any)
  spdx.py --fix     adds it: first line, or the line after a "#!" line
"""
import os
import subprocess
import sys

LINE = "SPDX-License-Identifier: GPL-3.0-or-later"
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SLASHES = (".cc", ".h", ".c", ".cpp")
HASHES = (".py", ".sh", ".cmake", ".txt", ".cfg")
# Files of other people (corpora, samples) and data keep their own terms.
SKIP_DIRS = ("tests/data/", "resources/")


def comment_for(path):
    name = os.path.basename(path)
    if path.endswith(SLASHES):
        return "// " + LINE
    if name == "CMakeLists.txt" or path.endswith(HASHES) or name == "run" or "." not in name:
        return "# " + LINE
    return None


def sources():
    out = subprocess.run(["git", "-C", ROOT, "ls-files"], capture_output=True, text=True, check=True).stdout
    for path in out.splitlines():
        if path.startswith(SKIP_DIRS) or path == "COPYING":
            continue
        full = os.path.join(ROOT, path)
        if not os.path.isfile(full) or os.path.islink(full):
            continue
        if path.endswith(".txt") and os.path.basename(path) != "CMakeLists.txt":
            continue
        if comment_for(path) and (path.endswith(SLASHES + HASHES) or path.startswith((".ci/", "tools/"))
                                  or os.path.basename(path) == "CMakeLists.txt"):
            yield path, full


def has_line(text):
    return LINE in "\n".join(text.splitlines()[:3])


def main(argv):
    fix = "--fix" in argv
    missing = []
    for path, full in sources():
        with open(full, encoding="utf-8") as f:
            text = f.read()
        if has_line(text):
            continue
        missing.append(path)
        if fix:
            line = comment_for(path) + "\n"
            if text.startswith("#!"):
                nl = text.index("\n") + 1
                text = text[:nl] + line + text[nl:]
            else:
                text = line + text
            with open(full, "w", encoding="utf-8") as f:
                f.write(text)
    if not fix and missing:
        print("without the SPDX line:\n  " + "\n  ".join(missing))
        return 1
    if fix:
        print(f"added to {len(missing)} files")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
