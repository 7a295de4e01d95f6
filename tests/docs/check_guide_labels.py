#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The user guide names the program's menus, buttons and fields exactly as
the program labels them, in each language: every step of a
<span class="menu">File &gt; Quit</span> path and every
<span class="gui">Save</span> is a text of the string table in the page's
language (a command's ellipsis may be left out), and every menu path
leads from a menu title. Prints one line per fault and exits 1 when there
is any. Arguments: the guide folder and the folder of the language
sources."""

import html
import os
import re
import sys

LANGS = ["en", "fr", "es", "de", "ru"]
SPAN = re.compile(r'<span class="(menu|gui)">(.*?)</span>', re.S)


def load_texts(strings_dir, lang):
    """Every line of every text of the language (list texts and plural
    forms give one label per line)."""
    texts = set()
    with open(os.path.join(strings_dir, lang + ".txt"), encoding="utf-8") as f:
        for line in f:
            m = re.match(r"(\d+)[ \t](.*)", line.rstrip("\n"))
            if not m:
                continue
            for part in re.split(r"(?<!\\)\|", m.group(2)):
                part = part.replace("\\|", "|").replace("\\\\", "\\").strip()
                texts.add(part)
                if part.endswith("…"):
                    texts.add(part[:-1])
    return texts


def menu_titles(strings_dir, lang):
    """The menu bar's titles, the tag tree's fixed rows that open menus, and
    the submenus of the popup menus."""
    names = {}
    with open(os.path.join(strings_dir, "names.txt"), encoding="utf-8") as f:
        for line in f:
            parts = line.split("#", 1)[0].split()
            if len(parts) == 2 and parts[0].isdigit():
                names[parts[1]] = int(parts[0])
    by_id = {}
    with open(os.path.join(strings_dir, lang + ".txt"), encoding="utf-8") as f:
        for line in f:
            m = re.match(r"(\d+)[ \t](.*)", line.rstrip("\n"))
            if m:
                by_id[int(m.group(1))] = m.group(2)
    wanted = ["STR_MENU_FILE", "STR_MENU_EDIT", "STR_MENU_HELP", "STR_ROW_LISTS", "STR_IMPORT", "STR_EXPORT"]
    return {by_id[names[n]] for n in wanted}


def check(guide_dir, strings_dir):
    faults = []
    for lang in LANGS:
        page = os.path.join(guide_dir, lang, "index.html")
        if not os.path.exists(page):
            faults.append("%s: no guide" % lang)
            continue
        texts = load_texts(strings_dir, lang)
        titles = menu_titles(strings_dir, lang)
        with open(page, encoding="utf-8") as f:
            body = f.read()
        for kind, inner in SPAN.findall(body):
            label = " ".join(html.unescape(re.sub(r"<[^>]+>", "", inner)).split())
            steps = [s.strip() for s in label.split(">")] if kind == "menu" else [label]
            for s in steps:
                if s not in texts:
                    faults.append("%s: %s %r is no label of the program" % (lang, kind, s))
            if kind == "menu" and len(steps) > 1 and steps[0] not in titles:
                faults.append("%s: menu path %r starts at no menu" % (lang, label))
    return faults


def main():
    faults = check(sys.argv[1], sys.argv[2])
    for f in faults:
        print(f)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
