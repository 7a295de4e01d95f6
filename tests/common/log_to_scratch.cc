// SPDX-License-Identifier: GPL-3.0-or-later
// Every test program logs into a scratch directory of its own, removed at
// the end, instead of leaving "ordika.log" in the working directory. Tests
// of the log itself name their own files.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/test_support.h"
#include "support/log.h"

namespace {

class LogToScratch : public ::testing::Environment {
 public:
  void SetUp() override {
    dir_ = std::make_unique<test_support::TempDir>("ordika-test-log");
    log_set_file(dir_->file("ordika.log").c_str());
  }
  void TearDown() override {
    log_stop();
    dir_.reset();
    log_reenable();
  }

 private:
  std::unique_ptr<test_support::TempDir> dir_;
};

[[maybe_unused]] ::testing::Environment* const g_log_env = ::testing::AddGlobalTestEnvironment(new LogToScratch);

}  // namespace
