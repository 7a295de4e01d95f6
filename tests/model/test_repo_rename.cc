// SPDX-License-Identifier: GPL-3.0-or-later
// Renaming a repository: the record name the tag tree shows for its root row,
// kept across a restart, while the root tag itself cannot be renamed.
#include "model/tag_ops.h"
#include "storage/storage_fixture.h"
#include "test_startup_fixture.h"

using namespace startup_test;

namespace {

class RepoRenameTest : public StartupTest {};

TEST_F(RepoRenameTest, NameIsStoredAndShownOnTheRootRow) {
  first_run();
  int64_t root = root_tag(0);
  ASSERT_GE(root, 1);
  auto rows = storage_test::dump_data(repo_table()[0].db);

  ASSERT_EQ(0, repo_rename(0, "Work: 2027"));
  EXPECT_EQ("Work: 2027", repo_table()[0].name);
  EXPECT_EQ("Work: 2027", tag_get(root)->name);
  // The repository's own database is untouched: nothing to undo or sync.
  EXPECT_EQ(rows, storage_test::dump_data(repo_table()[0].db));

  restart();
  EXPECT_EQ("Work: 2027", repo_table()[0].name);
  EXPECT_EQ("Work: 2027", tag_get(root_tag(0))->name);
}

TEST_F(RepoRenameTest, EmptyAndInvalidNamesKeepTheOldName) {
  first_run();
  std::string old = repo_table()[0].name;
  EXPECT_EQ(0, repo_rename(0, ""));
  EXPECT_EQ(-1, repo_rename(0, "two\nlines"));
  EXPECT_EQ(-1, repo_rename(0, "cr\r"));
  EXPECT_EQ(-1, repo_rename(0, "\xFF"));
  EXPECT_EQ(-1, repo_rename(0, nullptr));
  EXPECT_EQ(-1, repo_rename(1, "none"));
  EXPECT_EQ(-1, repo_rename(-1, "none"));
  // A name the record cannot hold is refused by the store.
  EXPECT_NE(0, repo_rename(0, std::string(3000, 'n').c_str()));
  EXPECT_EQ(old, repo_table()[0].name);
  EXPECT_EQ(old, tag_get(root_tag(0))->name);
  restart();
  EXPECT_EQ(old, repo_table()[0].name);
}

TEST_F(RepoRenameTest, RenamesOnlyItsOwnRoot) {
  first_run();
  int b = add_repository("b");
  repo_remount();
  ASSERT_EQ(0, repo_rename(b, "renamed"));
  EXPECT_EQ("renamed", tag_get(root_tag(b))->name);
  EXPECT_NE("renamed", tag_get(root_tag(0))->name);
}

TEST_F(RepoRenameTest, RootTagRefusesTagRenameAndStoresNothing) {
  first_run();
  int64_t root = root_tag(0);
  std::string shown = tag_get(root)->name;
  auto rows = storage_test::dump_data(repo_table()[0].db);
  EXPECT_EQ(-2, tag_rename(root, "display name"));
  EXPECT_EQ(shown, tag_get(root)->name);
  EXPECT_EQ(rows, storage_test::dump_data(repo_table()[0].db));
  // Other tags still rename.
  int64_t t = tag_create(0, root, "child");
  ASSERT_GE(t, 1);
  EXPECT_EQ(0, tag_rename(t, "renamed child"));
}

}  // namespace
