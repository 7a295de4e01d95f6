// SPDX-License-Identifier: GPL-3.0-or-later
// Tags, their serialized form and the links between tags and items.
#pragma once

#include <cstdint>
#include <string>

struct Tag {
  uint8_t uuid[16] = {};
  uint8_t parent[16] = {};  // all zero for a repository's root tag
  std::string name;         // "/" as stored for a root tag
  int64_t modified = 0;
  int32_t repo = 0;
};

// (tag slot, item slot): the item carries the tag. Tag slots -1 and -2 are the
// pseudo tags of the search results and the reminders view (memory only).
struct TagLink {
  int32_t tag;
  int32_t item;
};

// "%s:%lld:%s": parent uuid in hex, modified, name.
std::string tag_string_format(const Tag& tag);

// Empties the links, frees every tag and puts the zero root entry in slot 0.
void tags_reset();
Tag* tag_get(int64_t slot);
// Slot or -1; the zero uuid finds the root entry.
int64_t tag_find(const uint8_t uuid[16]);
int64_t tag_find_hex(const char* text);
// Parses a tag string into a new slot; returns the slot or -1. A missing
// token, an invalid parent or a bad time adds nothing silently; a uuid that is
// already loaded logs, raises model().duplicate_tag and adds nothing.
int64_t tags_add_from_str(int repo, const uint8_t uuid[16], const char* tag_string);
// Takes a tag out of memory (its name freed, its slot released).
void tags_remove_slot(int64_t slot);

// Appends the link when both uuids are loaded.
void tag_link_add(const uint8_t tag_uuid[16], const uint8_t item_uuid[16]);
// Appends an in-memory link by slots.
void tag_link_append(int32_t tag_slot, int32_t item_slot);
bool tag_link_exists(int32_t tag_slot, int32_t item_slot);
// The tag in which an item is shown on its own: its first link to a real tag
// (slot 1 and above), else its repository's root tag; -1 when neither exists.
int64_t item_home_tag(int64_t item_slot);

// Stores a new version of the tag in a journal group of its own.
int tags_save_tag(Tag* tag);
// Creates and stores a tag under the tag at parent_slot (0: a repository
// root, in repository `repo`). Returns its slot, or -1.
int64_t tag_create(int repo, int64_t parent_slot, const char* name);
