// SPDX-License-Identifier: GPL-3.0-or-later
// The list of enabled repositories that the repository manager takes
// before it opens and compares afterwards.
#include "storage/repo.h"

std::vector<RepoEnabled> repo_enabled_list() {
  std::vector<RepoEnabled> list;
  for (size_t i = 0; i < repo_table().size(); i++) {
    if (!repo_table()[i].enabled) continue;
    list.push_back(RepoEnabled{repo_table()[i].db, repo_table()[i].hidden, static_cast<int>(i)});
  }
  return list;
}

int repo_enabled_changed(const std::vector<RepoEnabled>& old, int selected_repo, bool show_hidden) {
  std::vector<RepoEnabled> now = repo_enabled_list();
  if (now.size() != old.size()) return 1;
  bool hidden_changed = false;
  for (size_t i = 0; i < now.size(); i++) {
    if (now[i].db != old[i].db || now[i].index != old[i].index) return 1;
    if (now[i].hidden != old[i].hidden && (selected_repo < 0 || selected_repo == now[i].index))
      hidden_changed = true;
  }
  return hidden_changed && !show_hidden ? 2 : 0;
}
