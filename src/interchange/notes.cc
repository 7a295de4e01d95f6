// SPDX-License-Identifier: GPL-3.0-or-later
// Notes as text files.
#include <fcntl.h>
#include <openssl/crypto.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "crypto/wipe.h"
#include "interchange/ical.h"
#include "interchange/import_internal.h"
#include "interchange/interchange.h"
#include "model/item.h"
#include "model/ops.h"
#include "support/log.h"
#include "support/text.h"

namespace {

// Room for " (99)" within the usual 255-byte limit of a file name.
constexpr size_t kNameMax = 200;

// Creates the file only when nothing of that name exists (no overwriting, no
// following a planted link). 0, 1 when the name is taken, -1 on failure.
int write_new_file(const std::string& path, const std::string& bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return errno == EEXIST ? 1 : -1;
  FILE* f = ::fdopen(fd, "wb");
  if (!f) {
    ::close(fd);
    std::remove(path.c_str());
    return -1;
  }
  bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (std::fclose(f) != 0) ok = false;
  if (!ok) std::remove(path.c_str());
  return ok ? 0 : -1;
}

// Writes the note body under the first free name: name, "name (1)" ... "name (99)".
int write_note(const std::string& dir, const std::string& name, const std::string& body) {
  std::string base = dir.empty() ? name : dir + (dir.back() == '/' ? "" : "/") + name;
  for (int i = 0; i <= 99; i++) {
    std::string path = base;
    if (i > 0) path += " (" + std::to_string(i) + ")";
    int rc = write_new_file(path, body);
    if (rc == 0) return 0;
    if (rc < 0) {
      log_message(LOG_ERROR, "export_notes: cannot write a file (%d)", errno);
      return -1;
    }
  }
  log_message(LOG_WARNING, "export_notes: no free file name");
  return -1;
}

}  // namespace

std::string note_file_name(const std::string& title) {
  std::string name;
  for (size_t i = 0; i < title.size(); i++) {
    unsigned char c = static_cast<unsigned char>(title[i]);
    if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') c = '_';
    name += static_cast<char>(c);
  }
  // Cut at a character boundary.
  if (name.size() > kNameMax) {
    size_t cut = kNameMax;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) cut--;
    name.resize(cut);
  }
  // Neither "." nor ".." nor a hidden file.
  if (!name.empty() && name[0] == '.') name[0] = '_';
  if (name.find_first_not_of(' ') == std::string::npos) name = "Note";
  return name;
}

namespace {

int write_one_note(int64_t slot, const std::string& folder, const char* name_override) {
  const Item* item = item_get(slot);
  if (!item) return -1;
  std::string name = note_file_name(name_override && *name_override ? name_override : item->title);
  std::string body = item_body_load(item);
  int rc = write_note(folder, name, body);
  wipe(&body);
  return rc;
}

}  // namespace

int export_note_file(int64_t slot, const char* dir, const char* name_override) {
  return write_one_note(slot, dir && *dir ? dir : ".", name_override);
}

void note_plan_parse(const char* data, size_t len, const char* title, ImportPlan* plan) {
  plan->found_any = true;
  std::string text(data, len);
  if (text.size() >= 3 && std::memcmp(text.data(), "\xEF\xBB\xBF", 3) == 0) text.erase(0, 3);
  if (text.size() > kInterchangeItemMax) {
    log_message(LOG_WARNING, "import_note: over %zu bytes, not imported", kInterchangeItemMax);
    plan->skipped++;
  } else if (text.find('\0') != std::string::npos) {
    // Stored texts end at the first NUL; the rest would be lost.
    log_message(LOG_WARNING, "import_note: binary file not imported");
    plan->skipped++;
  } else if (!utf8_valid_n(text.data(), text.size()) || !title || !utf8_valid_n(title, std::strlen(title))) {
    log_message(LOG_WARNING, "import_note: not UTF-8, not imported");
    plan->skipped++;
  } else {
    ImportEntry entry;
    entry.type = ITEM_NOTE;
    entry.form.title = title;
    entry.form.body = std::move(text);
    plan->entries.push_back(std::move(entry));
  }
  wipe(&text);
}

int import_note(const char* path, int64_t tag) {
  std::string text;
  if (read_file_all(path, &text) != 0) {
    log_message(LOG_ERROR, "import_note: cannot read the file");
    return -1;
  }
  ImportPlan plan;
  note_plan_parse(text.data(), text.size(), path, &plan);
  wipe(&text);
  if (plan.entries.empty()) return 0;
  return item_store(-1, ITEM_NOTE, plan.entries[0].form, 0, tag) >= 0 ? 1 : 0;
}
