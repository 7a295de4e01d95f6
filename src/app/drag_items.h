// SPDX-License-Identifier: GPL-3.0-or-later
// Items dragged from the item list onto a tag of the tag tree, within the
// program only: the items' uuids travel as text under the target
// "application/x-ordika-items". On a tag of their own repository they get
// that tag, as the tag assignment gives it; on a tag of another repository
// they are copied there, as a paste does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct MainWindow;

inline constexpr const char kItemsTarget[] = "application/x-ordika-items";

// Makes the item list a drag source and the tag tree a drop site for items
// (added to the tree's drop targets when it has some already).
void drag_items_install(MainWindow* w);

// The uuids of the items, one line each; and back to the slots of the items
// that still exist.
std::string drag_items_encode(const std::vector<int64_t>& slots);
std::vector<int64_t> drag_items_decode(const std::string& text);

// The drop: tags the items of the tag's repository and copies the others
// into it (many under the progress dialog), with one refresh. The number of
// items tagged or copied, or -1 when the id is no real tag, storing failed
// or the copy was cancelled.
int drop_items_on_tag(MainWindow* w, int64_t tag, const std::vector<int64_t>& slots);
