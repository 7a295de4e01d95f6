// SPDX-License-Identifier: GPL-3.0-or-later
// One server per test suite: started before the suite's first test, stopped
// after its last; the tests skip where the server cannot run here.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <memory>

#include "dav/dav_fixture.h"

namespace dav_test {

// Suite is the test class itself, so that suites on the same kind of server
// each have their own.
template <typename Server, typename Suite>
class ServerSuite : public ::testing::Test {
 protected:
  // Starts the server when the Python modules are there; `start` starts it
  // and fills it, false when it could not.
  static void start_server(std::initializer_list<const char*> modules, const std::function<bool(Server*)>& start) {
    for (const char* m : modules)
      if (!have_module(m)) return;
    auto s = std::make_unique<Server>();
    if (start(s.get())) server_ = std::move(s);
  }
  static void TearDownTestSuite() { server_.reset(); }
  void SetUp() override {
    if (!server_) GTEST_SKIP() << "the server for this suite is not available";
  }

  static inline std::unique_ptr<Server> server_;
};

}  // namespace dav_test
