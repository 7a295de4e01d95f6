// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/cli_io.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli.h"
#include "interchange/interchange.h"
#include "markup/detail_text.h"
#include "model/item.h"
#include "model/model.h"
#include "model/tag.h"
#include "support/files.h"

int cmd_show(int, char** argv) {
  int64_t slot = cli_item(argv[1]);
  if (slot < 0) return 1;
  std::string text = cli_text(item_detail_text_in_tag(slot));
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
      if (!file_exists(cli_path(argv[i]).c_str())) return cli_fail("cannot read %s", argv[i]);
    int count = 0;
    for (int i = 2; i < argc - 1; i++) {
      int rc = import_note(cli_path(argv[i]).c_str(), tag);
      if (rc < 0) return cli_fail("cannot read %s", argv[i]);
      if (rc == 0) cli_fail("%s is not a text file that can be a note; skipped", argv[i]);
      count += rc > 0 ? 1 : 0;
    }
    std::printf("%d\n", count);
    return 0;
  }
  if (argc != 4) return cli_usage("import");
  std::string path = cli_path(argv[2]);
  const char* file = path.c_str();
  if (!file_exists(file)) return cli_fail("cannot read %s", argv[2]);
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
  if (n < 0) return cli_fail("cannot import %s", argv[2]);
  std::printf("%d\n", n);
  return 0;
}

int cmd_export(int, char** argv) {
  const char* kind = argv[1];
  int64_t tag = cli_tag(argv[2]);
  if (tag < 0) return 1;
  std::string path = cli_path(argv[3]);
  const char* target = path.c_str();
  if (cli_export_target_ok(path, std::strcmp(kind, "notes") == 0) != 0) return 1;
  int repo = tag_get(tag)->repo;
  int n;
  if (std::strcmp(kind, "ics") == 0) {
    n = export_calendar(target, repo, -1);
  } else if (std::strcmp(kind, "vcf") == 0) {
    n = export_contacts(target, repo, -1);
  } else if (std::strcmp(kind, "json") == 0) {
    n = export_accounts(target, repo, -1);
  } else if (std::strcmp(kind, "notes") == 0) {
    if (!dir_exists(target)) return cli_fail("%s is not a folder", argv[3]);
    n = export_notes(target, repo, -1);
  } else {
    cli_fail("unknown export kind '%s'", kind);
    return cli_usage("export");
  }
  if (n < 0) return cli_fail("cannot write %s", argv[3]);
  return 0;
}
