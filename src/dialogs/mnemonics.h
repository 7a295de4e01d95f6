// SPDX-License-Identifier: GPL-3.0-or-later
// Mnemonics (Alt+letter) for every button, menu item, notebook tab and field
// label, chosen from the text the language gives, so that every language has
// them and no two clash inside one window or one menu.
#pragma once

#include <gtk/gtk.h>

#include <string>
#include <vector>

// Gives every labelled button, check or radio button, menu item, notebook tab
// and label with a mnemonic widget below `root` a mnemonic of its own. A
// window is one scope and every menu shell another (its submenus are scopes
// of their own). Texts that already carry one keep it; the others take the
// first free word initial, then the first free letter or digit. Safe to call
// again after widgets were added or relabelled; buttons relabelled later
// (Show/Hide) get a mnemonic again by themselves.
void assign_mnemonics(GtkWidget* root);

// The text with a mnemonic underscore before the character at byte offset
// `at` (at < 0: none), every literal underscore doubled.
std::string mnemonic_text(const std::string& text, int at);
// The characters a text could take as its mnemonic, best first (word
// initials, other letters, digits), each once: (byte offset, lower case).
std::vector<std::pair<int, gunichar>> mnemonic_candidates(const std::string& text);
// The byte offset of the character `text` should take as its mnemonic given
// the keys already taken in its scope (lower-case code points), or -1.
int mnemonic_pick(const std::string& text, const std::vector<gunichar>& taken);
// The mnemonic key of a text written with underscores (lower case), or 0.
gunichar mnemonic_of(const char* text);
