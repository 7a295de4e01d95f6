#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Rewrites string ids written as numbers into their names (one-off tool).

Run from anywhere; it edits the checkout it sits in:

    tools/name_string_ids.py            rewrite, then list what is left
    tools/name_string_ids.py --report   list what is left, change nothing

Every id it meets must have a name in resources/strings/names.txt first (a
number without one is listed, not rewritten). It rewrites, in every .cc/.h
under src, server, tests, bench and fuzz:
  - the id arguments of the lookups and of the helpers that take an id
    (CALLS): 27 -> STR_CANCEL, -1 -> STR_NONE, "c ? 285 : 284" -> names in
    both branches, "63 + i" -> str_at(STR_DUE_MOVE_RANGE, i);
  - tables, containers and constants of ids (ARRAYS, CONTAINERS, SCALARS,
    TABLES, FIELDS), functions that return ids (RETURNS), id variables
    (VARS) and parameters (PARAMS), loops over ids (the whole table or a
    named range), local enums that only named ids (ALIASES);
  - the extra_texts roles: extra_text(EXTRA_X) -> ui_text(STR_X),
    extra_text_id(EXTRA_X) -> STR_X, extra_format -> ui_format, and the
    include of support/extra_texts.h;
  - a few one-off spots (EXACT), each listed when no file holds it;
and rewraps the lines it lengthened past 120 columns (clang-format, when
installed). In tests/e2e/journeys.py every parameter that reaches S() holds
an id (found through the calls that pass it on), so the numbers given to
those functions, to their defaults and in MENU_BAR and the tour's rows
become names: S(307) -> S("STR_APP_NAME").

It cannot know a number's meaning where no rule names the spot: an id kept
in a variable, struct or container of its own, arithmetic other than
"first + index", a comparison outside a ternary. The compiler finds most of
those (an int does not convert to StrId); comparisons with an int compile
and need a look. Running it twice changes nothing the second time.
"""
import ast
import difflib
import os
import re
import shutil
import subprocess
import sys

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
CXX_DIRS = ["src", "server", "tests", "bench", "fuzz"]
PY_FILES = ["tests/e2e/journeys.py"]

# Call name -> the argument positions that are string ids. A tuple entry
# (guard, positions) applies when the guard matches the first argument and
# the argument count (a regex on "<count>:<first argument>").
CALLS = {
    "ui_string": [0], "ui_text": [0], "ui_string_line": [0], "ui_format": [0], "ui_vformat": [0],
    "ui_plural": [0], "ui_plural_format": [0], "ui_string_in": [1], "ui_plural_in": [1],
    "show_message": [0, 1], "show_info": [0, 1], "show_message_text": [0], "show_info_text": [0],
    "ask_yes_no": [0, 2, 3, 4], "ask_yes_no_text": [1, 2, 3], "show_copyable": [0],
    "dialog_new": [0], "dialog_add_button": [1], "form_label_new": [0], "count_unit_label_new": [0],
    "form_row": [2], "button_new": [0], "set_accessible_name": [1],
    "run_with_progress": [0, 1], "run_sliced": [0, 1],
    "password_prompt": [0, 1, 2], "password_prompt_simple": [0, 1, 2],
    "command_menu_item": [2], "command_tool_button": [2], "titled_menu": [1],
    "extra_format": [0], "text_row": [2], "message_box": [1],
    "export_file_target": [0], "export_sliced": [0], "export_done": [1], "export_command": [2],
    # Local helpers of the window, the dialogs and the detail text.
    "text_of": [0], "label_line": [0], "add_item": [(r"4:menu$", [1])], "toggle_column": [1], "add_column": [1],
    "attach_button": [2], "build_rows": [5], "radio": [1], "set_label": [1],
    "ask": [(r"4:-?\d", [0, 1])],
    "label": [(r"1:", [0])],
    "labelled": [(r"[34]:&", [1]), (r"4:[^&]", [2])],
    "message": [(r"2:io$", [1])],
    "add": [(r"3:CMD_", [1])],
    # Test helpers.
    "L": [0], "line_of": [0], "row": [(r"2:\d", [0])], "titled": [1], "message_seen": [0],
    "open_menu": [2], "button_labelled": [1], "label_text_of": [0],
}
# A constructor call "StepProgress name(title, label)".
CTOR_RE = re.compile(r"\bStepProgress\s+\w+\s*\(")

# Functions whose parameter of that name holds an id: "int x" -> "StrId x".
PARAMS = {
    "labelled": ["id", "label_id"], "label_line": ["id"], "label": ["id"], "text_of": ["id"],
    "titled_menu": ["label"], "run_sliced": ["title_id", "label_id"], "add_item": ["label_id"],
    "toggle_column": ["header_id"], "build_rows": ["list_id"], "attach_button": ["label_id"],
    "add_column": ["header_id"], "text_row": ["text_id"], "radio": ["label_id"], "set_label": ["id"],
    "ask": ["headline", "text"],
    "message": ["id"], "show_startup_message": ["id"], "export_file_target": ["title"],
    "export_sliced": ["title"], "export_done": ["title"], "export_command": ["title"],
    "L": ["id"], "line_of": ["id"], "row": ["id"], "titled": ["id"], "message_seen": ["title_id"],
    "open_menu": ["label_id"], "button_labelled": ["label_id"], "label_text_of": ["id"],
}
# Functions that return an id: the return type and every "return N".
RETURNS = ["type_name_id", "import_title", "list_type_label", "command_label", "error_message_id"]
# Variables of a function that hold ids: "int v = N" and "v = N".
VARS = {"reminder_text": ["id"], "export_target": ["id"], "import_files_into": ["title"],
        "show_startup_message": ["id"]}
# Arrays of ids, by name: "const int k[] = {...}" and "for (int x : k)".
ARRAYS = ["kFixedText", "kWeekdayIds", "kListTypeLabels", "titles", "kDefaultTags", "kUnitIds",
          "kDayIds", "ids", "kPluralIds", "kHeaderIds", "kEllipsisIds"]
# Containers of ids in the tests, by name: the key or element is an id.
CONTAINERS = ["kConversions", "kLists", "kMultiLine", "kInMarkup", "kSameAsEnglish"]
# Constants holding one id.
SCALARS = ["kSaveFailedId", "kKeepEditingId", "kDiscardId"]
# Struct tables: type -> the fields that are ids; every innermost brace
# group in "const Type name[...] = {...}" is a row.
TABLES = {"Command": [1], "MenuEntry": [1], "AddressRow": [0]}
# Struct fields that hold ids, set by name: "r.title_id = 50;".
FIELDS = ["title_id", "accept_id", "label_id", "string_id", "header_id"]
# Enumerations that only gave ids local names: removed, their names replaced.
ALIASES = {"MSG_WRONG_PASSWORD", "MSG_CONFIRM_DIFFERS", "MSG_CREATE_FAILED", "MSG_NEW_PASSWORD_RULES",
           "MSG_NO_REPO_ROOT", "MSG_MOUNT_ERROR"}
# One-off spots: (old, new); each is reported when no file holds it.
EXACT = [
    # commands.cc: the menu entries and the menu bar and toolbar tables.
    ("  int label;    // -1: the command's own label", "  StrId label;  // STR_NONE: the command's own label"),
    ("  struct {\n    int label;\n    const MenuEntry* entries;", "  struct {\n    StrId label;\n    const MenuEntry* entries;"),
    ("  const struct {\n    int id, label;\n  } buttons[]", "  const struct {\n    int id;\n    StrId label;\n  } buttons[]"),
    ("auto add = [&](int id, int label, int arg)", "auto add = [&](int id, StrId label, int arg)"),
    # A country's name is the id at its index.
    ("ui_string(kNoCountry)", "ui_string(str_at(STR_COUNTRY_RANGE, kNoCountry))"),
    ("ui_string(sorted[i])", "ui_string(str_at(STR_COUNTRY_RANGE, sorted[i]))"),
    # The window's and the tests' startup message callbacks.
    ("io.show_message = [](int id) {", "io.show_message = [](StrId id) {"),
    ("s.show_message = [this](int id) {", "s.show_message = [this](StrId id) {"),
    ("  std::vector<int> messages;", "  std::vector<StrId> messages;"),
    ("  std::vector<int> chooser_titles;", "  std::vector<StrId> chooser_titles;"),
    # The dialog scripts of the window tests: {title id, message box?, act}.
    ("struct Step {\n  int title_id;", "struct Step {\n  StrId title_id;"),
    # The extra_texts formatting helper is ui_format under another name.
    ("std::string extra_format(int id, ...) {\n  va_list ap;\n  va_start(ap, id);\n"
     "  std::string s = vformat(extra_text(id), ap);\n  va_end(ap);\n  return s;\n}\n\n", ""),
]

# The same for the journeys.
PY_EXACT = [('"the prompt %d', '"the prompt %s')]
# Tables of ids in the journeys, by name: every number in them is an id.
PY_TABLES = ["MENU_BAR"]

NUM_RE = re.compile(r"-?\d+\Z")
COLUMNS = 120
CLANG_STYLE = "{BasedOnStyle: Google, ColumnLimit: %d, SortIncludes: false}" % COLUMNS


def load_names():
    names, ranges = {}, {}
    with open(os.path.join(ROOT, "resources", "strings", "names.txt"), encoding="utf-8") as f:
        for raw in f:
            line = raw.split("#", 1)[0].split()
            if not line:
                continue
            if line[0] == "range":
                ranges[int(line[2])] = line[1]
                LASTS[line[1]] = int(line[3])
            else:
                names[int(line[0])] = line[1]
    return names, ranges


LASTS = {}
NAMES, RANGES = load_names()


class Edits:
    """Replacements on one text, applied together (none may overlap)."""

    def __init__(self, text):
        self.text = text
        self.spans = []

    def add(self, start, end, new):
        if self.text[start:end] == new:
            return
        for s, e, _ in self.spans:
            if start < e and s < end:
                return  # an enclosing rule already rewrote it
        self.spans.append((start, end, new))

    def apply(self):
        out = self.text
        for s, e, new in sorted(self.spans, reverse=True):
            out = out[:s] + new + out[e:]
        return out


def mask(text, python=False):
    """The text with comments and string and character literals blanked, so
    that searches see code only; offsets stay those of the text."""
    out = list(text)
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if python and c == "#" or not python and text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
        elif not python and text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
        elif c in "\"'":
            quote = text[i:i + 3] if python and text[i:i + 3] in ('"""', "'''") else c
            if not python and c == "'" and i > 0 and (text[i - 1].isalnum()):
                i += 1  # a digit separator
                continue
            if not python and c == '"' and i > 0 and text[i - 1] == "R":
                j = text.find(")", i)
                delim = text[i + 1:text.find("(", i)]
                j = text.find(")" + delim + '"', i) + len(delim) + 2
            else:
                j = i + len(quote)
                while j < n and not text.startswith(quote, j):
                    j += 2 if text[j] == "\\" else 1
                j += len(quote)
            # Keep the quotes so that the literal stays one token.
            for k in range(i + 1, min(j, n) - 1):
                if out[k] != "\n":
                    out[k] = " "
            i = j
            continue
        else:
            i += 1
            continue
        for k in range(i, j):
            if out[k] != "\n":
                out[k] = " "
        i = j
    return "".join(out)


def split_args(m, open_at):
    """[(start, end)] of the arguments of the call whose "(" is at open_at,
    and the position after its ")"; None when unbalanced."""
    depth, start, args = 0, open_at + 1, []
    for i in range(open_at, len(m)):
        c = m[i]
        if c in "([{":
            depth += 1
        elif c in ")]}":
            depth -= 1
            if depth == 0:
                args.append((start, i))
                return args, i + 1
        elif c == "," and depth == 1:
            args.append((start, i))
            start = i + 1
        elif c == ";" and depth <= 1:
            return None
    return None


def trimmed(text, s, e):
    while s < e and text[s].isspace():
        s += 1
    while e > s and text[e - 1].isspace():
        e -= 1
    return s, e


def top_level(m, s, e):
    """The mask of [s, e) with everything inside brackets blanked."""
    out, depth = [], 0
    for c in m[s:e]:
        if c in "([{":
            depth += 1
            out.append(c)
        elif c in ")]}":
            depth -= 1
            out.append(c)
        else:
            out.append(c if depth == 0 else " ")
    return "".join(out)


class Converter:
    def __init__(self, path, text, python=False):
        self.path, self.text, self.python = path, text, python
        self.m = mask(text, python)
        self.edits = Edits(text)
        self.left = []  # (offset, what) not converted

    def name(self, n):
        if n == -1:
            return "STR_NONE"
        name = NAMES.get(n)
        if name is None:
            return None
        return f'"{name}"' if self.python else name

    def line_of(self, offset):
        return self.text.count("\n", 0, offset) + 1

    def id_expr(self, s, e):
        """Rewrites the id expression at [s, e)."""
        s, e = trimmed(self.text, s, e)
        if s >= e:
            return
        expr = self.text[s:e]
        if NUM_RE.match(expr):
            new = self.name(int(expr))
            if new:
                self.edits.add(s, e, new)
            else:
                self.left.append((s, f"{expr} is not an id"))
            return
        top = top_level(self.m, s, e)
        r = re.match(r"(\d+)\s*\+\s*", top)
        if r and not self.python:
            first = int(r.group(1))
            if first in RANGES:
                rest = expr[r.end():]
                # "160 + f - 1": the index is what follows the first id.
                self.edits.add(s, e, f"str_at({RANGES[first]}_RANGE, {rest})")
            else:
                self.left.append((s, f"{expr}: {first} starts no range"))
            return
        # Literals in the branches of a ternary and in its comparisons.
        for lit in re.finditer(r"(?<=[?:])(?<!::)\s*(-?\d+)\b(?!\s*[-+*/.<>=])", top):
            new = self.name(int(lit.group(1)))
            if new:
                self.edits.add(s + lit.start(1), s + lit.end(1), new)
        # "list_id == 154": a comparison with an operand named as an id.
        for lit in re.finditer(r"\b\w*(?:_id|Id|label)\s*[=!]=\s*(\d+)\b", top):
            self.edits.add(s + lit.start(1), s + lit.end(1), self.name(int(lit.group(1))) or lit.group(1))
        for lit in re.finditer(r"(?<![\w.\[<>=&|] )(?<![\w.\[<>=&|])\d+\b(?![.\]])(?!\s*[<>=&|?])", top):
            if not any(a <= s + lit.start() < b for a, b, _ in self.edits.spans):
                self.left.append((s + lit.start(), f"{expr}: a number left"))
                break

    def calls(self):
        names = "|".join(sorted(CALLS, key=len, reverse=True))
        receiver = r"(?:(?<=\.)|(?<![\w.>]))" if self.python else r"(?<![\w.>:])"
        for call in re.finditer(receiver + r"(" + names + r")\s*\(", self.m):
            rules = CALLS[call.group(1)]
            parsed = split_args(self.m, call.end() - 1)
            if not parsed:
                continue
            args, _ = parsed
            first = self.m[slice(*trimmed(self.m, *args[0]))] if args else ""
            if re.match(r"\s*(const\s+)?(int|StrId|auto|std::\w+|GtkWidget|char)\b", first):
                continue  # a definition or declaration
            positions = []
            for rule in rules:
                if isinstance(rule, tuple):
                    if re.match(rule[0], f"{len(args)}:{first}"):
                        positions += rule[1]
                else:
                    positions.append(rule)
            for p in positions:
                if p < len(args):
                    self.id_expr(*args[p])
        for ctor in CTOR_RE.finditer(self.m):
            parsed = split_args(self.m, ctor.end() - 1)
            if parsed:
                for p in (0, 1):
                    if p < len(parsed[0]):
                        self.id_expr(*parsed[0][p])

    def params(self):
        for fn, pnames in PARAMS.items():
            for d in re.finditer(r"(?<![\w.>])" + re.escape(fn) + r"\s*\(", self.m):
                parsed = split_args(self.m, d.end() - 1)
                if not parsed:
                    continue
                for s, e in parsed[0]:
                    p = re.match(r"\s*int\s+(\w+)\b", self.m[s:e])
                    if p and p.group(1) in pnames:
                        self.edits.add(s + p.start() + len(self.m[s:e]) - len(self.m[s:e].lstrip()),
                                       s + p.start(1) - 1, "StrId")

    def body(self, fn):
        """[(start, end)] of the bodies of fn's definitions."""
        out = []
        for d in re.finditer(r"\b" + re.escape(fn) + r"\s*\(", self.m):
            parsed = split_args(self.m, d.end() - 1)
            if not parsed:
                continue
            after = parsed[1]
            b = re.match(r"\s*(const\s*)?\{", self.m[after:])
            if not b:
                continue
            open_at = after + b.end() - 1
            depth = 0
            for i in range(open_at, len(self.m)):
                if self.m[i] == "{":
                    depth += 1
                elif self.m[i] == "}":
                    depth -= 1
                    if depth == 0:
                        out.append((d.start(), open_at, i))
                        break
        return out

    def returns(self):
        for fn in RETURNS:
            for start, open_at, close in self.body(fn):
                head = self.m[:start]
                t = re.search(r"\bint(\s+)$", head)
                if t:
                    self.edits.add(t.start(), t.start() + 3, "StrId")
                for r in re.finditer(r"\breturn\s+([^;]+);", self.m[open_at:close]):
                    self.id_expr(open_at + r.start(1), open_at + r.end(1))
        for fn, vars_ in VARS.items():
            for _, open_at, close in self.body(fn):
                seg = self.m[open_at:close]
                for v in vars_:
                    for a in re.finditer(r"(\bint\s+)?\b" + v + r"\s*=(?!=)\s*([^;]+);", seg):
                        if a.group(1):
                            self.edits.add(open_at + a.start(1), open_at + a.start(1) + 3, "StrId")
                        self.id_expr(open_at + a.start(2), open_at + a.end(2))
                    for c in re.finditer(r"\b" + v + r"\s*[=!]=\s*(\d+)\b", seg):
                        self.id_expr(open_at + c.start(1), open_at + c.end(1))

    def tables(self):
        for name in ARRAYS:
            for a in re.finditer(r"\b(?:static\s+)?(?:const|constexpr)\s+(int)\s+" + name + r"\s*\[\s*\w*\s*\]\s*=\s*\{", self.m):
                self.edits.add(a.start(1), a.end(1), "StrId")
                parsed = split_args(self.m, a.end() - 1)
                for s, e in parsed[0] if parsed else []:
                    self.id_expr(s, e)
            for f in re.finditer(r"\bfor\s*\(\s*(?:const\s+)?(int)\s+\w+\s*:\s*" + name + r"\s*\)", self.m):
                self.edits.add(f.start(1), f.end(1), "StrId")
        for name in SCALARS:
            for a in re.finditer(r"\b(?:const|constexpr)\s+(int)\s+" + name + r"\s*=\s*([^;]+);", self.m):
                self.edits.add(a.start(1), a.end(1), "StrId")
                self.id_expr(a.start(2), a.end(2))
        for typ, fields in TABLES.items():
            for t in re.finditer(r"\b" + typ + r"\s+\w+(?:\s*\[[^\]]*\])+\s*=\s*\{", self.m):
                self.rows(t.end() - 1, fields)
        for f in re.finditer(r"(?:\.|->)(" + "|".join(FIELDS) + r")\s*=(?!=)\s*([^;]+);", self.m):
            self.id_expr(f.start(2), f.end(2))
        # Menu tables of anonymous structs: {label, entries, n} and {command, label}.
        for t in re.finditer(r"\}\s*(menus|buttons)\[\]\s*=\s*\{", self.m):
            self.rows(t.end() - 1, [0] if t.group(1) == "menus" else [1])

    def loops(self):
        """Loops over ids: the whole table, a named range, a list of ids."""
        for f in re.finditer(r"\bfor\s*\(\s*int\s+(id|\w+_id)\s*=\s*0\s*;\s*\1\s*<\s*STRING_COUNT\s*;\s*(?:\1\+\+|\+\+\1)\s*\)",
                             self.m):
            self.edits.add(f.start(), f.end(), f"for (StrId {f.group(1)} : STR_ALL_RANGE)")
        for f in re.finditer(r"\bfor\s*\(\s*int\s+(id|\w+_id)\s*=\s*(\d+)\s*;\s*\1\s*<=\s*(\d+)\s*;\s*(?:\1\+\+|\+\+\1)\s*\)",
                             self.m):
            a, b = int(f.group(2)), int(f.group(3))
            name = RANGES.get(a)
            if name and LASTS[name] == b:
                self.edits.add(f.start(), f.end(), f"for (StrId {f.group(1)} : {name}_RANGE)")
            else:
                self.left.append((f.start(), f"loop over ids {a}..{b}: no range"))
        for f in re.finditer(r"\bfor\s*\(\s*(?:const\s+)?(int)\s+(?:id|\w+_id)\s*:\s*\{", self.m):
            parsed = split_args(self.m, f.end() - 1)
            cells = parsed[0] if parsed else []
            if cells and all(NUM_RE.match(self.m[slice(*trimmed(self.m, a, b))]) for a, b in cells):
                self.edits.add(f.start(1), f.end(1), "StrId")
                for a, b in cells:
                    self.id_expr(a, b)
        # Steps of the dialog scripts: {275, false, [](GtkWindow* w) {...}}.
        if "dialog_script.h" in self.text or "struct Step {" in self.text:
            for st in re.finditer(r"\{\s*(\d+)\s*,\s*(?:true|false)\s*,", self.m):
                self.id_expr(st.start(1), st.end(1))
        # Ids the tests expect: EXPECT_EQ((std::vector<int>{250}), messages).
        for v in re.finditer(r"std::vector<(int)>\s*\{([\d\s,]*)\}\s*\)\s*,\s*(?:\w+\.)?(?:messages|chooser_titles)\b",
                             self.m):
            self.edits.add(v.start(1), v.end(1), "StrId")
            for n in re.finditer(r"\d+", v.group(2)):
                self.id_expr(v.start(2) + n.start(), v.start(2) + n.end())
        for name in CONTAINERS:
            for c in re.finditer(r"std::(set|map)<(std::pair<)?(int)\b[^=]*?\b" + name + r"\s*=\s*\{", self.m):
                self.edits.add(c.start(3), c.end(3), "StrId")
                parsed = split_args(self.m, c.end() - 1)
                for a, b in parsed[0] if parsed else []:
                    a, b = trimmed(self.m, a, b)
                    if a < b and self.m[a] == "{":
                        inner = split_args(self.m, a)
                        if inner and inner[0]:
                            self.id_expr(*inner[0][0])
                    else:
                        self.id_expr(a, b)

    def rows(self, open_at, fields):
        parsed = split_args(self.m, open_at)
        for s, e in parsed[0] if parsed else []:
            s, e = trimmed(self.m, s, e)
            if s < e and self.m[s] == "{":
                inner = split_args(self.m, s)
                if inner and any(self.m[a:b].strip().startswith("{") for a, b in inner[0]):
                    self.rows(s, fields)
                    continue
                cells = inner[0] if inner else []
                sep = cells and self.m[slice(*trimmed(self.m, *cells[0]))] == "SEP"
                for k in fields:
                    if k < len(cells):
                        if sep and self.text[slice(*trimmed(self.text, *cells[k]))] == "0":
                            self.edits.add(*trimmed(self.text, *cells[k]), "STR_NONE")
                        else:
                            self.id_expr(*cells[k])

    def extras(self):
        for x in re.finditer(r"\bextra_text_id\s*\(\s*EXTRA_(\w+)\s*\)", self.m):
            self.edits.add(x.start(), x.end(), "STR_" + x.group(1))
        for x in re.finditer(r"\bextra_text\s*\(", self.m):
            self.edits.add(x.start(), x.end(), "ui_text(")
        for x in re.finditer(r"\bextra_format\s*\(", self.m):
            if not re.match(r"\s*int\b", self.m[x.end():]):
                self.edits.add(x.start(), x.end(), "ui_format(")
        for x in re.finditer(r"\bEXTRA_(?!TEXT_)([A-Z_]+)\b", self.m):
            self.edits.add(x.start(), x.end(), "STR_" + x.group(1))

    def aliases(self):
        for e in re.finditer(r"\n(enum\s*\{([^}]*)\};\n)\n?", self.m):
            members = dict(re.findall(r"(\w+)\s*=\s*(\d+)", e.group(2)))
            if members and set(members) <= ALIASES:
                self.edits.add(e.start() + 1, e.end(), "")
                for name, value in members.items():
                    for u in re.finditer(r"\b" + name + r"\b", self.m):
                        if not e.start() <= u.start() < e.end():
                            self.edits.add(u.start(), u.end(), NAMES[int(value)])

    def journeys(self):
        """The journeys: every parameter that reaches S() holds an id, found
        through the calls that pass it on; numbers given there (or as its
        default) become names."""
        tree = ast.parse(self.text)
        ids, kws = {"S": {0}}, {"S": {"name"}}
        funcs = [n for n in ast.walk(tree) if isinstance(n, ast.FunctionDef)]
        changed = True
        while changed:
            changed = False
            for d in funcs:
                params = [a.arg for a in d.args.args]
                shift = 1 if params[:1] == ["self"] else 0
                for call in (n for n in ast.walk(d) if isinstance(n, ast.Call)):
                    name = call_name(call)
                    passed = [a for i, a in enumerate(call.args) if i in ids.get(name, ())]
                    passed += [k.value for k in call.keywords if k.arg in kws.get(name, ())]
                    for a in passed:
                        if isinstance(a, ast.Name) and a.id in params and a.id not in kws.get(d.name, ()):
                            ids.setdefault(d.name, set()).add(params.index(a.id) - shift)
                            kws.setdefault(d.name, set()).add(a.id)
                            changed = True
        for call in (n for n in ast.walk(tree) if isinstance(n, ast.Call)):
            name = call_name(call)
            for i, a in enumerate(call.args):
                if i in ids.get(name, ()):
                    self.py_number(a)
            for k in call.keywords:
                if k.arg in kws.get(name, ()):
                    self.py_number(k.value)
        for d in funcs:
            params = d.args.args[len(d.args.args) - len(d.args.defaults):]
            for a, default in zip(params, d.args.defaults):
                if a.arg in kws.get(d.name, ()):
                    self.py_number(default)
        for a in (n for n in ast.walk(tree) if isinstance(n, ast.Assign)):
            if any(isinstance(t, ast.Name) and t.id in PY_TABLES for t in a.targets):
                for n in ast.walk(a.value):
                    self.py_number(n)
        # The tour's rows: ("name", title id, how to open ...).
        for k in re.finditer(r'\(\s*"[^"\n]*"\s*,\s*(\d+)\s*,', self.m):
            self.id_expr(k.start(1), k.end(1))

    def py_number(self, node):
        if isinstance(node, ast.Constant) and type(node.value) is int:
            self.id_expr(self.offset(node.lineno, node.col_offset), self.offset(node.end_lineno, node.end_col_offset))

    def offset(self, lineno, col):
        """The text offset of an ast position (a column counts UTF-8 bytes)."""
        starts = getattr(self, "_starts", None)
        if starts is None:
            starts = self._starts = [0] + [m.end() for m in re.finditer("\n", self.text)]
        line = self.text[starts[lineno - 1]:]
        return starts[lineno - 1] + len(line.encode("utf-8")[:col].decode("utf-8"))

    def run(self):
        if self.python:
            self.journeys()
            return
        self.aliases()
        self.extras()
        self.tables()
        self.loops()
        self.returns()
        self.params()
        self.calls()


def call_name(call):
    f = call.func
    return f.id if isinstance(f, ast.Name) else f.attr if isinstance(f, ast.Attribute) else None


def include_fix(text):
    """Drops the extra_texts include; strings.h takes its place."""
    if '#include "support/extra_texts.h"\n' not in text:
        return text
    if '#include "support/strings.h"' in text:
        return text.replace('#include "support/extra_texts.h"\n', "")
    return text.replace('#include "support/extra_texts.h"\n', '#include "support/strings.h"\n')


def include_ids(old, new):
    """A file that now names StrId gets the header that declares it, unless
    it includes that or strings.h already."""
    if "StrId" in old or not re.search(r"\bStrId\b", new):
        return new
    if re.search(r'#include "support/(strings|string_ids)\.h"', new):
        return new
    line = '#include "support/string_ids.h"\n'
    includes = list(re.finditer(r'^#include "[^"]+"\n', new, re.M))
    if includes:
        # In sorted place within the last block of the project's includes.
        block = [includes[-1]]
        for m in reversed(includes[:-1]):
            if m.end() != block[0].start():
                break
            block.insert(0, m)
        at = next((m.start() for m in block if m.group(0) > line), block[-1].end())
        return new[:at] + line + new[at:]
    system = list(re.finditer(r"^#include <[^>]+>\n", new, re.M))
    at = system[-1].end() if system else new.index("#pragma once\n") + len("#pragma once\n")
    return new[:at] + "\n" + line + new[at:]


def unused_vformat(text):
    """Removes the local vformat of handlers_file.cc once nothing calls it."""
    d = re.search(r"std::string vformat\(const char\* format, va_list ap\) \{\n(?:.*\n)*?\}\n\n", text)
    if d and not re.search(r"\bvformat\(", text[:d.start()] + text[d.end():]):
        text = text[:d.start()] + text[d.end():]
    return text


def fold_text_or_empty(text):
    """ui_string(X) ? ui_string(X) : "" is ui_text(X)."""
    return re.sub(r'\bui_string\((STR_\w+)\)\s*\?\s*ui_string\(\1\)\s*:\s*""', r"ui_text(\1)", text)


def reflow(path, old, new):
    """Rewraps the changed lines that grew past the column limit."""
    if not shutil.which("clang-format"):
        return new, []
    old_lines, new_lines = old.split("\n"), new.split("\n")
    long = []
    for tag, _, _, j1, j2 in difflib.SequenceMatcher(None, old_lines, new_lines, autojunk=False).get_opcodes():
        if tag in ("replace", "insert"):
            long += [j + 1 for j in range(j1, j2) if len(new_lines[j]) > COLUMNS]
    if not long:
        return new, []
    cmd = ["clang-format", "--style=" + CLANG_STYLE, "--assume-filename=" + path]
    cmd += [f"--lines={n}:{n}" for n in long]
    done = subprocess.run(cmd, input=new, capture_output=True, text=True)
    return (done.stdout, long) if done.returncode == 0 else (new, long)


def files():
    for top in CXX_DIRS:
        for dirpath, dirnames, names in os.walk(os.path.join(ROOT, top)):
            dirnames.sort()
            for fn in sorted(names):
                if fn.endswith((".cc", ".h")):
                    yield os.path.join(dirpath, fn), False
    for rel in PY_FILES:
        if os.path.exists(os.path.join(ROOT, rel)):
            yield os.path.join(ROOT, rel), True


def main(argv):
    report_only = "--report" in argv
    found_exact = set()
    changed, left = [], []
    for path, python in files():
        with open(path, encoding="utf-8") as f:
            text = f.read()
        new = text
        if python:
            for old, rep in PY_EXACT:
                new = new.replace(old, rep)
        else:
            for i, (old, rep) in enumerate(EXACT):
                if old in new:
                    found_exact.add(i)
                    new = new.replace(old, rep)
                elif rep and rep in new:
                    found_exact.add(i)
            new = unused_vformat(include_fix(new))
        conv = Converter(path, new, python)
        conv.run()
        new = conv.edits.apply()
        if not python:
            new = include_ids(text, fold_text_or_empty(new))
            new, _ = reflow(path, text, new)
        rel = os.path.relpath(path, ROOT)
        for offset, what in conv.left:
            left.append(f"{rel}:{conv.line_of(offset)}: {what}")
        if new != text:
            changed.append(rel)
            if not report_only:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(new)
    for i, (old, _) in enumerate(EXACT):
        if i not in found_exact:
            left.append("not found (done already?): " + old.split("\n")[0])
    verb = "would change" if report_only else "changed"
    print(f"name_string_ids: {verb} {len(changed)} files")
    for rel in changed:
        print("  " + rel)
    for line in left:
        print("left: " + line)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
