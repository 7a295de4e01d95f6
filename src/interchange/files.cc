// File helpers shared by the imports and exports.
#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include "interchange/interchange.h"
#include "model/model.h"
#include "model/tag.h"
#include "support/files.h"
#include "support/log.h"

int64_t repo_root_tag(int repo) {
  RepoRef ref;
  if (repo_ref(repo, &ref) != 0) return -1;
  int64_t cursor = 0;  // slot 0 is the zero root entry
  while (Tag* tag = slot_next<Tag>(model().tags, &cursor))
    if (tag->repo == repo && uuid_is_zero(tag->parent)) return cursor;
  return -1;
}

int read_file_all(const char* path, std::string* text) {
  text->clear();
  if (!path) return -1;
  OwnedFile f(std::fopen(path, "rb"));
  if (!f) return -1;
  struct stat st;
  if (fstat(fileno(f.get()), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  if (st.st_size == 0) return 0;
  text->resize(static_cast<size_t>(st.st_size));
  size_t got = std::fread(text->data(), 1, text->size(), f.get());
  if (got != text->size()) {
    log_message(LOG_WARNING, "read_file_all: short read (%zu of %zu)", got, text->size());
    text->clear();
    return -1;
  }
  return 0;
}

int write_file_all(const char* path, const std::string& bytes) {
  if (!path) return -1;
  OwnedFile f(std::fopen(path, "wb"));
  if (!f) {
    log_message(LOG_WARNING, "write_file_all: cannot open");
    return -1;
  }
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f.get()) != bytes.size()) return -1;
  return file_close(&f);
}
