// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/list.h"

#include <ctime>
#include <vector>

#include "model/app_core.h"
#include "model/item.h"
#include "model/model.h"
#include "model/recur.h"
#include "model/tag.h"
#include "model/view_dates.h"

namespace {

bool link_view_qualifies(const Item* item) {
  if (item->flags & ITEM_TRASHED) return false;
  if ((item->flags & ITEM_COMPLETED) && !app_core().settings.show_completed) return false;
  return repo_counts(item->repo);
}

int64_t next_in_link_view(int64_t position) {
  Model& m = model();
  ListWalk& walk = m.list_walk;
  int64_t cursor = -1;
  if (position >= 0) {
    const TagLink* at = slot_get<TagLink>(m.tag_links, walk.link);
    if (walk.link_view == m.view && walk.link_item == position && at && at->tag == m.view &&
        at->item == position) {
      cursor = walk.link;
    } else {
      // Not the walk we were following: find the item's link from the start.
      int64_t c = -1;
      bool found = false;
      while (const TagLink* l = slot_next<TagLink>(m.tag_links, &c))
        if (l->tag == m.view && l->item == position) {
          found = true;
          break;
        }
      if (!found) return -1;
      cursor = c;
    }
  }
  while (const TagLink* l = slot_next<TagLink>(m.tag_links, &cursor)) {
    if (l->tag != m.view) continue;
    const Item* item = item_get(l->item);
    if (!item || !link_view_qualifies(item)) continue;
    walk.link_view = m.view;
    walk.link_item = l->item;
    walk.link = cursor;
    return l->item;
  }
  walk.link_view = 0;
  walk.link_item = -1;
  walk.link = -1;
  return -1;
}

void build_tagged() {
  Model& m = model();
  std::vector<bool>& tagged = m.list_walk.tagged;
  tagged.assign(static_cast<size_t>(m.items->block_count) * 32, false);
  int64_t cursor = -1;
  while (const TagLink* l = slot_next<TagLink>(m.tag_links, &cursor))
    if (l->tag >= 1 && l->item >= 0 && static_cast<size_t>(l->item) < tagged.size()) tagged[l->item] = true;
}

bool is_tagged(const Model& m, int64_t slot) {
  const std::vector<bool>& tagged = m.list_walk.tagged;
  return slot >= 0 && static_cast<size_t>(slot) < tagged.size() && tagged[slot];
}

int64_t calendar_day_end() {
  Model& m = model();
  ListWalk& walk = m.list_walk;
  if (walk.day_start != m.calendar_day) {
    walk.day_start = m.calendar_day;
    walk.day_end = local_midnight_after(m.calendar_day, 1);
  }
  return walk.day_end;
}

bool fixed_qualifies(const Item* item, int64_t slot) {
  const Model& m = model();
  switch (m.fixed_kind) {
    case FIXED_UPCOMING: {
      if (item->flags) return false;
      int64_t b = displayed_occurrence(item);
      return m.upcoming_from < b && b < m.upcoming_to;
    }
    case FIXED_CALENDAR_DAY: {
      int64_t day = m.calendar_day;
      int64_t day_end = calendar_day_end();
      if (!item->due || item->due >= day_end || item->last_occurrence < day || item->flags ||
          !repo_counts(item->repo))
        return false;
      int64_t t = item_occurrence_from(item, day);
      return t && t < day_end && t <= item->last_occurrence;
    }
    case FIXED_TASKS:
      return item->type == ITEM_TASK && (!(item->flags & ITEM_COMPLETED) || app_core().settings.show_completed);
    case 3:
    case 4:
    case 5:
    case 6:
      return item->type == m.fixed_kind - 2;
    case FIXED_UNTAGGED:
      return !is_tagged(m, slot);
    case FIXED_ALL:
      return true;
    default:
      return false;
  }
}

}  // namespace

int64_t list_next(int64_t position) {
  Model& m = model();
  if (position < -1) position = -1;
  if (m.view >= 1 || m.view == VIEW_SEARCH || m.view == VIEW_REMINDERS) return next_in_link_view(position);
  if (m.view == VIEW_FIXED && m.fixed_kind == FIXED_UNTAGGED && (position == -1 || m.list_walk.tagged.empty()))
    build_tagged();
  int64_t cursor = position;
  while (const Item* item = slot_next<Item>(m.items, &cursor)) {
    if (m.view == VIEW_TRASH) {
      if ((item->flags & ITEM_TRASHED) && repo_counts(item->repo)) return cursor;
    } else if (m.view == VIEW_FIXED) {
      if (fixed_qualifies(item, cursor)) return cursor;
    } else {
      return -1;  // no such view (0 is the root entry, not a list)
    }
  }
  return -1;
}

int64_t list_time(const Item* item) { return displayed_occurrence(item); }

int list_icon(const Item* item, int64_t now) {
  switch (item->type) {
    case ITEM_TASK:
    case ITEM_EVENT: {
      bool task = item->type == ITEM_TASK;
      if (task && (item->flags & ITEM_COMPLETED)) return ICON_TASK_DONE;
      if (item->due && item->remind_offset) {
        int64_t b = displayed_occurrence_at(item, now);
        if (b && b < now + 86400) {
          if (b < now) return task ? ICON_TASK_OVERDUE : ICON_EVENT_OVERDUE;
          return task ? ICON_TASK_SOON : ICON_EVENT_SOON;
        }
      }
      return task ? ICON_TASK : ICON_EVENT;
    }
    case ITEM_NOTE:
      return ICON_NOTE;
    case ITEM_VCARD:
      return ICON_VCARD;
    case ITEM_KEY:
      return ICON_KEY;
    default:
      return ICON_NOTE;
  }
}

void reminders_view_refresh(int64_t now) {
  Model& m = model();
  int64_t cursor = -1;
  while (const TagLink* l = slot_next<TagLink>(m.tag_links, &cursor))
    if (l->tag == VIEW_REMINDERS) slot_array_remove(m.tag_links, cursor);
  cursor = -1;
  while (const Reminder* r = slot_next<Reminder>(m.reminders, &cursor))
    if (r->remind_at <= now) tag_link_append(VIEW_REMINDERS, r->item);
}

int64_t reminder_of(int64_t slot) {
  const Reminder* r = reminder_find(slot);
  return r ? r->remind_at : 0;
}

void reminders_counts(int64_t now, int* reminded, int* due) {
  int a = 0, b = 0;
  int64_t cursor = -1;
  while (const Reminder* r = slot_next<Reminder>(model().reminders, &cursor)) {
    if (r->remind_at <= now) a++;
    if (r->due_at <= now) b++;
  }
  if (reminded) *reminded = a;
  if (due) *due = b;
}
