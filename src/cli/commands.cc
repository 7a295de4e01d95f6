// SPDX-License-Identifier: GPL-3.0-or-later
// The commands of ordika-cli that read and change the model.
#include <openssl/crypto.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

#include "cli/cli.h"
#include "cli/cli_io.h"
#include "cli/cli_sync.h"
#include "cli/prompt.h"
#include "crypto/crypto.h"
#include "interchange/ical.h"
#include "model/app_core.h"
#include "model/forms.h"
#include "model/item.h"
#include "model/list_order.h"
#include "model/model.h"
#include "model/mount.h"
#include "model/ops.h"
#include "model/recur.h"
#include "model/search.h"
#include "model/tag.h"
#include "model/tag_ops.h"
#include "model/view_dates.h"
#include "storage/repo.h"
#include "support/log.h"
#include "support/text.h"

namespace {

bool repo_mounted(int index) {
  return index >= 0 && index < static_cast<int>(repo_table().size()) && repo_table()[index].mounted &&
         repo_table()[index].db;
}

// ---------------------------------------------------------------------------
// Repositories

int cmd_repos(int, char**) {
  for (size_t i = 0; i < repo_table().size(); i++) {
    const RepoEntry& e = repo_table()[i];
    std::string flags;
    if (e.enabled) flags += 'e';
    if (e.hidden) flags += 'h';
    if (e.mounted) flags += 'm';
    std::printf("%zu\t%s\t%s\t%s\t%s\n", i, cli_field(e.name).c_str(), cli_field(e.path).c_str(),
                cli_field(e.server_id).c_str(), flags.c_str());
  }
  return 0;
}

int cmd_repo_add(int, char** argv) {
  const char* name = argv[1];
  if (!*name) return cli_fail("a repository needs a name");
  RepoRecord rec;
  rec.name = name;
  if (repo_create_dir(app_core().repo_root.c_str(), &rec.path) != 0)
    return cli_fail("cannot make a repository directory in %s", app_core().repo_root.c_str());
  char pw[21];
  password_generate(pw, 20, 15);
  rec.password = pw;
  OPENSSL_cleanse(pw, sizeof pw);
  int index = -1;
  int rc = repo_register(rec, &index);
  if (rc != 0 || index < 0) return cli_fail("cannot create repository '%s' (%d)", name, rc);
  repo_remount();
  if (!repo_mounted(index)) return cli_fail("repository %d was created but does not mount", index);
  std::printf("%d\n", index);
  return 0;
}

int cmd_repo_export(int, char** argv) {
  int index;
  if (cli_parse_index(argv[1], &index) != 0) return cli_fail("no repository %s", argv[1]);
  // The file hands a server repository (account, server id, password) to
  // another profile; a local repository has nothing to hand over.
  if (repo_table()[index].server_id.empty() || repo_table()[index].account_id == 0)
    return cli_fail("repository %d is not on a server; only server repositories can be exported", index);
  std::string pw;
  int rc = read_password("ORDIKA_EXPORT_PASSWORD", "Export password: ", PASSWORD_TWICE | PASSWORD_STRONG, &pw);
  if (rc != 0) return rc;
  std::string target = cli_path(argv[2]);
  if (cli_export_target_ok(target, false) != 0) {
    wipe(&pw);
    return 1;
  }
  rc = repo_export_file(&repo_table()[index], pw.c_str(), target.c_str());
  wipe(&pw);
  if (rc != 0) return cli_fail("cannot write %s", argv[2]);
  return 0;
}

int cmd_passwd(int, char**) {
  std::string pw;
  int rc = read_password("ORDIKA_NEW_PASSWORD", "New master password: ", PASSWORD_TWICE | PASSWORD_STRONG, &pw);
  if (rc != 0) return rc;
  rc = change_master_password(pw.c_str());
  wipe(&pw);
  if (rc != 0) return cli_fail("the master password was not changed");
  return 0;
}

int cmd_journal(int, char** argv) {
  int index;
  if (cli_parse_index(argv[1], &index) != 0) return cli_fail("no repository %s", argv[1]);
  if (!repo_mounted(index)) return cli_fail("repository %d is not mounted", index);
  bool undo = std::strcmp(argv[0], "undo") == 0;
  int rc = repo_journal_step(index, undo ? 0 : 1);
  if (rc == 1) return cli_fail("nothing to %s in repository %d", argv[0], index);
  if (rc != 0) return cli_fail("%s failed (%d)", argv[0], rc);
  return 0;
}

// ---------------------------------------------------------------------------
// Tags

int cmd_tags(int, char**) {
  for (const TagRow& r : tag_tree_rows(cli_repo_name)) {
    const Tag* t = tag_get(r.slot);
    if (!t) continue;
    bool root = uuid_is_zero(t->parent);
    std::printf("%s\t%s\t%d\t%d\t%s\n", uuid_to_hex(t->uuid).c_str(), root ? "" : uuid_to_hex(t->parent).c_str(),
                t->repo, r.depth, cli_field(root ? cli_repo_name(t->repo) : t->name).c_str());
  }
  return 0;
}

int cmd_tag_add(int, char** argv) {
  int64_t parent = cli_tag(argv[1]);
  if (parent < 0) return 1;
  if (!*argv[2]) return cli_fail("a tag needs a name");
  if (!utf8_valid(argv[2])) return cli_fail("the name is not valid UTF-8");
  const Tag* p = tag_get(parent);
  int64_t slot = tag_create(p->repo, parent, argv[2]);
  if (slot < 0) return cli_fail("cannot create the tag");
  std::printf("%s\n", uuid_to_hex(tag_get(slot)->uuid).c_str());
  return 0;
}

int cmd_tag_rm(int, char** argv) {
  int64_t slot = cli_tag(argv[1]);
  if (slot < 0) return 1;
  int rc = delete_tag(slot);
  if (rc == -2) return cli_fail("a repository's root tag cannot be deleted");
  if (rc != 0) return cli_fail("cannot delete the tag (%d)", rc);
  return 0;
}

// ---------------------------------------------------------------------------
// Listing

int select_view(const char* view) {
  Model& m = model();
  m.selected_item = -1;
  struct Fixed {
    const char* name;
    int kind;
  } fixed[] = {{"all", FIXED_ALL},           {"upcoming", FIXED_UPCOMING}, {"tasks", FIXED_TASKS},
               {"events", FIXED_TASKS + 1},  {"notes", FIXED_TASKS + 2},   {"contacts", FIXED_TASKS + 3},
               {"keys", FIXED_TASKS + 4},    {"untagged", FIXED_UNTAGGED}};
  for (auto& f : fixed)
    if (std::strcmp(view, f.name) == 0) {
      m.view = VIEW_FIXED;
      m.fixed_kind = f.kind;
      return 0;
    }
  if (std::strcmp(view, "trash") == 0) {
    m.view = VIEW_TRASH;
    return 0;
  }
  if (std::strcmp(view, "reminders") == 0) {
    m.view = VIEW_REMINDERS;
    return 0;
  }
  if (std::strncmp(view, "tag:", 4) == 0) {
    int64_t slot = cli_tag(view + 4);
    if (slot < 0) return 1;
    m.view = static_cast<int32_t>(slot);
    return 0;
  }
  if (std::strncmp(view, "search:", 7) == 0) {
    items_search(view + 7, 0);
    m.view = VIEW_SEARCH;
    return 0;
  }
  if (std::strncmp(view, "day:", 4) == 0) {
    int y, mo, d;
    if (cli_parse_date(view + 4, &y, &mo, &d) != 0) return cli_fail("bad day '%s' (YYYY-MM-DD)", view + 4);
    calendar_select_day(y, mo, d);
    m.view = VIEW_FIXED;
    m.fixed_kind = FIXED_CALENDAR_DAY;
    return 0;
  }
  cli_fail("unknown view '%s'", view);
  return 2;
}

int cmd_items(int argc, char** argv) {
  int rc = select_view(argc > 1 ? argv[1] : "all");
  if (rc != 0) return rc;
  int64_t now = time(nullptr);
  for (const ListRow& r : list_rows(list_sort_column(app_core().settings.sort_by), now)) {
    const Item* it = item_get(r.slot);
    if (!it) continue;
    std::string flags;
    if (it->flags & ITEM_COMPLETED) flags += 'c';
    if (it->flags & ITEM_TRASHED) flags += 't';
    std::printf("%s\t%s\t%s\t%s\t%s\n", uuid_to_hex(it->uuid).c_str(), cli_type_name(it->type), flags.c_str(),
                cli_time(r.time).c_str(), cli_field(it->title).c_str());
  }
  return 0;
}

int cmd_history(int, char** argv) {
  int64_t slot = cli_item(argv[1]);
  if (slot < 0) return 1;
  HistoryView history;
  if (history_load(&history, item_get(slot)) < 0) return cli_fail("cannot read the history");
  int64_t cursor = -1;
  while (const Item* h = slot_next<Item>(history.versions, &cursor))
    std::printf("%s\t%s\t%s\n", hex_encode(h->version_hash, 20).c_str(), cli_time(h->modified).c_str(),
                cli_field(h->title).c_str());
  return 0;
}

// ---------------------------------------------------------------------------
// Adding and editing

struct ItemOptions {
  const char* title = nullptr;
  const char* body_file = nullptr;
  const char* due = nullptr;
  const char* end = nullptr;
  const char* remind = nullptr;
  const char* rrule = nullptr;
  bool markup = false;
  bool keep_history = false;
  const char* url = nullptr;
  const char* user = nullptr;
  const char* password = nullptr;
  const char* expires = nullptr;
  const char* notes = nullptr;
  const char* password_file = nullptr;
  std::string secret;  // the password read from a file or standard input
  ~ItemOptions() { wipe(&secret); }
};

// The first line of a file ("-": standard input) without its line end.
int read_password_line(const char* from, std::string* out) {
  bool stdin_ = std::strcmp(from, "-") == 0;
  std::string path = stdin_ ? std::string() : cli_path(from);
  FILE* f = stdin_ ? stdin : std::fopen(path.c_str(), "rb");
  if (!f) return cli_fail("cannot read %s", from);
  out->clear();
  int ch;
  while ((ch = std::fgetc(f)) != EOF && ch != '\n') out->push_back(static_cast<char>(ch));
  if (!stdin_) std::fclose(f);
  if (!out->empty() && out->back() == '\r') out->pop_back();
  return 0;
}

// 0, or the exit status.
int parse_options(int argc, char** argv, int first, bool edit, ItemOptions* o) {
  struct Opt {
    const char* name;
    const char** target;
  } opts[] = {{"--title", &o->title},     {"--body-file", &o->body_file}, {"--due", &o->due},
              {"--end", &o->end},         {"--remind", &o->remind},       {"--rrule", &o->rrule},
              {"--url", &o->url},         {"--user", &o->user},           {"--password", &o->password},
              {"--expires", &o->expires}, {"--notes", &o->notes}, {"--password-file", &o->password_file}};
  for (int i = first; i < argc; i++) {
    if (std::strcmp(argv[i], "--markup") == 0) {
      o->markup = true;
      continue;
    }
    if (edit && std::strcmp(argv[i], "--keep-history") == 0) {
      o->keep_history = true;
      continue;
    }
    bool found = false;
    for (auto& opt : opts)
      if (std::strcmp(argv[i], opt.name) == 0) {
        if (i + 1 >= argc) {
          cli_fail("%s needs a value", opt.name);
          return 2;
        }
        *opt.target = argv[++i];
        found = true;
        break;
      }
    if (!found) {
      cli_fail("unknown option '%s'", argv[i]);
      return 2;
    }
  }
  if (o->password_file && o->password) {
    cli_fail("--password and --password-file exclude each other");
    return 2;
  }
  // "--password -" and --password-file keep the password out of the
  // process list.
  const char* from = o->password_file ? o->password_file
                     : o->password && std::strcmp(o->password, "-") == 0 ? "-"
                                                                          : nullptr;
  if (from) {
    if (read_password_line(from, &o->secret) != 0) return 1;
    o->password = o->secret.c_str();
  }
  return 0;
}

int read_text_file(const char* path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return cli_fail("cannot read %s", path);
  std::stringstream ss;
  ss << in.rdbuf();
  *out = ss.str();
  if (!utf8_valid_n(out->data(), out->size())) return cli_fail("%s is not valid UTF-8 text", path);
  return 0;
}

int parse_remind(const char* text, ItemForm* f) {
  if (std::strcmp(text, "0") == 0) {
    f->remind_unit = 0;
    f->remind_count = 0;
    return 0;
  }
  size_t n = std::strlen(text);
  if (n < 2) return -1;
  const char* units = "mhdw";
  const char* u = std::strchr(units, text[n - 1]);
  if (!u || !*u) return -1;
  for (size_t i = 0; i + 1 < n; i++)
    if (text[i] < '0' || text[i] > '9') return -1;
  long count = std::strtol(std::string(text, n - 1).c_str(), nullptr, 10);
  if (count > 100000) return -1;
  f->remind_unit = static_cast<int32_t>(u - units) + 1;
  f->remind_count = static_cast<int32_t>(count);
  return 0;
}

int parse_rrule(const char* text, ItemForm* f) {
  if (!*text) {
    form_clear_rule(f);
    return 0;
  }
  IcalRule r;
  if (ical_parse_rrule(text, text + std::strlen(text), &r) != 0) return -1;
  return form_set_rule(f, ical_rule_fields(r));
}

int parse_time_option(const char* name, const char* text, int64_t* out) {
  if (!*text) {
    *out = 0;
    return 0;
  }
  if (cli_parse_time(text, out) != 0) {
    cli_fail("bad time for %s: '%s' (YYYY-MM-DD HH:MM)", name, text);
    return 1;
  }
  return 0;
}

// Applies the options to a form: a new item's defaults (creating), or an
// item as stored, of which only what an option names changes.
int apply_options(const ItemOptions& o, int type, bool creating, ItemForm* f) {
  if (o.title) f->title = o.title;
  if (o.body_file) {
    int rc = read_text_file(cli_path(o.body_file).c_str(), &f->body);
    if (rc != 0) return rc;
  }
  if (o.markup) f->markup = 1;
  if (o.due && parse_time_option("--due", o.due, &f->due) != 0) return 1;
  if (o.end && parse_time_option("--end", o.end, &f->end) != 0) return 1;
  if (o.remind && parse_remind(o.remind, f) != 0)
    return cli_fail("bad reminder '%s' (a number followed by m, h, d or w, or 0)", o.remind);
  if (o.rrule && parse_rrule(o.rrule, f) != 0) return cli_fail("bad recurrence rule '%s'", o.rrule);
  if ((o.url || o.user || o.password || o.expires || o.notes) && type != ITEM_KEY)
    return cli_fail("--url, --user, --password, --expires and --notes are for keys");
  if ((o.due || o.end || o.remind || o.rrule) && type != ITEM_TASK && type != ITEM_EVENT)
    return cli_fail("--due, --end, --remind and --rrule are for tasks and events");
  if (o.end && type != ITEM_EVENT) return cli_fail("--end is for events");
  // The model keeps no reminder without an occurrence to remind of.
  if (o.remind && f->remind_unit && !f->due) return cli_fail("a reminder needs a due time (--due)");
  // A key's body is its fields: rewritten when one of them is given (or the
  // whole body), else kept byte for byte.
  bool key_fields = o.url || o.user || o.password || o.expires || o.notes || o.body_file;
  if (type == ITEM_KEY && (creating || key_fields)) {
    KeyBody kb;
    key_body_parse(f->body.c_str(), &kb);
    if (o.url) kb.url = o.url;
    if (o.user) kb.user = o.user;
    if (o.password) kb.password = o.password;
    if (o.notes) kb.notes = o.notes;
    if (o.expires) {
      if (!*o.expires) {
        kb.date = 0;
      } else {
        int y, m, d;
        if (cli_parse_date(o.expires, &y, &m, &d) != 0) return cli_fail("bad date for --expires: '%s'", o.expires);
        kb.date = local_time_of(y, m, d, 0, 0, 0);
      }
      key_form_set_expiry(f, kb.date);
    }
    f->body = key_body_format(kb);
    if (!kb.password.empty()) OPENSSL_cleanse(&kb.password[0], kb.password.size());
    f->markup = 1;
  }
  if (creating && type == ITEM_VCARD && f->body.empty()) f->body = contact_default_body(f->title);
  // The times are checked when the options change them: an item stored
  // otherwise stays editable.
  if (type == ITEM_EVENT && (o.due || o.end) && f->end != 0) {
    if (f->due == 0) return cli_fail("an event with an end needs a start (--due)");
    if (f->end < f->due) return cli_fail("the end is before the start");
  }
  if (!utf8_valid(f->title.c_str())) return cli_fail("the title is not valid UTF-8");
  return 0;
}

int cmd_add(int argc, char** argv) {
  int type = cli_type_from_name(argv[1]);
  if (type < 0) {
    cli_fail("unknown item type '%s'", argv[1]);
    return cli_usage("add");
  }
  int64_t tag = cli_tag(argv[2]);
  if (tag < 0) return 1;
  ItemOptions o;
  int rc = parse_options(argc, argv, 3, false, &o);
  if (rc != 0) return rc;
  if (!o.title || !*o.title) return cli_fail("a new item needs --title");
  ItemForm form;
  item_form_fill(-1, type, &form);
  if (type == ITEM_KEY) form.remind_unit = form.remind_count = 0;
  rc = apply_options(o, type, true, &form);
  if (rc != 0) return rc;
  int64_t slot = item_store(-1, type, form, 0, tag);
  if (slot < 0) return cli_fail("the item was not stored");
  std::printf("%s\n", uuid_to_hex(item_get(slot)->uuid).c_str());
  return 0;
}

int cmd_edit(int argc, char** argv) {
  int64_t slot = cli_item(argv[1]);
  if (slot < 0) return 1;
  ItemOptions o;
  int rc = parse_options(argc, argv, 2, true, &o);
  if (rc != 0) return rc;
  if (o.title && !*o.title) return cli_fail("the title cannot be empty");
  const Item* it = item_get(slot);
  int type = it->type;
  // The item as stored, not an editor's form: a task without a due time
  // keeps none, an event its missing end.
  ItemForm before, form;
  form_from_item(it, &before);
  form = before;
  rc = apply_options(o, type, false, &form);
  if (rc != 0) return rc;
  if (!item_form_differs(before, form)) return 0;
  if (item_store(slot, type, form, o.keep_history ? 1 : 0, -1) < 0) return cli_fail("the item was not stored");
  return 0;
}

int cmd_flags(int, char** argv) {
  int64_t slot = cli_item(argv[1]);
  if (slot < 0) return 1;
  Item* it = item_get(slot);
  if (std::strcmp(argv[0], "rm") == 0) {
    if (item_remove(slot) != 0) return cli_fail("the item was not deleted");
    return 0;
  }
  int flag = std::strcmp(argv[0], "done") == 0 ? ITEM_COMPLETED : ITEM_TRASHED;
  if (flag == ITEM_COMPLETED && it->type != ITEM_TASK) return cli_fail("only tasks can be completed");
  if (item_set_flags(slot, it->flags ^ flag) != 0) return cli_fail("the item was not changed");
  return 0;
}

int cmd_link(int, char** argv) {
  int64_t item = cli_item(argv[1]);
  if (item < 0) return 1;
  int64_t tag = cli_tag(argv[2]);
  if (tag < 0) return 1;
  const Item* it = item_get(item);
  const Tag* t = tag_get(tag);
  if (t->repo != it->repo) return cli_fail("the tag belongs to another repository");
  bool set = std::strcmp(argv[0], "link") == 0;
  RepoGroup group(it->repo);
  if (group.status() != 0) return cli_fail("repository %d is not writable", it->repo);
  int rc = update_tag_item(static_cast<int32_t>(tag), static_cast<int32_t>(item), set ? 1 : 0);
  if (rc >= 0 && group.commit() != 0) rc = -1;
  if (rc < 0) return cli_fail("the link was not %s", set ? "added" : "removed");
  notify_item_changed(item_get(item), 0);
  return 0;
}

const std::map<std::string, CliCommand> kCommands = {
    {"repos", {0, 0, cmd_repos}},
    {"repo-add", {1, 1, cmd_repo_add}},
    {"repo-export", {2, 2, cmd_repo_export}},
    {"passwd", {0, 0, cmd_passwd}},
    {"undo", {1, 1, cmd_journal}},
    {"redo", {1, 1, cmd_journal}},
    {"tags", {0, 0, cmd_tags}},
    {"tag-add", {2, 2, cmd_tag_add}},
    {"tag-rm", {1, 1, cmd_tag_rm}},
    {"items", {0, 1, cmd_items}},
    {"history", {1, 1, cmd_history}},
    {"add", {2, -1, cmd_add}},
    {"edit", {1, -1, cmd_edit}},
    {"done", {1, 1, cmd_flags}},
    {"trash", {1, 1, cmd_flags}},
    {"rm", {1, 1, cmd_flags}},
    {"link", {2, 2, cmd_link}},
    {"unlink", {2, 2, cmd_link}},
    {"show", {1, 1, cmd_show}},
    {"import", {3, -1, cmd_import}},
    {"export", {3, 3, cmd_export}},
    {"account", {1, 4, cli_sync_command}},
    {"server", {1, 2, cli_sync_command}},
    {"sync", {0, 3, cli_sync_command}},
    {"repo-import", {1, 1, cli_sync_command}},
};

}  // namespace

const std::map<std::string, CliCommand>& cli_commands() { return kCommands; }
