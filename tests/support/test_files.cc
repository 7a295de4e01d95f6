// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/files.h"

namespace {

struct TempDir {
  std::string path;
  TempDir() {
    char tmpl[] = "/tmp/ordika-files-XXXXXX";
    path = mkdtemp(tmpl) ? tmpl : "";
  }
  ~TempDir() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
  }
};

TEST(Paths, JoinPutsExactlyOneSlashBetween) {
  EXPECT_EQ(path_join("a", "b"), "a/b");
  EXPECT_EQ(path_join("a/", "b"), "a/b");
  EXPECT_EQ(path_join("/", "b"), "/b");
  EXPECT_EQ(path_join("", "b"), "b");
  EXPECT_EQ(path_join("/x/y", "data"), "/x/y/data");
}

TEST(Paths, ParentOfFilesAndTopLevelEntries) {
  EXPECT_EQ(path_parent("/x/y/config"), "/x/y");
  EXPECT_EQ(path_parent("/config"), "/");
  EXPECT_EQ(path_parent("config"), ".");
}

TEST(Paths, ExistenceTellsFilesFromFolders) {
  TempDir dir;
  ASSERT_FALSE(dir.path.empty());
  std::string file = path_join(dir.path, "f");
  std::string missing = path_join(dir.path, "none");
  {
    OwnedFile f(std::fopen(file.c_str(), "wb"));
    ASSERT_TRUE(f);
  }
  EXPECT_TRUE(file_exists(file));
  EXPECT_FALSE(dir_exists(file));
  EXPECT_TRUE(path_exists(file));
  EXPECT_TRUE(dir_exists(dir.path));
  EXPECT_FALSE(file_exists(dir.path));
  EXPECT_TRUE(path_exists(dir.path));
  EXPECT_FALSE(path_exists(missing));
  EXPECT_FALSE(file_exists(missing));
  EXPECT_FALSE(dir_exists(missing));
}

TEST(Files, CloseReportsDataThatCouldNotBeWritten) {
  TempDir dir;
  std::string file = path_join(dir.path, "ok");
  OwnedFile f(std::fopen(file.c_str(), "wb"));
  ASSERT_TRUE(f);
  ASSERT_EQ(std::fputs("text", f.get()), 1);
  EXPECT_EQ(file_close(&f), 0);
  EXPECT_FALSE(f);
  EXPECT_EQ(file_close(&f), -1) << "nothing left to close";

  // A full disk shows only when the buffer is flushed at the close.
  OwnedFile full(std::fopen("/dev/full", "wb"));
  if (!full) GTEST_SKIP() << "no /dev/full";
  ASSERT_GE(std::fputs("buffered", full.get()), 0);
  EXPECT_EQ(file_close(&full), -1);
  EXPECT_FALSE(full);
}

TEST(Files, FolderSyncNeedsAFolder) {
  TempDir dir;
  EXPECT_EQ(dir_sync(dir.path), 0);
  EXPECT_EQ(dir_sync(path_join(dir.path, "none")), -1);
}

}  // namespace
