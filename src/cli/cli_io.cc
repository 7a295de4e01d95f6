#include "cli/cli_io.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli.h"
#include "interchange/interchange.h"
#include "model/item.h"
#include "model/model.h"
#include "model/tag.h"
#include "support/files.h"
#include "views/detail_text.h"

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
  // Imports go into the selected tag, as in the window.
  model().view = static_cast<int32_t>(tag);
  if (std::strcmp(kind, "note") == 0) {
    for (int i = 2; i < argc - 1; i++)
      if (!file_exists(argv[i])) return cli_fail("cannot read %s", argv[i]);
    int count = 0;
    for (int i = 2; i < argc - 1; i++) {
      int rc = import_note(argv[i]);
      if (rc < 0) return cli_fail("cannot read %s", argv[i]);
      if (rc == 0) cli_fail("%s is not a text file that can be a note; skipped", argv[i]);
      count += rc > 0 ? 1 : 0;
    }
    std::printf("%d\n", count);
    return 0;
  }
  if (argc != 4) return cli_usage("import");
  const char* file = argv[2];
  if (!file_exists(file)) return cli_fail("cannot read %s", file);
  int n;
  if (std::strcmp(kind, "ics") == 0) {
    n = import_calendar(file);
  } else if (std::strcmp(kind, "vcf") == 0) {
    n = import_contacts(file);
  } else if (std::strcmp(kind, "json") == 0) {
    n = key_import(file);
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
    if (!dir_exists(target)) return cli_fail("%s is not a folder", target);
    n = export_notes(-1, repo, target);
  } else {
    cli_fail("unknown export kind '%s'", kind);
    return cli_usage("export");
  }
  if (n < 0) return cli_fail("cannot write %s", target);
  return 0;
}
