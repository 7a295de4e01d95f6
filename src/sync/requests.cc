// SPDX-License-Identifier: GPL-3.0-or-later
// Single request/reply conversations with the account server.
#include "sync/requests.h"

#include <openssl/crypto.h>
#include <sys/stat.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "crypto/crypto.h"
#include "storage/db.h"
#include "storage/repo.h"
#include "storage/sync_store.h"
#include "support/files.h"
#include "support/log.h"
#include "support/version.h"

namespace {

const char kBuiltinServer[] = "sync.ordika.org";
constexpr size_t kTraceMax = 32000;

const char* payload(const Connection& c) { return reinterpret_cast<const char*>(c.recv_frame + CONN_HEADER); }

// A request text of the form "cmd\narg\n" under `limit` bytes.
int put_request(Connection* c, const std::string& text, size_t limit) {
  if (text.size() >= limit) return -1;
  return conn_put_text(c, text.c_str());
}

bool arg_ok(const char* s) { return s && *s && !std::strchr(s, '\n'); }

// The status of a 1-byte reply frame, or -1 for any other frame.
int status_reply(Connection* c) {
  if (conn_recv(c) != 0) return -1;
  if (c->recv_size != 1) return -1;
  c->recv_pos = 1;
  return static_cast<uint8_t>(payload(*c)[0]);
}

int write_bytes(const std::string& path, const uint8_t* p, size_t n) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return -1;
  bool ok = std::fwrite(p, 1, n, f) == n;
  if (std::fclose(f) != 0) ok = false;
  return ok ? 0 : -1;
}

}  // namespace

ServerLogin::~ServerLogin() { OPENSSL_cleanse(user_hash, sizeof user_hash); }

std::string default_server_host() {
  const char* env = std::getenv("ORDIKA_SERVER");
  return env && *env ? env : kBuiltinServer;
}

int login_for_account(const Account& a, ServerLogin* out) {
  if (a.id <= 0 || a.host.empty()) {
    set_last_error(CONN_ERR_NO_HOST);
    return -1;
  }
  out->host = a.host;
  out->account_id = static_cast<uint32_t>(a.id);
  out->user = a.user;
  std::memcpy(out->user_hash, a.user_hash, 32);
  return 0;
}

int login_for_repo(const RepoEntry& e, const Account& signed_in, ServerLogin* out) {
  if (e.account_id == 0) {
    set_last_error(CONN_ERR_NO_HOST);
    return -1;
  }
  if (signed_in.id > 0 && e.account_id == signed_in.id) return login_for_account(signed_in, out);
  if (e.account_host.empty()) {
    set_last_error(CONN_ERR_NO_HOST);
    return -1;
  }
  out->host = e.account_host;
  out->account_id = static_cast<uint32_t>(e.account_id);
  out->user = e.account_user;
  std::memcpy(out->user_hash, e.account_key, 32);
  return 0;
}

int server_connect(Connection* c, const ServerLogin& login) {
  return conn_connect(c, login.host.c_str(), CONN_PORT, login.account_id, login.user.c_str(), login.user_hash);
}

int server_password_change(const char* host, const char* user, const char* old_password, const char* new_password) {
  if (!arg_ok(user) || !old_password || !new_password) return -1;
  std::string server = host && *host ? host : default_server_host();
  Connection c;
  if (conn_connect(&c, server.c_str(), CONN_PORT, 0, nullptr, nullptr) != 0) return -1;
  uint8_t hashes[64];
  sha256(hashes, old_password, std::strlen(old_password));
  sha256(hashes + 32, new_password, std::strlen(new_password));
  int rc = -1;
  if (put_request(&c, std::string("password\n") + user + "\n", 1000) == 0 && conn_put(&c, hashes, 64) == 0 &&
      conn_send(&c) == 0)
    rc = status_reply(&c);
  OPENSSL_cleanse(hashes, sizeof hashes);
  if (rc != 0) log_message(LOG_ERROR, "password_change: %d", rc);
  conn_close(&c);
  return rc;
}

int server_list_repos(const ServerLogin& login, std::vector<std::string>* ids) {
  ids->clear();
  Connection c;
  if (server_connect(&c, login) != 0) return -1;
  int rc = -1;
  if (conn_put_text(&c, "ls\n.\n") == 0 && conn_send(&c) == 0 && conn_recv(&c) == 0) {
    std::string text(payload(c), static_cast<size_t>(c.recv_size));
    if (text.size() == 1) {
      rc = static_cast<uint8_t>(text[0]);  // a status; 0 is the empty list
    } else {
      rc = 0;
      size_t start = 0;
      while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos) nl = text.size();
        std::string line = text.substr(start, nl - start);
        if (!line.empty() && line.find('\0') == std::string::npos) ids->push_back(line);
        start = nl + 1;
      }
    }
  }
  if (rc != 0) log_message(LOG_ERROR, "repo_list: %d", rc);
  conn_close(&c);
  return rc;
}

int server_create_repo(const ServerLogin& login, const char* id, const char* dir, const uint8_t key[32]) {
  if (!arg_ok(id) || !dir) return -1;
  Connection c;
  if (server_connect(&c, login) != 0) return -1;
  int rc = -1;
  if (put_request(&c, std::string("create repo\n") + id + "\n", 1000) == 0 && conn_send(&c) == 0)
    rc = status_reply(&c);
  if (rc == 0) {
    rc = -1;
    std::string data = path_join(dir, "data");
    if (conn_send_file_paged(&c, data.c_str(), key, "data") == 0 && conn_recv(&c) == 0) {
      if (c.recv_size == CONN_DIGEST) {
        rc = write_bytes(path_join(dir, "list.hash"), c.recv_frame + CONN_HEADER, CONN_DIGEST);
      } else if (c.recv_size == 1 && payload(c)[0] != 0) {
        rc = static_cast<uint8_t>(payload(c)[0]);
      }
    }
  }
  if (rc != 0) log_message(LOG_ERROR, "create_repo: %d", rc);
  conn_close(&c);
  return rc;
}

int server_clone_repo(const ServerLogin& login, const char* id, const char* password, const char* dir,
                      bool (*already_there)(const uint8_t check[64])) {
  if (!arg_ok(id) || !password || !dir) return -1;
  Connection c;
  if (server_connect(&c, login) != 0) return -1;
  int rc = -1;
  uint8_t key[32];
  derive_key(password, key);
  std::string name;
  if (put_request(&c, std::string("clone repo\n") + id + "\n", 1000) == 0 && conn_send(&c) == 0 &&
      conn_recv(&c) == 0) {
    if (c.recv_size != CONN_DIGEST) {
      rc = CLONE_BAD_REPLY;
    } else {
      conn_skip_frame(&c);
      c.dir = dir;
      c.accept_name = [](const char* name) { return std::strcmp(name, "data") == 0; };
      if (write_bytes(path_join(dir, "list.hash"), c.recv_frame + CONN_HEADER, CONN_DIGEST) == 0 &&
          recv_obj_paged(&c, key, &name) == 0 && name == "data")
        rc = 0;
    }
  }
  conn_close(&c);
  if (rc == 0) {
    uint8_t check[64];
    std::string data = path_join(dir, "data");
    // The received database is read as hostile: pages that do not decrypt
    // are a wrong password, a schema other than the format's a bad reply.
    int state = sync_store_check_received_repo(data, key);
    if (state == SYNC_RECEIVED_UNREADABLE) {
      rc = CLONE_WRONG_PASSWORD;
    } else if (state == SYNC_RECEIVED_FOREIGN) {
      rc = CLONE_BAD_REPLY;
    }
    if (rc == 0 && db_get_sign_path(data.c_str(), check, key) != 0) {
      rc = CLONE_WRONG_PASSWORD;  // pages that do not decrypt under the key
    } else if (rc == 0 && already_there && already_there(check)) {
      rc = CLONE_ALREADY_THERE;
    } else if (rc == 0 && key_check_verify(key, check) != 0) {
      rc = CLONE_WRONG_PASSWORD;
    }
  }
  OPENSSL_cleanse(key, sizeof key);
  if (rc != 0) log_message(LOG_ERROR, "clone_repo: %d", rc);
  return rc;
}

int server_delete_repo(const ServerLogin& login, const char* id) {
  if (!arg_ok(id)) return -1;
  Connection c;
  if (server_connect(&c, login) != 0) return -1;
  int rc = -1;
  if (put_request(&c, std::string("del repo\n") + id + "\n", 1000) == 0 && conn_send(&c) == 0 &&
      conn_recv(&c) == 0)
    rc = static_cast<uint8_t>(payload(c)[0]) == 0 ? 0 : static_cast<uint8_t>(payload(c)[0]);
  if (rc != 0) log_message(LOG_ERROR, "delete_repo: %d", rc);
  conn_close(&c);
  return rc;
}

int update_get_version(const ServerLogin& login, const char* language, char* name, size_t size, std::string* notes) {
  if (!name || size == 0) return -1;
  name[0] = 0;
  if (notes) notes->clear();
  char text[64];
  int n = std::snprintf(text, sizeof text, "get version\n%s\n%d\n%s\n", CLIENT_PLATFORM, program_build_number(),
                        language && *language ? language : "en");
  if (n < 0 || n >= 32) return -1;
  Connection c;
  if (server_connect(&c, login) != 0) return -1;
  int rc = -1;
  if (conn_put_text(&c, text) == 0 && conn_send(&c) == 0 && conn_recv(&c) == 0) {
    if (c.recv_size == 1) {
      rc = static_cast<uint8_t>(payload(c)[0]);
    } else {
      size_t len = strnlen(payload(c), static_cast<size_t>(c.recv_size));
      std::string offered(payload(c), len);
      if (len < static_cast<size_t>(c.recv_size)) {
        log_message(LOG_NOTICE, "update_get_version: %s", offered.c_str());
        if (len + 1 <= size) {
          c.recv_pos = static_cast<int>(len + 1);
          c.max_body = 1u << 20;  // release notes, shown in a dialog
          std::string text_notes;
          if (recv_obj(&c, nullptr, nullptr, 1, &text_notes) == 0) {
            std::memcpy(name, offered.c_str(), len + 1);
            if (notes) *notes = text_notes;
            rc = 0;
          }
        }
      }
    }
  }
  if (rc != 0) log_message(LOG_ERROR, "update_get_version: %d", rc);
  conn_close(&c);
  return rc;
}

int update_download(const ServerLogin& login, const char* package, const char* dir, const ConnProgress& progress,
                    std::string* file_name) {
  if (!arg_ok(package) || !dir) return -1;
  std::string text = std::string("get update\n") + package + "\n";
  if (text.size() >= 32) return -1;
  Connection c;
  if (server_connect(&c, login) != 0) return -1;
  int rc = -1;
  if (conn_put_text(&c, text.c_str()) == 0 && conn_send(&c) == 0 && conn_recv(&c) == 0) {
    if (c.recv_size == 1) {
      rc = payload(c)[0] ? static_cast<uint8_t>(payload(c)[0]) : -1;
    } else {
      c.dir = dir;
      // The package lands beside the configuration: only a name the
      // update script can take, never one of the program's own files.
      c.accept_name = [](const char* name) { return update_name_ok(name); };
      rc = recv_obj(&c, file_name, progress, 0);
    }
  }
  if (rc != 0) log_message(LOG_ERROR, "update_download: %d", rc);
  conn_close(&c);
  return rc;
}

const char* update_package_name() { return sizeof(void*) == 8 ? "lin64" : "lin32"; }

bool update_name_ok(const char* file_name) {
  size_t n = file_name ? std::strlen(file_name) : 0;
  bool ok = n > 3 && n < CONN_NAME_MAX && file_name[0] != '.' && file_name[0] != '-' &&
            std::strcmp(file_name + n - 3, ".gz") == 0;
  for (size_t i = 0; ok && i < n; ++i) {
    char ch = file_name[i];
    ok = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '.' ||
         ch == '_' || ch == '-' || ch == '+';
  }
  return ok;
}

int update_write_script(const char* dir, const char* file_name) {
  if (!update_name_ok(file_name)) {
    log_message(LOG_ERROR, "update_write_script: refused name %s", file_name ? file_name : "");
    return -1;
  }
  std::string path = path_join(dir ? dir : "", "ordika-updater");
  FILE* f = std::fopen(path.c_str(), "w");
  if (!f) return -1;
  int w = std::fprintf(f, "gunzip -N '%s'\nchmod 700 ordika\nmv ordika \"$(which ordika)\"\nordika\n", file_name);
  if (std::fclose(f) != 0 || w < 0) {
    std::remove(path.c_str());
    return -1;
  }
  return 0;
}

int update_install(const char* dir) {
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid < 0) {
    log_message(LOG_ERROR, "update_install: fork");
    return -1;
  }
  if (pid > 0) return 0;
  // The updater and the program it starts get the default signal mask, not
  // the parent's blocked quit signals.
  sigset_t all;
  sigfillset(&all);
  sigprocmask(SIG_UNBLOCK, &all, nullptr);
  while (getppid() == parent) sleep(1);
  if (dir && *dir && chdir(dir) != 0) _exit(1);
  execl("/bin/sh", "sh", "ordika-updater", static_cast<char*>(nullptr));
  _exit(1);
}

int trace_extract(const char* log_file, std::string* out) {
  out->clear();
  FILE* f = std::fopen(log_file, "rb");
  if (!f) return -1;
  std::fseek(f, 0, SEEK_END);
  long size = std::ftell(f);
  if (size < 0) {
    std::fclose(f);
    return -1;
  }
  long start = size > static_cast<long>(kTraceMax) ? size - static_cast<long>(kTraceMax) : 0;
  std::fseek(f, start, SEEK_SET);
  std::string text(static_cast<size_t>(size - start), '\0');
  size_t got = text.empty() ? 0 : std::fread(&text[0], 1, text.size(), f);
  std::fclose(f);
  text.resize(got);
  if (start > 0) {
    size_t nl = text.find('\n');
    text = nl == std::string::npos ? std::string() : text.substr(nl + 1);
  }
  *out = std::move(text);
  return 0;
}

int trace_send(const ServerLogin& login, const char* log_file, const char* dir) {
  char name[32];
  std::snprintf(name, sizeof name, "%lld.log", static_cast<long long>(std::time(nullptr)));
  std::string path = path_join(dir ? dir : "", name);
  std::string text;
  trace_extract(log_file, &text);  // a missing log gives an empty trace
  if (write_bytes(path, reinterpret_cast<const uint8_t*>(text.data()), text.size()) != 0) {
    log_message(LOG_ERROR, "trace_send (%s)", name);
    return -1;
  }
  Connection c;
  int rc = -1;
  if (server_connect(&c, login) == 0 && conn_put_text(&c, "put trace\n" CLIENT_PLATFORM "\n") == 0 &&
      conn_send_file(&c, path.c_str(), name) == 0 && conn_send(&c) == 0)
    rc = 0;
  if (rc != 0) log_message(LOG_ERROR, "trace_send (%s)", name);
  conn_close(&c);
  std::remove(path.c_str());
  return rc;
}

int account_password_change(const char* new_password) {
  const Account& a = signed_in_account();
  if (a.id <= 0 || !new_password || std::strchr(new_password, '\n')) return -1;
  Account copy = a;
  // The account's own server: an account signed in on another host must not
  // send its password hashes to the built-in default.
  const char* host = copy.host.empty() ? nullptr : copy.host.c_str();
  int rc = server_password_change(host, copy.user.c_str(), copy.password.c_str(), new_password);
  if (rc != 0) return rc;
  return account_store(copy.id, copy.user.c_str(), new_password, copy.host.c_str());
}

int repo_put_on_server(int index, const char* id) {
  if (index < 0 || static_cast<size_t>(index) >= repo_table().size()) return -1;
  RepoEntry& e = repo_table()[static_cast<size_t>(index)];
  if (!e.server_id.empty()) return -1;
  ServerLogin login;
  if (login_for_account(signed_in_account(), &login) != 0) return -1;
  std::string name = id && *id ? id : e.name;
  int rc = repo_clear_history(&e);
  if (rc == 0) rc = server_create_repo(login, name.c_str(), e.path.c_str(), e.key);
  if (rc != 0) return rc;
  e.server_id = name;
  e.account_id = signed_in_account().id;
  e.account_host.clear();
  e.account_user.clear();
  OPENSSL_cleanse(e.account_key, sizeof e.account_key);
  return repo_store(&e);
}

int repo_clone_from_server(const char* id, const char* password, int* index) {
  if (!id || !password) return -1;
  RepoRecord rec;
  rec.account_id = signed_in_account().id;
  rec.server_id = id;
  rec.password = password;
  return repo_clone_record(rec, index);
}

int repo_clone_record(const RepoRecord& from, int* index) {
  sqlite3* cfg = config_db();
  if (!cfg || !arg_ok(from.server_id.c_str()) || from.password.empty()) return -1;
  // The owner's login: the signed-in account, or the one the record carries.
  RepoEntry owner;
  owner.account_id = from.account_id;
  owner.account_host = from.account_host;
  owner.account_user = from.account_user;
  std::memcpy(owner.account_key, from.account_key, 32);
  ServerLogin login;
  if (login_for_repo(owner, signed_in_account(), &login) != 0) return -1;
  std::string root = setting_get(cfg, "repo_root");
  std::string dir;
  int rc = repo_create_dir(root.c_str(), &dir);
  if (rc != 0) return rc;
  rc = server_clone_repo(login, from.server_id.c_str(), from.password.c_str(), dir.c_str(), repo_find_by_check);
  if (rc == 0) {
    RepoRecord rec = from;
    rec.name = from.name.empty() ? from.server_id : from.name;
    rec.path = dir;
    rc = repo_register(rec, index);
  }
  if (rc == 0 && index && *index >= 0) {
    // A clone starts without the history it came with: no undo steps and no
    // pending changes of the copy it was made from. The clone itself stands
    // when this fails: its data is complete.
    if (repo_clear_history(&repo_table()[static_cast<size_t>(*index)]) != 0)
      log_message(LOG_ERROR, "repo_clone_record: history of repository %d", *index);
  }
  if (rc != 0) {
    static const char* const kFiles[] = {"data", "data-journal", "list.hash", "file.tmp"};
    for (const char* f : kFiles) std::remove(path_join(dir, f).c_str());
    ::rmdir(dir.c_str());
  }
  return rc;
}
