#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The string table generator: what it rejects in the sources, what --check
reports of the tree, and that the header makes every id in code a name.

Usage: test_gen_strings.py [--cxx COMPILER --include DIR...]; without --cxx
the compile cases are skipped.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import unittest

TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools")
sys.path.insert(0, TOOLS)
import gen_strings  # noqa: E402

CXX = None
INCLUDES = []

LANGS = gen_strings.LANGS
NAMES = "0 STR_OK\n1 STR_CANCEL  # comment\n2 STR_CLOSE\nrange STR_BUTTON 0 1\n"


def write_tree(root, langs=None, names=NAMES, files=None):
    """A checkout with three ids in every language, overridden per case."""
    src = os.path.join(root, "resources", "strings")
    os.makedirs(src)
    texts = {lang: f"# {lang}\n0 ok-{lang}\n1 cancel-{lang}\n2 close-{lang}\n" for lang in LANGS}
    texts.update(langs or {})
    for lang, text in texts.items():
        with open(os.path.join(src, lang + ".txt"), "w", encoding="utf-8") as f:
            f.write(text)
    with open(os.path.join(src, "names.txt"), "w", encoding="utf-8") as f:
        f.write(names)
    for rel, text in (files or {}).items():
        os.makedirs(os.path.dirname(os.path.join(root, rel)), exist_ok=True)
        with open(os.path.join(root, rel), "w", encoding="utf-8") as f:
            f.write(text)


class Sources(unittest.TestCase):
    # (case, language overrides, names, expected error text)
    REJECTED = [
        ("a language misses the last text", {"fr": "0 a\n1 b\n"}, NAMES, "fr.txt: no text for ids 2..2"),
        ("a language misses a text inside", {"de": "0 a\n2 c\n"}, NAMES, "de.txt:2: id 2, expected 1"),
        ("a language has an id en lacks", {"ru": "0 a\n1 b\n2 c\n3 d\n"}, NAMES, "ru.txt: ids 3..3 are not in en.txt"),
        ("an empty text", {"es": "0 a\n1  \n2 c\n"}, NAMES, "es.txt:2: empty text"),
        ("a line without an id", {"en": "0 a\nb\n2 c\n"}, NAMES, "en.txt:2: expected '<id> <text>'"),
        ("a text ending in a lone backslash", {"fr": "0 a\\\n1 b\n2 c\n"}, NAMES, "lone backslash"),
        ("an id without a name", {}, "0 STR_OK\n1 STR_CANCEL\n", "ids without a name: 2"),
        ("a name for an id the table lacks", {}, NAMES + "3 STR_MORE\n", "id 3 is not in the table"),
        ("an id named twice", {}, NAMES + "2 STR_SHUT\n", "id 2 named twice"),
        ("a name given twice", {}, "0 STR_OK\n1 STR_OK\n2 STR_CLOSE\n", "STR_OK defined twice"),
        ("a name without the prefix", {}, "0 OK\n1 STR_CANCEL\n2 STR_CLOSE\n", "names are STR_"),
        ("a name that collides with the sentinel", {}, "0 STR_NONE\n1 STR_CANCEL\n2 STR_CLOSE\n", "STR_NONE defined twice"),
        ("a name that collides with the whole range", {}, "0 STR_ALL_RANGE\n1 STR_CANCEL\n2 STR_CLOSE\n", "defined twice"),
        ("a range past the table", {}, NAMES + "range STR_ALL 1 3\n", "range 1..3 outside the ids 0..2"),
        ("a range the wrong way round", {}, NAMES + "range STR_BACK 2 1\n", "range 2..1 outside"),
        ("a range name that collides with an id", {}, NAMES.replace("STR_CLOSE", "STR_BUTTON_LAST"), "defined twice"),
    ]

    def test_rejected_sources(self):
        for case, langs, names, expected in self.REJECTED:
            with self.subTest(case), tempfile.TemporaryDirectory() as root:
                write_tree(root, langs, names)
                with self.assertRaises(gen_strings.SourceError) as err:
                    gen_strings.load(root)
                self.assertIn(expected, str(err.exception))

    def test_header_names_every_id_and_range(self):
        with tempfile.TemporaryDirectory() as root:
            write_tree(root)
            _, names, ranges = gen_strings.load(root)
            header = gen_strings.header_text(names, ranges)
        for line in ["STR_NONE = -1,", "STR_CANCEL = 1,", "STR_BUTTON_LAST = STR_CANCEL,",
                     "inline constexpr int STRING_COUNT = 3;",
                     "inline constexpr StrRange STR_ALL_RANGE{STR_OK, STR_CLOSE};",
                     "inline constexpr StrRange STR_BUTTON_RANGE{STR_BUTTON_FIRST, STR_BUTTON_LAST};"]:
            self.assertIn(line, header)

    def test_table_interleaves_the_languages_by_pairs_of_ids(self):
        with tempfile.TemporaryDirectory() as root:
            write_tree(root)
            tables, _, _ = gen_strings.load(root)
        lines = gen_strings.table_text(tables).splitlines()
        self.assertEqual(lines[:5], [f"ok-{lang}" for lang in LANGS])
        self.assertEqual(lines[5:10], [f"cancel-{lang}" for lang in LANGS])
        self.assertEqual(lines[10:], [f"close-{lang}" for lang in LANGS])


class Check(unittest.TestCase):
    # (case, files written into the checkout, expected problems)
    CASES = [
        ("a clean tree", {}, []),
        ("a name the table lacks, in C++", {"src/app/x.cc": "ui_string(STR_OK);\nui_string(STR_GONE);\n"},
         ["src/app/x.cc:2: STR_GONE is not a string id"]),
        ("a name the table lacks, in a journey", {"tests/e2e/j.py": 'S("STR_CANCLE")\n'},
         ["tests/e2e/j.py:1: STR_CANCLE is not a string id"]),
        ("range names and the sentinel are known", {"src/a.h": "str_at(STR_BUTTON_RANGE, 1); STR_NONE;\n"}, []),
        ("files outside the scanned kinds are not read", {"src/notes.txt": "STR_GONE\n"}, []),
    ]

    def problems(self, files, table=True):
        with tempfile.TemporaryDirectory() as root:
            write_tree(root, files=files)
            tables, names, ranges = gen_strings.load(root)
            if table:
                with open(os.path.join(root, "resources", "strings.txt"), "w", encoding="utf-8") as f:
                    f.write(gen_strings.table_text(tables))
            return gen_strings.check(root, tables, names, ranges)

    def test_unknown_names(self):
        for case, files, expected in self.CASES:
            with self.subTest(case):
                found = self.problems(files)
                self.assertEqual(len(found), len(expected), found)
                for want, got in zip(expected, found):
                    self.assertIn(want, got)

    def test_stale_committed_table(self):
        found = self.problems({}, table=False)
        self.assertEqual(len(found), 1)
        self.assertIn("resources/strings.txt does not match", found[0])


class StrongType(unittest.TestCase):
    # (case, statement inside a function, compiles)
    CASES = [
        ("a name", "ui_string(STR_OK);", True),
        ("a bare number", "ui_string(26);", False),
        ("an int variable", "int id = 26; ui_string(id);", False),
        ("a name the table lacks", "ui_string(STR_NO_SUCH_TEXT);", False),
        ("an index into a named range", "ui_string(str_at(STR_COUNTRY_RANGE, 3));", True),
        ("the sentinel", "StrId none = STR_NONE; (void)none;", True),
        ("a walk over the whole table", "for (StrId id : STR_ALL_RANGE) ui_string(id);", True),
    ]

    def setUp(self):
        if not CXX:
            self.skipTest("no compiler given")

    def compiles(self, statement):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "case.cc")
            with open(path, "w", encoding="utf-8") as f:
                f.write('#include "support/strings.h"\nvoid f() { ' + statement + " }\n")
            cmd = [CXX, "-std=c++20", "-fsyntax-only", "-Werror"]
            cmd += [f"-I{d}" for d in INCLUDES] + [path]
            return subprocess.run(cmd, capture_output=True).returncode == 0

    def test_only_names_compile(self):
        for case, statement, ok in self.CASES:
            with self.subTest(case):
                self.assertEqual(self.compiles(statement), ok, statement)


if __name__ == "__main__":
    ap = argparse.ArgumentParser()
    ap.add_argument("--cxx")
    ap.add_argument("--include", action="append", default=[])
    args, rest = ap.parse_known_args()
    CXX, INCLUDES = args.cxx, args.include
    unittest.main(argv=[sys.argv[0]] + rest)
