// SPDX-License-Identifier: GPL-3.0-or-later
// ordika-cli: the command-line companion of the Ordika window. It works on
// the same profile, configuration database and repositories, and every
// change is one journal group, exactly as the window's command.
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/prompt.h"
#include "crypto/crypto.h"
#include "interchange/ical.h"
#include "interchange/interchange.h"
#include "model/app_core.h"
#include "model/item.h"
#include "model/list_order.h"
#include "model/model.h"
#include "model/mount.h"
#include "model/ops.h"
#include "model/recur.h"
#include "model/search.h"
#include "model/tag.h"
#include "storage/db.h"
#include "storage/journal.h"
#include "storage/repo.h"
#include "support/files.h"
#include "support/local_dates.h"
#include "support/log.h"
#include "support/strings.h"
#include "support/thread.h"
#include "sync/conn.h"
#include "sync/dav_account.h"

namespace {

// Seconds a server may take to answer: above its own bound on the work of
// one request, so that a slow but successful reply is still read.
constexpr int kNetTimeout = 60;

const char kUsage[] =
    "Usage: ordika-cli [--profile NAME] COMMAND [ARGUMENTS]\n"
    "\n"
    "The command-line companion of Ordika. It uses the window's profile\n"
    "($HOME/.config/NAME, default \"Ordika\") and its repositories.\n"
    "\n"
    "Commands:\n"
    "  init                          create a new profile with its default repository\n"
    "  repos                         list repositories: INDEX NAME PATH SERVER_ID FLAGS\n"
    "  repo-add NAME                 create a repository; prints its INDEX\n"
    "  repo-export INDEX FILE        write a repository file\n"
    "  repo-import FILE              clone the server repository a repository file names\n"
    "  tags                          list tags: UUID PARENT_UUID REPO DEPTH NAME\n"
    "  tag-add PARENT_UUID NAME      create a tag; prints its UUID\n"
    "  tag-rm UUID                   delete a tag and its subtree\n"
    "  items [VIEW]                  list items: UUID TYPE FLAGS LIST_TIME TITLE\n"
    "  show UUID                     an item's detail text\n"
    "  add TYPE TAG_UUID --title T [OPTIONS]   store a new item; prints its UUID\n"
    "  edit UUID [OPTIONS] [--keep-history]    change an item\n"
    "  done UUID | trash UUID | rm UUID        toggle completed, toggle trashed, delete\n"
    "  link UUID TAG_UUID | unlink UUID TAG_UUID\n"
    "  history UUID                  stored versions: HASH MODIFIED TITLE\n"
    "  import ics|vcf|json FILE TAG_UUID, import note FILE... TAG_UUID\n"
    "  export ics|vcf|json TAG_UUID FILE, export notes TAG_UUID DIR\n"
    "  undo INDEX | redo INDEX       one journal step on a repository\n"
    "  passwd                        change the master password\n"
    "  account set NUMBER USER HOST[:PORT] | account show | account passwd\n"
    "  server ls | server create INDEX | server clone ID | server rm ID\n"
    "  sync [INDEX] [--prefer server|local]   synchronise with the account server\n"
    "  dav add URL --user USER [OPTIONS] | dav ls | dav sync [INDEX] | dav rm INDEX [--delete]\n"
    "                                calendar and contacts accounts (CalDAV, CardDAV)\n"
    "\n"
    "Run 'ordika-cli help COMMAND' for the details of a command.\n";

struct CommandHelp {
  const char* name;
  const char* text;
};

const CommandHelp kHelp[] = {
    {"init",
     "ordika-cli init\n"
     "  Creates the profile: the configuration database under a new master password\n"
     "  (ORDIKA_PASSWORD, else asked twice; at least 10 characters with upper case,\n"
     "  lower case and digits) and the default repository with a generated password\n"
     "  and the default tags. Fails when the profile exists.\n"},
    {"repos",
     "ordika-cli repos\n"
     "  One line per repository: INDEX, NAME, PATH, SERVER_ID, FLAGS (e enabled,\n"
     "  h hidden, m mounted).\n"},
    {"repo-add",
     "ordika-cli repo-add NAME\n"
     "  Creates a repository under the repository root with a generated password\n"
     "  and prints its INDEX.\n"},
    {"repo-export",
     "ordika-cli repo-export INDEX FILE\n"
     "  Writes the repository file of server repository INDEX (account, server id\n"
     "  and repository password, for another profile to clone it), encrypted under\n"
     "  an export password (ORDIKA_EXPORT_PASSWORD, else asked twice).\n"},
    {"repo-import",
     "ordika-cli repo-import FILE\n"
     "  Reads a repository file written by repo-export (export password from\n"
     "  ORDIKA_EXPORT_PASSWORD, else asked), clones that server repository into a\n"
     "  new local repository and prints its INDEX. Needs a sync account.\n"},
    {"tags",
     "ordika-cli tags\n"
     "  Every tag in tree order: UUID, PARENT_UUID (empty for a repository's root\n"
     "  tag), REPO, DEPTH, NAME (a root tag shows its repository's name).\n"},
    {"tag-add", "ordika-cli tag-add PARENT_UUID NAME\n  Creates a tag below the parent and prints its UUID.\n"},
    {"tag-rm",
     "ordika-cli tag-rm UUID\n"
     "  Deletes the tag and its subtree; items left without a tag are linked to the\n"
     "  deleted tag's parent.\n"},
    {"items",
     "ordika-cli items [VIEW]\n"
     "  The items of a view in list order: UUID, TYPE (task, event, note, contact,\n"
     "  key), FLAGS (c completed, t trashed), LIST_TIME, TITLE. VIEW is all (default),\n"
     "  tag:UUID, trash, reminders, search:TEXT, upcoming, day:YYYY-MM-DD, tasks,\n"
     "  events, notes, contacts, keys or untagged.\n"},
    {"show", "ordika-cli show UUID\n  Prints the item's detail text in the markup language.\n"},
    {"add",
     "ordika-cli add TYPE TAG_UUID --title T [OPTIONS]\n"
     "  Stores a new item of TYPE (task, event, note, contact, key) under the tag and\n"
     "  prints its UUID. Options:\n"
     "    --body-file F      the body (a contact's body is a vCard)\n"
     "    --due TIME         due time of a task, start of an event (\"\" for none)\n"
     "    --end TIME         end of an event\n"
     "    --remind N(m,h,d,w) reminder lead time, e.g. 10m; 0 for none\n"
     "    --rrule RRULE      recurrence as in iCalendar, e.g. FREQ=WEEKLY;BYDAY=MO\n"
     "    --markup           the body is markup\n"
     "    --url U --user U --expires YYYY-MM-DD --notes N   (keys)\n"
     "    --password-file F  the key's password: the first line of F\n"
     "    --password -       the key's password: the first line of standard input\n"
     "    --password P       the key's password (visible to other users in the\n"
     "                       process list; prefer the two above)\n"
     "  TIME is \"YYYY-MM-DD HH:MM\" local time. Tasks and events without --due get\n"
     "  the next half hour and a 10-minute reminder, as in the window.\n"},
    {"edit",
     "ordika-cli edit UUID [OPTIONS] [--keep-history]\n"
     "  Changes an item with the options of 'add' (and --title); --keep-history keeps\n"
     "  the previous version. Only what the options name changes: a task without a\n"
     "  due time keeps none, a key's fields stay as stored unless one is given.\n"},
    {"done", "ordika-cli done UUID\n  Toggles the completed flag.\n"},
    {"trash", "ordika-cli trash UUID\n  Moves the item to the trash, or back.\n"},
    {"rm", "ordika-cli rm UUID\n  Deletes the item with all its versions.\n"},
    {"link", "ordika-cli link UUID TAG_UUID\n  Tags the item.\n"},
    {"unlink", "ordika-cli unlink UUID TAG_UUID\n  Untags the item.\n"},
    {"history", "ordika-cli history UUID\n  The item's stored earlier versions: HASH, MODIFIED, TITLE.\n"},
    {"import",
     "ordika-cli import ics|vcf|json FILE TAG_UUID\n"
     "ordika-cli import note FILE... TAG_UUID\n"
     "  Imports into the tag's repository and prints the number of items imported.\n"},
    {"export",
     "ordika-cli export ics|vcf|json TAG_UUID FILE\n"
     "ordika-cli export notes TAG_UUID DIR\n"
     "  Exports the tasks and events, contacts, keys or notes of the tag's repository.\n"
     "  Files are created readable by you only (mode 0600); an existing FILE is\n"
     "  replaced whole through a temporary file. Nothing is written into the\n"
     "  profile directory or a repository's directory.\n"},
    {"undo", "ordika-cli undo INDEX\n  Takes back the last change of repository INDEX.\n"},
    {"redo", "ordika-cli redo INDEX\n  Applies again the last change taken back.\n"},
    {"account",
     "ordika-cli account set NUMBER USER HOST[:PORT]\n"
     "  Stores the sync account the server's administrator gave you (password from\n"
     "  ORDIKA_ACCOUNT_PASSWORD, else asked). HOST may carry :PORT (default 443).\n"
     "ordika-cli account show\n"
     "  NUMBER, USER, HOST of the stored account.\n"
     "ordika-cli account passwd\n"
     "  Changes the account password on the server (new one from\n"
     "  ORDIKA_NEW_ACCOUNT_PASSWORD, else asked twice) and stores it.\n"},
    {"server",
     "ordika-cli server ls\n"
     "  The identifiers of the account's repositories on the server.\n"
     "ordika-cli server create INDEX\n"
     "  Puts local repository INDEX on the server and links it; prints its ID.\n"
     "ordika-cli server clone ID\n"
     "  Clones a server repository (password from ORDIKA_REPO_PASSWORD, else asked)\n"
     "  into a new local repository and prints its INDEX.\n"
     "ordika-cli server rm ID\n"
     "  Deletes a repository on the server (local copies stay).\n"},
    {"sync",
     "ordika-cli sync [INDEX] [--prefer server|local]\n"
     "  Synchronises repository INDEX, or every repository linked to a server, with\n"
     "  the server. Versions that differ only in their modification time are settled\n"
     "  by themselves; other conflicts take the server's or the local version with\n"
     "  --prefer. Without it the sync of that repository stops, changes nothing and\n"
     "  lists the conflicts: UUID, INDEX, LOCAL_TITLE, SERVER_TITLE (exit status 1).\n"},
    {"dav",
     "ordika-cli dav add URL --user USER [--only NAME]... [--trust-fingerprint SHA256]\n"
     "                   [--password-file F]\n"
     "  Adds a calendar and contacts account: finds the server's calendars and\n"
     "  address books from URL (a bare host is enough), makes a new repository\n"
     "  named \"USER on HOST\" with one tag per collection (every one, or those named\n"
     "  with --only), and keeps the password in the encrypted configuration. The\n"
     "  password comes from ORDIKA_DAV_PASSWORD, else the first line of F, else it\n"
     "  is asked for. --trust-fingerprint accepts a server whose certificate does not\n"
     "  verify (self-signed) when its SHA-256 fingerprint is this one. Prints the\n"
     "  repository's INDEX, then one line per collection: TAG_UUID, KIND (events,\n"
     "  tasks, events+tasks or contacts), DISPLAY_NAME, HREF.\n"
     "ordika-cli dav ls\n"
     "  One line per account: INDEX, URL, USER, LAST_SYNC (YYYY-MM-DD HH:MM or never).\n"
     "ordika-cli dav sync [INDEX]\n"
     "  Synchronises the account of repository INDEX, or every account, both ways.\n"
     "  Prints one line per account synchronised: INDEX pulled N, pushed N, deleted\n"
     "  here N, deleted there N, conflicts N (the conflicting items are named on\n"
     "  standard error; the server's version became current and the local one is in\n"
     "  the item's history). Exit status 1 when any account failed, with the reason\n"
     "  on standard error; a failed sync changes nothing.\n"
     "ordika-cli dav rm INDEX [--delete]\n"
     "  Forgets the account of repository INDEX and its password; the repository\n"
     "  stays as a local one unless --delete. The server is never touched.\n"},
    {"passwd",
     "ordika-cli passwd\n"
     "  Changes the master password (new one from ORDIKA_NEW_PASSWORD, else asked\n"
     "  twice).\n"},
};

const char* const kTypeNames[] = {"task", "event", "note", "contact", "key"};

}  // namespace

// ---------------------------------------------------------------------------
// Shared helpers

int cli_fail(const char* format, ...) {
  std::fputs("ordika-cli: ", stderr);
  va_list ap;
  va_start(ap, format);
  std::vfprintf(stderr, format, ap);
  va_end(ap);
  std::fputc('\n', stderr);
  return 1;
}

int cli_usage(const char* command) {
  for (auto& h : kHelp)
    if (command && std::strcmp(h.name, command) == 0) {
      std::fputs(h.text, stderr);
      return 2;
    }
  std::fputs(kUsage, stderr);
  return 2;
}

namespace {

// Control characters (C0, DEL and the UTF-8 forms of C1) become spaces, so
// that a title from an imported file cannot drive the terminal; `keep` are
// left as they are.
std::string printable(const std::string& s, const char* keep) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == 0xc2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) >= 0x80 &&
        static_cast<unsigned char>(s[i + 1]) <= 0x9f) {
      out.push_back(' ');
      ++i;
    } else if ((c < 0x20 || c == 0x7f) && !(c && std::strchr(keep, c))) {
      out.push_back(' ');
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

}  // namespace

std::string cli_field(const std::string& s) { return printable(s, ""); }

std::string cli_text(const std::string& s) { return printable(s, "\n\t"); }

std::string cli_time(int64_t t) {
  if (t == 0) return std::string();
  time_t tt = static_cast<time_t>(t);
  struct tm tm {};
  localtime_r(&tt, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &tm);
  return buf;
}

int cli_parse_time(const char* text, int64_t* out) {
  int y, mo, d, h, mi;
  char tail;
  if (std::strlen(text) != 16 || std::sscanf(text, "%4d-%2d-%2d %2d:%2d%c", &y, &mo, &d, &h, &mi, &tail) != 5)
    return -1;
  if (y < 1970 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || h < 0 || mi < 0) return -1;
  struct tm tm {};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_isdst = -1;
  time_t t = mktime(&tm);
  if (t == static_cast<time_t>(-1) || tm.tm_mday != d) return -1;
  *out = t;
  return 0;
}

int cli_parse_date(const char* text, int* y, int* m, int* d) {
  char tail;
  if (std::strlen(text) != 10 || std::sscanf(text, "%4d-%2d-%2d%c", y, m, d, &tail) != 3) return -1;
  if (*y < 1970 || *m < 1 || *m > 12 || *d < 1 || *d > 31) return -1;
  return 0;
}

int cli_parse_index(const char* text, int* index) {
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (!*text || *end || v < 0 || v >= static_cast<long>(repo_table().size())) return -1;
  *index = static_cast<int>(v);
  return 0;
}

int64_t cli_item(const char* uuid) {
  int64_t slot = item_find_hex(uuid);
  if (slot < 0) cli_fail("no item with uuid %s", uuid);
  return slot;
}

int64_t cli_tag(const char* uuid) {
  int64_t slot = tag_find_hex(uuid);
  if (slot < 1) {
    cli_fail("no tag with uuid %s", uuid);
    return -1;
  }
  return slot;
}

int cli_refuses(int64_t tag, int type) {
  const Tag* t = tag_get(tag);
  if (!t || !dav_refuses_kind(t->repo, type)) return 0;
  return cli_fail("%s", dav_refusal_text(t->repo).c_str());
}

const char* cli_type_name(int type) { return type >= 0 && type < 5 ? kTypeNames[type] : "?"; }

int cli_type_from_name(const char* name) {
  for (int i = 0; i < 5; i++)
    if (std::strcmp(name, kTypeNames[i]) == 0) return i;
  return -1;
}

std::string cli_repo_name(int repo) {
  return repo >= 0 && repo < static_cast<int>(repo_table().size()) ? repo_table()[repo].name : std::string();
}

namespace {
std::string g_start_dir;  // the working directory the tool was started in
}  // namespace

std::string cli_path(const char* arg) {
  if (!arg || !*arg || arg[0] == '/' || g_start_dir.empty()) return arg ? arg : "";
  return g_start_dir + "/" + arg;
}

int cli_export_target_ok(const std::string& path, bool dir) {
  switch (export_target_check(path, dir)) {
    case EXPORT_TARGET_OK: return 0;
    case EXPORT_TARGET_PROFILE:
      return cli_fail("%s is in the profile directory; exports are not written there", path.c_str());
    case EXPORT_TARGET_REPOSITORY:
      return cli_fail("%s is in a repository's directory; exports are not written there", path.c_str());
    default:
      if (dir) return cli_fail("%s is not a folder", path.c_str());
      return cli_fail("cannot write %s: %s is not a folder", path.c_str(), path_parent(path).c_str());
  }
}

// ---------------------------------------------------------------------------
// Profile and start-up

namespace {

// The tool's one run: main owns it.
struct Session {
  std::string profile = "Ordika";
  bool wrong_password = false;
  bool started = false;
};

std::string home_dir() {
  const char* h = std::getenv("HOME");
  return h ? h : "";
}

std::string profile_config_file(const std::string& profile) {
  return home_dir() + "/.config/" + profile + "/config";
}

int locale_language() {
  const char* names[] = {std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG")};
  for (const char* n : names)
    if (n && *n) return language_from_locale(n);
  return 0;
}

void show_startup_message(StrId id) {
  // A wrong password is reported once by the caller.
  if (id == STR_MSG_WRONG_PASSWORD) return;
  const char* text = ui_string(id);
  if (text && *text) std::fprintf(stderr, "ordika-cli: %s\n", ui_string_line(id).c_str());
}

// Starts the session on an existing profile (create = false) or makes a new
// one. Returns 0, or the exit status.
int start(Session* session, bool create) {
  std::string config = profile_config_file(session->profile);
  if (home_dir().empty()) return cli_fail("HOME is not set");
  if (!create && !path_exists(config)) return cli_fail("profile '%s' not found", session->profile.c_str());
  if (create && path_exists(config)) return cli_fail("profile '%s' exists already", session->profile.c_str());
  StartupIO io;
  io.ask_password = [session](int attempt, std::string* pw) {
    if (attempt > 1) {
      session->wrong_password = true;
      return 1;
    }
    return read_secret("ORDIKA_PASSWORD", "Master password: ", pw) == 0 ? 0 : 1;
  };
  io.ask_new_password = [](int attempt, std::string* pw) {
    if (attempt > 1) return 1;
    return read_secret("ORDIKA_PASSWORD", "New master password: ", pw) == 0 ? 0 : 1;
  };
  io.ask_confirmation = [](int, std::string* pw) {
    if (const char* v = std::getenv("ORDIKA_PASSWORD")) {
      *pw = v;
      return 0;
    }
    return read_secret(nullptr, "Repeat the master password: ", pw) == 0 ? 0 : 1;
  };
  io.show_message = show_startup_message;
  int rc = app_startup(session->profile.c_str(), nullptr, locale_language(), io);
  if (rc != STARTUP_READY) {
    if (session->wrong_password) return cli_fail("wrong master password");
    if (create) return cli_fail("the profile was not created");
    return cli_fail("cannot open profile '%s'", session->profile.c_str());
  }
  session->started = true;
  dav_account_init();
  return 0;
}

// The tool keeps the journals so that 'undo' in a later run takes back the
// last command: it closes without the window's clean-up.
void finish(Session* session) {
  if (!session->started) return;
  log_message(LOG_INFO, "ordika-cli: finished");
  repo_table_clear();
  items_reset();
  tags_reset();
  config_set(nullptr, app_core().config_dir);
  log_stop();
  session->started = false;
}

int run_command(Session* session, int argc, char** argv) {
  const char* cmd = argv[0];
  if (std::strcmp(cmd, "init") == 0) {
    if (argc != 1) return cli_usage(cmd);
    return start(session, true);
  }
  auto it = cli_commands().find(cmd);
  if (it == cli_commands().end()) {
    cli_fail("unknown command '%s'", cmd);
    return cli_usage(nullptr);
  }
  const CliCommand& c = it->second;
  if (argc - 1 < c.min_args || (c.max_args >= 0 && argc - 1 > c.max_args)) return cli_usage(cmd);
  int rc = start(session, false);
  if (rc != 0) return rc;
  log_message(LOG_INFO, "ordika-cli: %s", cmd);
  return c.run(argc, argv);
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  shown_dates_iso(true);
  Session session;
  block_all_signals();
  // The tool has no dialog to cancel from: interrupting, terminating or
  // closing the terminal ends it at once (an open transaction is rolled back
  // by the next open, so every repository stays as it was).
  {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGHUP);
    pthread_sigmask(SIG_UNBLOCK, &stop, nullptr);
  }
  // Nor does it wait forever for a server that does not answer.
  {
    const char* t = std::getenv("ORDIKA_NET_TIMEOUT");
    int seconds = t && *t ? std::atoi(t) : 0;
    conn_set_timeout(seconds > 0 ? seconds : kNetTimeout);
  }
  {
    std::vector<char> cwd(4096);
    if (::getcwd(cwd.data(), cwd.size())) g_start_dir = cwd.data();
  }
  int i = 1;
  while (i < argc && argv[i][0] == '-') {
    if (std::strcmp(argv[i], "--profile") == 0 && i + 1 < argc) {
      session.profile = argv[i + 1];
      i += 2;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    } else {
      cli_fail("unknown option '%s'", argv[i]);
      return cli_usage(nullptr);
    }
  }
  if (i >= argc) return cli_usage(nullptr);
  if (std::strcmp(argv[i], "help") == 0) {
    if (i + 1 < argc) {
      for (auto& h : kHelp)
        if (std::strcmp(h.name, argv[i + 1]) == 0) {
          std::fputs(h.text, stdout);
          return 0;
        }
      return cli_usage(nullptr);
    }
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (session.profile.empty() || session.profile.find('/') != std::string::npos || session.profile == "." ||
      session.profile == "..") {
    cli_fail("invalid profile name '%s'", session.profile.c_str());
    return 2;
  }
  int rc = run_command(&session, argc - i, argv + i);
  finish(&session);
  return rc;
}
