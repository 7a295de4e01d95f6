// SPDX-License-Identifier: GPL-3.0-or-later
// ordika-cli dav add | ls | sync | rm.
#include "cli/cli_dav.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/prompt.h"
#include "interchange/interchange.h"
#include "model/model.h"
#include "model/mount.h"
#include "storage/repo.h"
#include "support/log.h"
#include "sync/dav_account.h"
#include "sync/dav_discover.h"
#include "sync/dav_http.h"
#include "sync/dav_sync.h"

namespace {

// The first line of a file, for --password-file.
int password_from_file(const char* arg, std::string* out) {
  std::string text;
  if (read_file_all(cli_path(arg).c_str(), &text) != 0) return cli_fail("cannot read %s", arg);
  size_t eol = text.find_first_of("\r\n");
  *out = text.substr(0, eol);
  wipe(&text);
  if (out->empty()) return cli_fail("%s holds no password", arg);
  return 0;
}

int account_password(const char* file, const std::string& user, std::string* out) {
  if (const char* v = std::getenv("ORDIKA_DAV_PASSWORD")) {
    *out = v;
    return 0;
  }
  if (file) return password_from_file(file, out);
  std::string prompt = "Password of " + user + ": ";
  return read_password(nullptr, prompt.c_str(), 0, out);
}

int cmd_add(int argc, char** argv) {
  DavAccount a;
  std::vector<std::string> only;
  const char* password_file = nullptr;
  bool have_user = false;
  for (int i = 2; i < argc; i++) {
    std::string opt = argv[i];
    bool value = i + 1 < argc;
    if (opt == "--user" && value) {
      a.user = argv[++i];
      have_user = true;
    } else if (opt == "--password-file" && value) {
      password_file = argv[++i];
    } else if (opt == "--only" && value) {
      only.push_back(argv[++i]);
    } else if (opt == "--trust-fingerprint" && value) {
      a.trusted_fingerprint = argv[++i];
    } else if (a.url.empty() && opt[0] != '-') {
      a.url = opt;
    } else {
      return cli_usage("dav");
    }
  }
  if (a.url.empty() || !have_user) return cli_usage("dav");
  if (int rc = account_password(password_file, a.user, &a.password)) return rc;
  DavClient c;
  int rc = dav_open(&c, a);
  wipe(&a.password);
  if (rc != 0) return cli_fail("%s", dav_error_message(c, rc).c_str());
  DavDiscovery d;
  rc = dav_discover(&c, &d);
  if (rc != 0) return cli_fail("%s", dav_error_message(c, rc).c_str());
  std::vector<DavCollection> chosen;
  std::vector<bool> used(only.size(), false);
  for (const DavCollection& col : d.collections) {
    bool take = only.empty();
    for (size_t i = 0; i < only.size(); i++)
      if (col.display_name == only[i]) take = used[i] = true;
    if (take) chosen.push_back(col);
  }
  for (size_t i = 0; i < only.size(); i++)
    if (!used[i]) {
      std::string names;
      for (const DavCollection& col : d.collections) names += (names.empty() ? "" : ", ") + col.display_name;
      return cli_fail("no collection named '%s' (the server has: %s)", only[i].c_str(), names.c_str());
    }
  if (chosen.empty()) return cli_fail("the server has no calendar or address book for %s", a.user.c_str());
  // The fingerprint kept is the one the connection was trusted with, in
  // its one spelling.
  std::string fingerprint;
  uint8_t fp[32];
  if (c.pinned && dav_parse_fingerprint(a.trusted_fingerprint, fp)) fingerprint = dav_format_fingerprint(fp);
  int repo = -1;
  std::vector<DavBoundCollection> bound;
  rc = dav_account_create(c.url, c.user, c.password.c_str(), fingerprint, chosen, &repo, &bound);
  if (rc != 0) return cli_fail("the account was not added; nothing was kept");
  std::printf("%d\n", repo);
  for (const DavBoundCollection& b : bound)
    std::printf("%s\t%s\t%s\t%s\n", uuid_to_hex(b.tag).c_str(), dav_collection_kind_name(b.collection),
                cli_field(b.collection.display_name).c_str(), cli_field(b.collection.href).c_str());
  return 0;
}

int cmd_ls(int argc, char**) {
  if (argc != 2) return cli_usage("dav");
  std::vector<DavAccountRow> rows;
  int rc = dav_account_list(&rows);
  for (const DavAccountRow& r : rows) {
    if (r.repo < 0) continue;
    std::string when = r.last_sync ? cli_time(r.last_sync) : "never";
    std::printf("%d\t%s\t%s\t%s\n", r.repo, cli_field(r.url).c_str(), cli_field(r.user).c_str(), when.c_str());
  }
  return rc == 0 ? 0 : cli_fail("some accounts could not be read");
}

int account_index(const char* arg, DavAccountRow* row) {
  int index;
  if (cli_parse_index(arg, &index) != 0) return cli_fail("no repository %s", arg);
  if (dav_account_find(index, row) != 0) return cli_fail("repository %d holds no calendar or contacts account", index);
  return 0;
}

int cmd_sync(int argc, char** argv) {
  if (argc > 3) return cli_usage("dav");
  std::vector<int> targets;
  if (argc == 3) {
    DavAccountRow row;
    if (int rc = account_index(argv[2], &row)) return rc;
    targets.push_back(row.repo);
  } else {
    std::vector<DavAccountRow> rows;
    dav_account_list(&rows);
    for (const DavAccountRow& r : rows)
      if (r.repo >= 0) targets.push_back(r.repo);
  }
  int worst = 0;
  for (int repo : targets) {
    DavSyncSummary sum;
    int rc = dav_sync_repository(repo, &sum);
    if (rc != 0) {
      cli_fail("%d: %s", repo, cli_field(sum.message).c_str());
      worst = 1;
      continue;
    }
    std::printf("%s\n", dav_summary_line(repo, sum).c_str());
    for (const std::string& name : sum.names) std::fprintf(stderr, "%d: conflict: %s\n", repo, cli_field(name).c_str());
  }
  return worst;
}

int cmd_rm(int argc, char** argv) {
  bool del = false;
  const char* index_arg = nullptr;
  for (int i = 2; i < argc; i++) {
    if (std::strcmp(argv[i], "--delete") == 0) del = true;
    else if (!index_arg) index_arg = argv[i];
    else return cli_usage("dav");
  }
  if (!index_arg) return cli_usage("dav");
  DavAccountRow row;
  if (int rc = account_index(index_arg, &row)) return rc;
  if (dav_account_remove(row.number) != 0) return cli_fail("the account was not removed");
  if (del) {
    if (repo_delete(row.repo) != 0) return cli_fail("the account was removed, but repository %d was not deleted", row.repo);
    repo_remount();
  }
  return 0;
}

}  // namespace

int cli_dav_command(int argc, char** argv) {
  if (argc < 2) return cli_usage("dav");
  std::string sub = argv[1];
  if (sub == "add") return cmd_add(argc, argv);
  if (sub == "ls") return cmd_ls(argc, argv);
  if (sub == "sync") return cmd_sync(argc, argv);
  if (sub == "rm") return cmd_rm(argc, argv);
  return cli_usage("dav");
}
