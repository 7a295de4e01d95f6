// SPDX-License-Identifier: GPL-3.0-or-later
// The back/forward history of the main window: a ring of the last 32 places
// (tag, item, list type, calendar day) the user looked at. Free of GTK so the
// ring rules can be checked on their own.
#pragma once

#include <cstdint>

struct NavEntry {
  int32_t tag = 0;
  int32_t item = -1;
  int32_t list_type = 0;
  int64_t day = 0;
  // Slots are renumbered by a remount and reused after a delete; the uuids
  // (zero for the fixed rows) say which tag and item the place really was.
  uint8_t tag_uuid[16] = {};
  uint8_t item_uuid[16] = {};
};

enum { NAV_RING_SIZE = 32 };

struct NavRing {
  NavEntry entries[NAV_RING_SIZE];
  int pos = -1;    // current entry
  int start = -1;  // oldest entry
  int end = -1;    // newest entry
};

// Records the current place. Nothing (0) without a selected item; a place in
// the tag of the current entry overwrites it (0); otherwise a new entry after
// the current one becomes the newest (1), dropping the oldest when full.
int nav_ring_push(NavRing* ring, const NavEntry& current);
// One step back / forward: 0 with *out the entry now current, -1 when there
// is nowhere to go.
int nav_ring_back(NavRing* ring, NavEntry* out);
int nav_ring_forward(NavRing* ring, NavEntry* out);
bool nav_ring_can_back(const NavRing& ring);
bool nav_ring_can_forward(const NavRing& ring);
