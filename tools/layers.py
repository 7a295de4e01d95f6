#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The folders of src include only the folders below them.

  layers.py          prints the include graph (folder -> folder: includes)
  layers.py --check  exits 1, naming the file, when one includes upward
  layers.py --dot    the graph in Graphviz form
"""
import collections
import os
import re
import sys

# Lowest first; a folder may include only folders before it.
ORDER = ["support", "crypto", "storage", "model", "interchange", "sync",
         "markup", "views", "dialogs", "app", "cli"]
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/', re.M)


def graph():
    rank = {d: i for i, d in enumerate(ORDER)}
    edges, upward = collections.Counter(), []
    for folder in ORDER:
        for dirpath, _, files in os.walk(os.path.join(ROOT, "src", folder)):
            for name in sorted(files):
                if not name.endswith((".cc", ".h")):
                    continue
                path = os.path.join(dirpath, name)
                with open(path, encoding="utf-8") as f:
                    for target in INCLUDE.findall(f.read()):
                        if target not in rank or target == folder:
                            continue
                        edges[(folder, target)] += 1
                        if rank[target] > rank[folder]:
                            upward.append(f"{os.path.relpath(path, ROOT)} includes {target}/")
    return edges, upward


def main(argv):
    edges, upward = graph()
    if "--dot" in argv:
        print("digraph src {")
        for (a, b), n in sorted(edges.items()):
            print(f'  {a} -> {b} [label="{n}"];')
        print("}")
    elif "--check" not in argv:
        for (a, b), n in sorted(edges.items(), key=lambda e: (ORDER.index(e[0][0]), ORDER.index(e[0][1]))):
            print(f"{a} -> {b}: {n}")
    for line in upward:
        print("upward: " + line, file=sys.stderr)
    return 1 if upward else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
