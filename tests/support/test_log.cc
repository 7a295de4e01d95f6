// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

#include "support/log.h"

namespace {

std::string temp_dir() {
  char tmpl[] = "/tmp/ordika-log-XXXXXX";
  const char* d = mkdtemp(tmpl);
  return d ? d : "/tmp";
}

std::vector<std::string> read_lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// "[YYYY-MM-DD HH:MM:SS] "
bool has_stamp(const std::string& l) {
  const char* shape = "[0000-00-00 00:00:00] ";
  if (l.size() < 22) return false;
  for (size_t i = 0; i < 22; i++) {
    if (shape[i] == '0' ? !isdigit(static_cast<unsigned char>(l[i])) : l[i] != shape[i]) return false;
  }
  return true;
}

// Every test writes to a file of its own in a fresh directory.
class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = temp_dir();
    path = dir + "/ordika.log";
    log_stop();
    log_reenable();
    log_set_file(path.c_str());
    log_set_level(7);
  }
  void TearDown() override {
    log_stop();
    log_reenable();
    std::remove(path.c_str());
    std::remove((path + ".0").c_str());
    rmdir(dir.c_str());
  }
  std::string dir, path;
};

TEST_F(LogTest, LinesCarryTimestampAndLevelLabel) {
  log_message(LOG_ERROR, "item_save: %d", 42);
  log_message(LOG_WARNING, "w");
  log_message(LOG_NOTICE, "n");
  log_message(LOG_INFO, "i");
  log_message(LOG_DEBUG, "d");
  log_message(LOG_MARK, "Started");
  ASSERT_EQ(log_flush(), 0);
  auto lines = read_lines(path);
  ASSERT_EQ(lines.size(), 6u);
  for (auto& l : lines) EXPECT_TRUE(has_stamp(l)) << l;
  EXPECT_EQ(lines[0].substr(22), "ERROR   item_save: 42");
  EXPECT_EQ(lines[1].substr(22), "WARNING w");
  EXPECT_EQ(lines[2].substr(22), "NOTICE  n");
  EXPECT_EQ(lines[3].substr(22), "INFO    i");
  EXPECT_EQ(lines[4].substr(22), "DEBUG   d");
  EXPECT_EQ(lines[5].substr(22), "        Started");
}

TEST_F(LogTest, LongMessageIsCutWithEllipsis) {
  std::string msg(2000, 'x');
  log_message(LOG_INFO, "%s", msg.c_str());
  ASSERT_EQ(log_flush(), 0);
  auto lines = read_lines(path);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(22), "INFO    " + std::string(1012, 'x') + "...");
}

TEST_F(LogTest, MessageOfExactlyMaximumLengthIsKept) {
  std::string msg(1015, 'y');
  log_message(LOG_INFO, "%s", msg.c_str());
  ASSERT_EQ(log_flush(), 0);
  auto lines = read_lines(path);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(30), msg);
}

TEST_F(LogTest, LevelAboveCurrentIsDropped) {
  log_set_level(4);
  log_message(LOG_INFO, "hidden");
  log_message(LOG_ERROR, "shown");
  ASSERT_EQ(log_flush(), 0);
  auto lines = read_lines(path);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("shown"), std::string::npos);
}

TEST_F(LogTest, StoppedLoggerDropsUntilReenabled) {
  log_message(LOG_INFO, "one");
  log_stop();
  log_message(LOG_INFO, "dropped");
  EXPECT_EQ(log_flush(), -1);
  EXPECT_EQ(read_lines(path).size(), 1u);
  log_reenable();
  log_message(LOG_INFO, "two");
  ASSERT_EQ(log_flush(), 0);
  auto lines = read_lines(path);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[1].find("two"), std::string::npos);
}

TEST_F(LogTest, StopWritesEverythingQueued) {
  for (int i = 0; i < 500; i++) log_message(LOG_INFO, "line %d", i);
  log_stop();
  auto lines = read_lines(path);
  ASSERT_EQ(lines.size(), 500u);
  EXPECT_NE(lines[499].find("line 499"), std::string::npos);
}

TEST_F(LogTest, LargeFileIsRotatedOnSecondLine) {
  {
    std::ofstream big(path);
    big << std::string(1000001, 'z');
  }
  log_message(LOG_INFO, "first");
  ASSERT_EQ(log_flush(), 0);
  log_message(LOG_INFO, "second");
  ASSERT_EQ(log_flush(), 0);
  auto rotated = read_lines(path + ".0");
  ASSERT_FALSE(rotated.empty());
  EXPECT_NE(rotated.back().find("first"), std::string::npos);
  auto fresh = read_lines(path);
  ASSERT_EQ(fresh.size(), 1u);
  EXPECT_NE(fresh[0].find("second"), std::string::npos);
}

TEST_F(LogTest, UnopenableFileDropsLinesAndRetries) {
  std::string bad = dir + "/missing/ordika.log";
  log_set_file(bad.c_str());
  log_message(LOG_INFO, "lost");
  ASSERT_EQ(log_flush(), 0);
  log_set_file(path.c_str());
  log_message(LOG_INFO, "kept");
  ASSERT_EQ(log_flush(), 0);
  auto lines = read_lines(path);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("kept"), std::string::npos);
}

TEST_F(LogTest, RunningWriterSwitchesToANewFileName) {
  log_message(LOG_INFO, "first file");
  ASSERT_EQ(log_flush(), 0);
  std::string other = dir + "/other.log";
  log_set_file(other.c_str());
  log_message(LOG_INFO, "second file");
  ASSERT_EQ(log_flush(), 0);
  EXPECT_EQ(read_lines(path).size(), 1u);
  auto lines = read_lines(other);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("second file"), std::string::npos);
  std::remove(other.c_str());
}

TEST_F(LogTest, ManyThreadsLogConcurrently) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++)
    threads.emplace_back([t] {
      for (int i = 0; i < 200; i++) log_message(LOG_DEBUG, "t%d %d", t, i);
    });
  for (auto& th : threads) th.join();
  log_stop();
  EXPECT_EQ(read_lines(path).size(), 800u);
}

}  // namespace
