// Until items keep their whole source component, members go through the
// file import and export, and only the UID of the member is carried over.
#include "sync/dav_map.h"

#include <cstring>

#include "crypto/wipe.h"
#include "interchange/import_plan.h"
#include "interchange/interchange.h"
#include "model/item.h"
#include "model/ops.h"

namespace {

// The value of the first content line named `name` (unfolded), or "".
std::string first_value(const std::string& text, const char* name) {
  size_t n = std::strlen(name);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    if (eol - pos > n && strncasecmp(text.c_str() + pos, name, n) == 0 &&
        (text[pos + n] == ':' || text[pos + n] == ';')) {
      std::string value;
      size_t colon = text.find(':', pos + n);
      size_t p = colon == std::string::npos || colon > eol ? eol : colon + 1;
      // Continuation lines start with a space or a tab.
      for (;;) {
        size_t end = eol;
        if (end > p && text[end - 1] == '\r') end--;
        value.append(text, p, end - p);
        if (eol + 1 < text.size() && (text[eol + 1] == ' ' || text[eol + 1] == '\t')) {
          p = eol + 2;
          eol = text.find('\n', p);
          if (eol == std::string::npos) eol = text.size();
          continue;
        }
        break;
      }
      return value;
    }
    pos = eol + 1;
  }
  return std::string();
}

// Replaces the UID line of the first component (its own line, folded or
// not) with `uid`.
void set_uid(std::string* text, const std::string& uid) {
  size_t pos = 0;
  while (pos < text->size()) {
    size_t eol = text->find('\n', pos);
    if (eol == std::string::npos) eol = text->size();
    if (strncasecmp(text->c_str() + pos, "UID:", 4) == 0) {
      size_t end = eol;
      while (end + 1 < text->size() && ((*text)[end + 1] == ' ' || (*text)[end + 1] == '\t')) {
        end = text->find('\n', end + 1);
        if (end == std::string::npos) end = text->size();
      }
      size_t stop = end < text->size() ? end + 1 : end;
      text->replace(pos, stop - pos, "UID:" + uid + "\r\n");
      return;
    }
    pos = eol + 1;
  }
}

}  // namespace

int64_t dav_member_store(const std::string& text, bool contact, int64_t slot, int64_t tag, int keep_history,
                         ItemBatch* batch) {
  ImportPlan plan;
  import_plan_parse(contact ? IMPORT_CONTACTS : IMPORT_CALENDAR, text.data(), text.size(), "", &plan);
  if (plan.entries.empty()) return -1;
  // The first component is the item: a recurring event's overridden
  // instances follow its master.
  ImportEntry& e = plan.entries.front();
  const Item* item = item_get(slot);
  if (item && item->type != e.type && !(contact == false && item->type <= ITEM_EVENT)) return -1;
  int flags = -1;
  if (item) {
    e.form.markup = static_cast<uint8_t>(item->markup);
    flags = (item->flags & ITEM_TRASHED) | (e.completed ? ITEM_COMPLETED : 0);
  } else if (e.completed) {
    e.form.flags = ITEM_COMPLETED;
  }
  return batch->store(slot, e.type, e.form, keep_history, tag, flags);
}

std::string dav_member_text(int64_t slot, const std::string& kept) {
  const Item* item = item_get(slot);
  if (!item) return std::string();
  int count = 0;
  std::string text;
  if (item->type == ITEM_VCARD) {
    text = contacts_text(item->repo, slot, &count);
  } else if (item->type == ITEM_TASK || item->type == ITEM_EVENT) {
    text = calendar_text(item->repo, slot, &count);
    std::string uid = dav_member_uid(kept);
    if (count == 1 && !uid.empty()) set_uid(&text, uid);
  }
  if (count != 1) wipe(&text);
  return text;
}

std::string dav_member_uid(const std::string& text) { return first_value(text, "UID"); }

std::string dav_member_title(const std::string& text, bool contact) {
  ImportPlan plan;
  import_plan_parse(contact ? IMPORT_CONTACTS : IMPORT_CALENDAR, text.data(), text.size(), "", &plan);
  return plan.entries.empty() ? std::string() : plan.entries.front().form.title;
}
