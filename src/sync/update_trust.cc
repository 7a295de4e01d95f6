// SPDX-License-Identifier: GPL-3.0-or-later
// The signature check of downloaded updates and the question whether this
// installation may replace itself at all.
#include "sync/update_trust.h"

#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "crypto/signature.h"
#include "support/files.h"
#include "support/log.h"

#ifndef ORDIKA_RELEASE_KEY
#define ORDIKA_RELEASE_KEY ""
#endif

int release_key_parse(const char* hex, uint8_t out[32]) {
  if (!hex || std::strlen(hex) != 64) return -1;
  for (int i = 0; i < 32; ++i) {
    unsigned v = 0;
    for (int j = 0; j < 2; ++j) {
      char ch = hex[2 * i + j];
      int d = ch >= '0' && ch <= '9' ? ch - '0' : ch >= 'a' && ch <= 'f' ? ch - 'a' + 10
                                                : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10 : -1;
      if (d < 0) return -1;
      v = v * 16 + static_cast<unsigned>(d);
    }
    out[i] = static_cast<uint8_t>(v);
  }
  return 0;
}

const uint8_t* release_public_key() {
  static uint8_t key[32];
  static const bool present = release_key_parse(ORDIKA_RELEASE_KEY, key) == 0;
  return present ? key : nullptr;
}

bool update_self_replace_allowed(const char* exe_path) {
  if (!exe_path || !*exe_path) return false;
  std::string dir = exe_path;
  size_t slash = dir.rfind('/');
  dir = slash == std::string::npos ? "." : slash == 0 ? "/" : dir.substr(0, slash);
  // The script moves the new file over the old one: it needs both.
  return ::access(exe_path, W_OK) == 0 && ::access(dir.c_str(), W_OK) == 0;
}

std::string program_file_path() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  return std::string(buf, static_cast<size_t>(n));
}

int update_get_signature(const ServerLogin& login, const char* package, std::string* sig) {
  sig->clear();
  if (!package || !*package || std::strchr(package, '\n')) return -1;
  std::string text = std::string("get signature\n") + package + "\n";
  if (text.size() >= 32) return -1;
  Connection c;
  if (server_connect(&c, login) != 0) return -1;
  int rc = UPDATE_NO_SIGNATURE;
  if (conn_put_text(&c, text.c_str()) == 0 && conn_send(&c) == 0 && conn_recv(&c) == 0 && c.recv_size != 1) {
    c.max_body = 64;
    std::string got;
    if (recv_obj(&c, nullptr, nullptr, 1, &got) == 0 && got.size() == 64) {
      *sig = got;
      rc = 0;
    }
  }
  // A server without signatures answers with a status byte or, when it does
  // not know the request, closes: both mean there is no signature.
  if (rc != 0) log_message(LOG_NOTICE, "update_get_signature: %s none", package);
  conn_close(&c);
  return rc;
}

int update_verify_file(const char* path, const std::string& sig, const uint8_t key[32]) {
  if (!key || sig.size() != 64) return -1;
  FILE* f = std::fopen(path, "rb");
  if (!f) return -1;
  std::vector<uint8_t> data;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
  bool read_ok = !std::ferror(f);
  std::fclose(f);
  if (!read_ok) return -1;
  return ed25519_verify(key, data.data(), data.size(), reinterpret_cast<const uint8_t*>(sig.data()));
}

int update_fetch_verified(const ServerLogin& login, const char* package, const char* dir, const uint8_t* key,
                          const ConnProgress& progress, std::string* file_name) {
  file_name->clear();
  if (!key) return UPDATE_NO_KEY;
  std::string sig;
  int rc = update_get_signature(login, package, &sig);
  if (rc != 0) return rc;
  rc = update_download(login, package, dir, progress, file_name);
  if (rc != 0) return rc;
  std::string path = path_join(dir, *file_name);
  if (update_verify_file(path.c_str(), sig, key) != 0) {
    log_message(LOG_ERROR, "update_fetch_verified: bad signature %s", file_name->c_str());
    std::remove(path.c_str());
    file_name->clear();
    return UPDATE_BAD_SIGNATURE;
  }
  return 0;
}
