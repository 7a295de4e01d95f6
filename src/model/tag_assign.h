// SPDX-License-Identifier: GPL-3.0-or-later
// Setting which tags of one repository a set of items carries, as one
// command: one journal group, so one undo step, and all or nothing.
#pragma once

#include <cstdint>
#include <vector>

struct TagChoice {
  int64_t tag;  // tag slot of the repository
  bool chosen;  // the items carry it afterwards, or not
};

// Applies every choice to every item of repository `repo` (items of other
// repositories are left alone). 0, or the first failing status: then the
// group is rolled back and the in-memory links are put back as they were,
// so nothing changed.
int tags_assign(int repo, const std::vector<TagChoice>& choices, const std::vector<int64_t>& items);
