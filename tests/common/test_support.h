// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers every test program shares: temporary directories, whole-file
// reading and writing, row counts.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

namespace test_support {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
 public:
  explicit TempDir(const char* prefix = "ordika-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  // Makes (mode 0700) and returns the directory `name` inside.
  std::string subdir(const std::string& name) const;
  // Names in the directory (not recursive), sorted.
  std::vector<std::string> names() const;

 private:
  std::string path_;
};

// The whole file, or "" when it cannot be read.
std::string read_file(const std::string& path);
// Replaces the file with `data`; false on failure.
bool write_file(const std::string& path, const std::string& data);
bool file_exists(const std::string& path);

// The first column of the first row of `sql` as an integer; -1 when the
// statement fails or yields no row.
long long query_int(sqlite3* db, const std::string& sql);
// Rows that the statement `select_sql` yields; -1 when it cannot be prepared.
int count_rows(sqlite3* db, const std::string& select_sql);
// "SELECT count(*) FROM " + from_where, e.g. count_in(db, "t1 WHERE c3=1");
// -1 on failure.
int count_in(sqlite3* db, const std::string& from_where);

}  // namespace test_support

// Scratch directory of one test, removed with its contents at the end.
class ScratchDir : public test_support::TempDir {
 public:
  explicit ScratchDir(const char* tag) : TempDir((std::string("ordika-") + tag).c_str()) {}
};
