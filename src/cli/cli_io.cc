#include "cli/cli_io.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli.h"
#include "interchange/interchange.h"
#include "model/item.h"
#include "model/model.h"
#include "model/tag.h"
#include "views/detail_text.h"

namespace {

bool readable_file(const char* path) {
  struct stat st;
  return ::stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

bool is_dir(const char* path) {
  struct stat st;
  return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

int cmd_show(int, char** argv) {
  int64_t slot = cli_item(argv[1]);
  if (slot < 0) return 1;
  std::string text = item_detail_text_in_tag(slot);
  std::fputs(text.c_str(), stdout);
  if (text.empty() || text.back() != '\n') std::fputc('\n', stdout);
  return 0;
}

int cmd_import(int argc, char** argv) {
  const char* kind = argv[1];
  int64_t tag = cli_tag(argv[argc - 1]);
  if (tag < 0) return 1;
  if (std::strcmp(kind, "note") == 0) {
    for (int i = 2; i < argc - 1; i++)
      if (!readable_file(argv[i])) return cli_fail("cannot read %s", argv[i]);
    int count = 0;
    for (int i = 2; i < argc - 1; i++) {
      int rc = import_note(argv[i], tag);
      if (rc < 0) return cli_fail("cannot read %s", argv[i]);
      if (rc == 0) cli_fail("%s is not a text file that can be a note; skipped", argv[i]);
      count += rc > 0 ? 1 : 0;
    }
    std::printf("%d\n", count);
    return 0;
  }
  if (argc != 4) return cli_usage("import");
  const char* file = argv[2];
  if (!readable_file(file)) return cli_fail("cannot read %s", file);
  int n;
  if (std::strcmp(kind, "ics") == 0) {
    n = import_calendar(file, tag);
  } else if (std::strcmp(kind, "vcf") == 0) {
    n = import_contacts(file, tag);
  } else if (std::strcmp(kind, "json") == 0) {
    n = key_import(file, tag);
  } else {
    cli_fail("unknown import kind '%s'", kind);
    return cli_usage("import");
  }
  if (n < 0) return cli_fail("cannot import %s", file);
  std::printf("%d\n", n);
  return 0;
}

int cmd_export(int, char** argv) {
  const char* kind = argv[1];
  int64_t tag = cli_tag(argv[2]);
  if (tag < 0) return 1;
  const char* target = argv[3];
  int repo = tag_get(tag)->repo;
  int n;
  if (std::strcmp(kind, "ics") == 0) {
    n = export_calendar(target, repo, -1);
  } else if (std::strcmp(kind, "vcf") == 0) {
    n = export_contacts(-1, repo, target);
  } else if (std::strcmp(kind, "json") == 0) {
    n = export_accounts(-1, repo, target);
  } else if (std::strcmp(kind, "notes") == 0) {
    if (!is_dir(target)) return cli_fail("%s is not a folder", target);
    n = export_notes(-1, repo, target);
  } else {
    cli_fail("unknown export kind '%s'", kind);
    return cli_usage("export");
  }
  if (n < 0) return cli_fail("cannot write %s", target);
  return 0;
}
