// SPDX-License-Identifier: GPL-3.0-or-later
// The account and server commands of ordika-cli, and synchronisation.
#include "cli/cli_sync.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/prompt.h"
#include "crypto/crypto.h"
#include "model/item.h"
#include "model/model.h"
#include "model/mount.h"
#include "storage/repo.h"
#include "sync/requests.h"
#include "sync/sync_driver.h"
#include "support/log.h"

namespace {

int need_account() {
  if (!has_signed_in_account())
    return cli_fail("no sync account; set one with 'ordika-cli account set NUMBER USER HOST[:PORT]'");
  return 0;
}

// "host", "host:port" with a port of 1..65535.
bool valid_host(const std::string& h) {
  if (h.empty() || h.find_first_of(" \t\n/") != std::string::npos) return false;
  size_t colon = h.rfind(':');
  if (colon == std::string::npos) return true;
  if (colon == 0 || colon + 1 == h.size()) return false;
  char* end = nullptr;
  long port = std::strtol(h.c_str() + colon + 1, &end, 10);
  return *end == 0 && port >= 1 && port <= 65535;
}

// The last ":"-separated field of a header or tag string: title or name.
std::string shown_name(const std::string& header, bool item) {
  if (item) {
    Item rec;
    if (item_parse_header(header.c_str(), &rec) == 0) return rec.title;
    return std::string();
  }
  size_t a = header.find(':');
  size_t b = a == std::string::npos ? a : header.find(':', a + 1);
  return b == std::string::npos ? std::string() : header.substr(b + 1);
}

const char* server_reason(int rc) {
  if (rc < 0 && conn_timed_out()) return "the server did not answer in time";
  switch (last_error()) {
    case 1: return "no account";
    default: break;
  }
  return rc < 0 ? "the server could not be reached or answered badly" : "the server refused";
}

// ---------------------------------------------------------------------------

int cmd_account(int argc, char** argv) {
  std::string sub = argv[1];
  if (sub == "set") {
    if (argc != 5) return cli_usage("account");
    char* end = nullptr;
    long number = std::strtol(argv[2], &end, 10);
    if (!*argv[2] || *end || number <= 0 || number > 0x7fffffff) return cli_fail("bad account number '%s'", argv[2]);
    std::string user = argv[3], host = argv[4];
    if (user.empty() || user.find_first_of("\n\r") != std::string::npos) return cli_fail("bad user name");
    if (!valid_host(host)) return cli_fail("bad host '%s' (HOST or HOST:PORT)", host.c_str());
    std::string pw;
    int rc = read_password("ORDIKA_ACCOUNT_PASSWORD", "Account password: ", 0, &pw);
    if (rc != 0) return rc;
    if (pw.find('\n') != std::string::npos) {
      wipe(&pw);
      return cli_fail("bad password");
    }
    rc = account_store(static_cast<int32_t>(number), user.c_str(), pw.c_str(), host.c_str());
    wipe(&pw);
    if (rc != 0 || account_load() != 0) return cli_fail("the account was not stored");
    return 0;
  }
  if (sub == "show") {
    if (argc != 2) return cli_usage("account");
    if (!has_signed_in_account()) return cli_fail("no sync account");
    const Account& a = signed_in_account();
    std::printf("%d\t%s\t%s\n", a.id, cli_field(a.user).c_str(), cli_field(a.host).c_str());
    return 0;
  }
  if (sub == "passwd") {
    if (argc != 2) return cli_usage("account");
    if (int rc = need_account()) return rc;
    std::string pw;
    int rc = read_password("ORDIKA_NEW_ACCOUNT_PASSWORD", "New account password: ", PASSWORD_TWICE | PASSWORD_STRONG,
                           &pw);
    if (rc != 0) return rc;
    rc = account_password_change(pw.c_str());
    wipe(&pw);
    if (rc != 0) return cli_fail("the account password was not changed (%d)", rc);
    return 0;
  }
  return cli_usage("account");
}

int cmd_server(int argc, char** argv) {
  std::string sub = argv[1];
  if (int rc = need_account()) return rc;
  if (sub == "ls") {
    if (argc != 2) return cli_usage("server");
    ServerLogin login;
    if (login_for_account(signed_in_account(), &login) != 0) return cli_fail("no sync account");
    std::vector<std::string> ids;
    int rc = server_list_repos(login, &ids);
    if (rc != 0) return cli_fail("cannot list the server's repositories: %s (%d)", server_reason(rc), rc);
    for (auto& id : ids) std::printf("%s\n", cli_field(id).c_str());
    return 0;
  }
  if (sub == "create") {
    if (argc != 3) return cli_usage("server");
    int index;
    if (cli_parse_index(argv[2], &index) != 0) return cli_fail("no repository %s", argv[2]);
    if (!repo_table()[index].server_id.empty()) return cli_fail("repository %d is on a server already", index);
    int rc = repo_put_on_server(index, "");
    if (rc != 0) return cli_fail("repository %d was not put on the server: %s (%d)", index, server_reason(rc), rc);
    repo_remount();
    std::printf("%s\n", cli_field(repo_table()[index].server_id).c_str());
    return 0;
  }
  if (sub == "clone") {
    if (argc != 3) return cli_usage("server");
    std::string pw;
    int rc = read_password("ORDIKA_REPO_PASSWORD", "Repository password: ", 0, &pw);
    if (rc != 0) return rc;
    int index = -1;
    rc = repo_clone_from_server(argv[2], pw.c_str(), &index);
    wipe(&pw);
    if (rc == CLONE_WRONG_PASSWORD) return cli_fail("wrong repository password");
    if (rc == CLONE_ALREADY_THERE) return cli_fail("this repository is here already");
    if (rc != 0 || index < 0) return cli_fail("cannot clone '%s': %s (%d)", argv[2], server_reason(rc), rc);
    repo_remount();
    std::printf("%d\n", index);
    return 0;
  }
  if (sub == "rm") {
    if (argc != 3) return cli_usage("server");
    ServerLogin login;
    if (login_for_account(signed_in_account(), &login) != 0) return cli_fail("no sync account");
    int rc = server_delete_repo(login, argv[2]);
    if (rc != 0) return cli_fail("cannot delete '%s' on the server: %s (%d)", argv[2], server_reason(rc), rc);
    return 0;
  }
  return cli_usage("server");
}

// One line: the table's texts may hold line breaks.
std::string one_line(std::string text) {
  for (char& ch : text)
    if (ch == '\n' || ch == '\r') ch = ' ';
  return text;
}

// One repository: 0, 1 failure (reported), 3 conflicts left undecided.
int sync_one(int index, int prefer) {
  SyncSession s;
  if (sync_session_setup(&s, repo_table()[index], signed_in_account()) != 0) {
    cli_fail("repository %d: cannot reach its server account", index);
    return 1;
  }
  // Without a preference every conflict is listed and the sync stops before
  // anything changes.
  std::vector<std::string> undecided;
  auto resolve = [&](const SyncConflict& c) {
    if (prefer) return prefer;
    bool item = c.local_exists ? c.local_has_body : c.remote_has_body;
    undecided.push_back(uuid_to_hex(c.uuid) + "\t" + std::to_string(index) + "\t" +
                        cli_field(c.local_exists ? shown_name(c.local_header, item) : std::string()) + "\t" +
                        cli_field(c.remote_exists ? shown_name(c.remote_header, item) : std::string()));
    return static_cast<int>(SYNC_LEAVE_OPEN);
  };
  SyncDriver d;
  sync_begin(&d, &s);
  int rc = sync_drive(&d, resolve);
  if (rc == 0) return 0;
  if (rc == SYNC_CONFLICTS_OPEN) {
    for (auto& l : undecided) std::printf("%s\n", l.c_str());
    cli_fail("repository %d: %zu conflict%s a decision; nothing was changed (use --prefer server|local)", index,
             undecided.size(), undecided.size() == 1 ? " needs" : "s need");
    return 3;
  }
  switch (d.summary.failed_step) {
    case SYNC_STEP_FETCH:
      cli_fail("repository %d: %s (%d)", index,
               conn_timed_out() ? "the server did not answer in time" : one_line(sync_list_status_text(rc)).c_str(),
               rc);
      break;
    case SYNC_STEP_RESOLVE:
      cli_fail("repository %d: comparing the versions failed", index);
      break;
    default:
      if (rc == SYNC_REMOTE_CHANGED)
        cli_fail("repository %d: the server's copy keeps changing; try again later", index);
      else
        cli_fail("repository %d: the synchronisation failed (%d); local data is kept", index, rc);
      break;
  }
  return 1;
}

int cmd_repo_import(int argc, char** argv) {
  if (argc != 2) return cli_usage("repo-import");
  if (int rc = need_account()) return rc;
  std::string pw;
  int rc = read_password("ORDIKA_EXPORT_PASSWORD", "Export password: ", 0, &pw);
  if (rc != 0) return rc;
  RepoRecord rec;
  rc = parse_repo_import(pw.c_str(), cli_path(argv[1]).c_str(), &rec);
  wipe(&pw);
  if (rc != 0) return cli_fail("cannot read the repository file %s (wrong export password or not a repository file)",
                               argv[1]);
  int index = -1;
  rc = repo_clone_record(rec, &index);
  wipe(&rec.password);
  if (rc == CLONE_ALREADY_THERE) return cli_fail("this repository is here already");
  if (rc == CLONE_WRONG_PASSWORD) return cli_fail("the repository file holds a password the server copy refuses");
  if (rc != 0 || index < 0) return cli_fail("cannot clone '%s': %s (%d)", rec.server_id.c_str(), server_reason(rc), rc);
  repo_remount();
  std::printf("%d\n", index);
  return 0;
}

int cmd_sync(int argc, char** argv) {
  int prefer = 0;
  int index = -1;
  for (int i = 1; i < argc; i++) {
    if (std::strcmp(argv[i], "--prefer") == 0 && i + 1 < argc) {
      std::string p = argv[++i];
      if (p == "server") prefer = SYNC_TAKE_SERVER;
      else if (p == "local") prefer = SYNC_KEEP_LOCAL;
      else return cli_usage("sync");
    } else if (index < 0 && argv[i][0] != '-') {
      if (cli_parse_index(argv[i], &index) != 0) return cli_fail("no repository %s", argv[i]);
    } else {
      return cli_usage("sync");
    }
  }
  if (int rc = need_account()) return rc;
  std::vector<int> targets;
  if (index >= 0) {
    if (repo_table()[index].server_id.empty()) return cli_fail("repository %d is not on a server", index);
    if (!repo_table()[index].mounted) return cli_fail("repository %d is not mounted", index);
    targets.push_back(index);
  } else {
    for (size_t i = 0; i < repo_table().size(); i++)
      if (!repo_table()[i].server_id.empty() && repo_table()[i].mounted) targets.push_back(static_cast<int>(i));
  }
  int worst = 0;
  for (int t : targets) {
    int rc = sync_one(t, prefer);
    if (rc != 0) worst = 1;
  }
  repo_remount();
  return worst;
}

}  // namespace

int cli_sync_command(int argc, char** argv) {
  std::string cmd = argv[0];
  if (cmd == "account") return cmd_account(argc, argv);
  if (cmd == "server") return cmd_server(argc, argv);
  if (cmd == "repo-import") return cmd_repo_import(argc, argv);
  return cmd_sync(argc, argv);
}
