// SPDX-License-Identifier: GPL-3.0-or-later
// Navigation ring rules.
#include "app/nav_ring.h"

int nav_ring_push(NavRing* r, const NavEntry& cur) {
  if (cur.item < 0) return 0;
  if (r->pos >= 0 && r->entries[r->pos].tag == cur.tag) {
    r->entries[r->pos] = cur;
    return 0;
  }
  r->pos = (r->pos + 1) % NAV_RING_SIZE;
  if (r->start == -1 || r->start == r->pos) r->start = (r->start + 1) % NAV_RING_SIZE;
  r->end = r->pos;
  r->entries[r->pos] = cur;
  return 1;
}

bool nav_ring_can_back(const NavRing& r) { return r.pos != r.start; }
bool nav_ring_can_forward(const NavRing& r) { return r.pos != r.end; }

int nav_ring_back(NavRing* r, NavEntry* out) {
  if (!nav_ring_can_back(*r)) return -1;
  r->pos = r->pos == 0 ? NAV_RING_SIZE - 1 : r->pos - 1;
  *out = r->entries[r->pos];
  return 0;
}

int nav_ring_forward(NavRing* r, NavEntry* out) {
  if (!nav_ring_can_forward(*r)) return -1;
  r->pos = (r->pos + 1) % NAV_RING_SIZE;
  *out = r->entries[r->pos];
  return 0;
}
