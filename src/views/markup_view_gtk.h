// SPDX-License-Identifier: GPL-3.0-or-later
// Draws parsed markup into a read-only text view: text tags for the styles,
// tab stops measured with Pango for tables, the pointer cursor over links and
// clicks on links.
#pragma once

#include <gtk/gtk.h>

#include <string>
#include <string_view>
#include <vector>

#include "markup/markup.h"

// What a link click does, supplied by the window.
struct MarkupViewCallbacks {
  void* data = nullptr;
  // A password link was clicked: show the decoded password.
  void (*reveal_password)(const char* password, void* data) = nullptr;
  // Any other link: open the target (the window copies the item's password
  // first and opens the address).
  void (*open_link)(const char* target, void* data) = nullptr;
};

// Creates the text tags ("f0".."f7", "link", "find") in the view's tag table
// and connects the pointer and click handlers. Call once per view.
void markup_view_init(GtkTextView* view, const MarkupViewCallbacks& callbacks);
// Renders the markup text (nullptr empties the buffer). With the search
// results selected, occurrences of the search text get the "find" tag.
void markup_render(GtkTextView* view, const char* text);
// The links of the text shown (object data "links" of the view).
const std::vector<MarkupLink>* markup_view_links(GtkTextView* view);
// The link whose text covers character offset `offset`, or nullptr.
const MarkupLink* markup_view_link_at(GtkTextView* view, int offset);
// Acts on a click at character offset `offset` as a button-1 release does:
// returns 1 when a link was followed, 0 when there is none there.
int markup_view_click(GtkTextView* view, int offset);
// Tab stops (pixels) of a table block's text, measured in "Sans Bold 10"
// with a layout of the view.
std::vector<int> markup_view_tab_stops(GtkTextView* view, std::string_view block);
