#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The rewrite of string ids given as numbers: what it names, what it leaves
alone and what it lists as left over."""
import os
import sys
import unittest

TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools")
sys.path.insert(0, TOOLS)
import name_string_ids as tool  # noqa: E402


def rewrite(text, python=False):
    conv = tool.Converter("case.py" if python else "case.cc", text, python)
    conv.run()
    return conv.edits.apply(), [what for _, what in conv.left]


class Cxx(unittest.TestCase):
    # (case, source, rewritten)
    CASES = [
        ("a lookup", "ui_string(307);", "ui_string(STR_APP_NAME);"),
        ("the ids among other arguments", "ask_yes_no(214, name, 215, 27, 75);",
         "ask_yes_no(STR_ASK_DELETE_TAG, name, STR_ASK_DELETE_TAG_DETAIL, STR_CANCEL, STR_DELETE);"),
        ("numbers that are not ids stay", "form_row(grid, 2, 241, box); dialog_add_button(d, 34, 1);",
         "form_row(grid, 2, STR_PASSWORD_TITLE, box); dialog_add_button(d, STR_IMPORT_REPOSITORY, 1);"),
        ("the sentinel", "password_prompt_simple(307, 22, -1, &pw);",
         "password_prompt_simple(STR_APP_NAME, STR_ENTER_MASTER_PASSWORD, STR_NONE, &pw);"),
        ("both branches of a choice", "ui_string(r->visible ? 285 : 284);", "ui_string(r->visible ? STR_HIDE : STR_SHOW);"),
        ("an index into a named range", "command_menu_item(w, CMD_MOVE_DUE, 63 + i, i, false);",
         "command_menu_item(w, CMD_MOVE_DUE, str_at(STR_DUE_MOVE_RANGE, i), i, false);"),
        ("a comparison with an id operand", "set_accessible_name(e, list_id == 154 ? 130 : 131);",
         "set_accessible_name(e, list_id == STR_PHONE_KINDS ? STR_ADD_PHONE : STR_ADD_EMAIL);"),
        ("a comparison with anything else stays", "text_of(i == 1 ? 110 : 111);",
         "text_of(i == 1 ? STR_COLUMN_TITLE : STR_DATE);"),
        ("nested lookups", "show_message_text(307, ui_format(386, name));",
         "show_message_text(STR_APP_NAME, ui_format(STR_IMPORT_UNREADABLE, name));"),
        ("numbers in comments and strings stay", 'ui_string(26);  // not 27\nlog("ui_string(27)");',
         'ui_string(STR_OK);  // not 27\nlog("ui_string(27)");'),
        ("a table of ids", "const int kFixedText[4] = {38, 39, 40, 41};",
         "const StrId kFixedText[4] = {STR_ROW_LISTS, STR_ROW_TRASH, STR_ROW_REMINDERS, STR_ROW_SEARCH_RESULTS};"),
        ("struct rows and their separators", "const MenuEntry kM[] = {{CMD_UNDO, -1, 0}, {SEP, 0, 0}, {CMD_X, 89, 0}};",
         "const MenuEntry kM[] = {{CMD_UNDO, STR_NONE, 0}, {SEP, STR_NONE, 0}, {CMD_X, STR_TAG_MENU_NEW_NOTE, 0}};"),
        ("a function returning ids", "int type_name_id(int t) {\n  switch (t) { case 1: return 158; }\n  return 136;\n}",
         "StrId type_name_id(int t) {\n  switch (t) { case 1: return STR_TYPE_TASK; }\n  return STR_TYPE_NOTE;\n}"),
        ("a parameter that holds an id", "void radio(GtkWidget* g, int label_id) {}",
         "void radio(GtkWidget* g, StrId label_id) {}"),
        ("a walk over the table", "for (int id = 0; id < STRING_COUNT; id++) f(id);", "for (StrId id : STR_ALL_RANGE) f(id);"),
        ("a walk over a named range", "for (int id = 97; id <= 105; id++) f(id);",
         "for (StrId id : STR_LIST_NAME_RANGE) f(id);"),
        ("the shared sentences", "show_message_text(245, extra_text(EXTRA_SIGN_IN_DONE));",
         "show_message_text(STR_SYNC_ACCOUNT, ui_text(STR_SIGN_IN_DONE));"),
        ("an id of a shared sentence", "ui_plural_format(extra_text_id(EXTRA_IMPORT_DONE), n);",
         "ui_plural_format(STR_IMPORT_DONE, n);"),
        ("an already named call", "ui_string(STR_OK);", "ui_string(STR_OK);"),
    ]

    def test_rewrites(self):
        for case, source, want in self.CASES:
            with self.subTest(case):
                self.assertEqual(rewrite(source)[0], want)

    # (case, source, what the report says)
    LEFT = [
        ("a number the table lacks", "ui_string(9999);", "9999 is not an id"),
        ("arithmetic other than first + index", "ui_string(base * 2 + 27);", "a number left"),
        ("an index from inside a range", "ui_string(64 + i);", "64 starts no range"),
        ("a loop over ids that no range names", "for (int id = 170; id <= 176; id++) f(id);", "no range"),
    ]

    def test_left_over(self):
        for case, source, want in self.LEFT:
            with self.subTest(case):
                self.assertTrue(any(want in w for w in rewrite(source)[1]), rewrite(source)[1])


class Includes(unittest.TestCase):
    # (case, header before, after the rewrite)
    CASES = [
        ("in sorted place among the project's includes",
         '#pragma once\n#include "app/a.h"\n#include "views/v.h"\nvoid radio(GtkWidget* g, int label_id);\n',
         '#pragma once\n#include "app/a.h"\n#include "support/string_ids.h"\n#include "views/v.h"\n'
         "void radio(GtkWidget* g, StrId label_id);\n"),
        ("after the system includes", "#pragma once\n\n#include <gtk/gtk.h>\n\nvoid radio(GtkWidget* g, int label_id);\n",
         '#pragma once\n\n#include <gtk/gtk.h>\n\n#include "support/string_ids.h"\n\nvoid radio(GtkWidget* g, StrId label_id);\n'),
        ("not twice", '#pragma once\n#include "support/strings.h"\nvoid radio(GtkWidget* g, int label_id);\n',
         '#pragma once\n#include "support/strings.h"\nvoid radio(GtkWidget* g, StrId label_id);\n'),
    ]

    def test_a_file_that_names_the_type_includes_it(self):
        for case, before, want in self.CASES:
            with self.subTest(case):
                after = rewrite(before)[0]
                self.assertEqual(tool.include_ids(before, after), want)


class Journeys(unittest.TestCase):
    SOURCE = '''
def S(name, lang=0):
    return STRINGS[(NAMES[name], lang)]


def answer(o, dlg, button):
    o.wait("push button", S(button), within=dlg).click()


def confirm(o, dlg, button=26):
    answer(o, dlg, button)


class Tour:
    def s(self, sid):
        return S(sid)

    def menu(self, menu_id, item_id):
        return self.s(menu_id), self.s(item_id)


MENU_BAR = [(51, [54, 55])]


def journey():
    answer(o, d, 27)
    confirm(o, d)
    t.menu(52, 181)
    o.wait("menu", S(53, 3), timeout=20)
    tour = [("about", 401, lambda: t.menu(53, 182))]
'''

    def test_parameters_that_reach_S_take_names(self):
        out, left = rewrite(self.SOURCE, python=True)
        for line in ['answer(o, d, "STR_CANCEL")', 'def confirm(o, dlg, button="STR_OK"):',
                     't.menu("STR_MENU_EDIT", "STR_OPTIONS_MENU")', 'S("STR_MENU_HELP", 3), timeout=20)',
                     'MENU_BAR = [("STR_MENU_FILE", ["STR_UNDO", "STR_REDO"])]',
                     '("about", "STR_ABOUT_TITLE", lambda: t.menu("STR_MENU_HELP", "STR_ABOUT"))']:
            self.assertIn(line, out)
        self.assertEqual(left, [])


if __name__ == "__main__":
    unittest.main()
