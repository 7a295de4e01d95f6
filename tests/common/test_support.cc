// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/test_support.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace test_support {

TempDir::TempDir(const char* prefix) {
  std::string tmpl = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data())) path_ = buf.data();
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::subdir(const std::string& name) const {
  std::string p = file(name);
  ::mkdir(p.c_str(), 0700);
  return p;
}

std::vector<std::string> TempDir::names() const {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(path_, ec)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

std::string read_file(const std::string& path) {
  std::string out;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return out;
  char buf[8192];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  std::fclose(f);
  return out;
}

bool write_file(const std::string& path, const std::string& data) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  return std::fclose(f) == 0 && ok;
}

bool file_exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

long long query_int(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* s = nullptr;
  long long n = -1;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
    n = sqlite3_column_int64(s, 0);
  sqlite3_finalize(s);
  return n;
}

int count_rows(sqlite3* db, const std::string& select_sql) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, select_sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
    sqlite3_finalize(s);
    return -1;
  }
  int n = 0;
  while (sqlite3_step(s) == SQLITE_ROW) ++n;
  sqlite3_finalize(s);
  return n;
}

int count_in(sqlite3* db, const std::string& from_where) {
  return int(query_int(db, "SELECT count(*) FROM " + from_where));
}

}  // namespace test_support
