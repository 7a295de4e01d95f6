// SPDX-License-Identifier: GPL-3.0-or-later
// Interchange tests on real repository databases: the model's two-repository
// fixture with repository 0's root tag selected, and file helpers.
#pragma once

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "interchange/ical.h"
#include "interchange/interchange.h"
#include "model/test_ops_fixture.h"
#include "support/log.h"

class InterchangeTest : public RepoModelTest {
 protected:
  void SetUp() override {
    RepoModelTest::SetUp();
    model().view = static_cast<int32_t>(g_repos[0].root);
  }

  std::string write(const char* name, const std::string& text) {
    std::string path = dir.file(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  static std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  // Log lines written while fn runs.
  std::string logged(const std::function<void()>& fn) {
    std::string path = dir.file("test.log");
    log_stop();
    log_reenable();
    log_set_file(path.c_str());
    int level = log_get_level();
    log_set_level(LOG_DEBUG);
    fn();
    log_flush();
    log_set_level(level);
    log_stop();
    log_reenable();
    return read(path);
  }

  // Slots of the items of a type, in slot order.
  static std::vector<int64_t> items_of(int type) {
    std::vector<int64_t> out;
    int64_t c = -1;
    while (Item* item = slot_next<Item>(model().items, &c))
      if (item->type == type) out.push_back(c);
    return out;
  }
  static Item* only(int type) {
    auto v = items_of(type);
    EXPECT_EQ(v.size(), 1u);
    return v.empty() ? nullptr : item_get(v[0]);
  }
  static Item* titled(const std::string& title) {
    int64_t c = -1;
    while (Item* item = slot_next<Item>(model().items, &c))
      if (item->title == title) return item;
    return nullptr;
  }

  int import_ics(const std::string& text, ImportReport* r = nullptr) {
    return import_calendar(write("in.ics", text).c_str(), model().view, r);
  }
  int import_vcf(const std::string& text, ImportReport* r = nullptr) {
    return import_contacts(write("in.vcf", text).c_str(), model().view, r);
  }

  ScopedTz tz{"Europe/Berlin"};
};

// A calendar file around the given component lines (CR LF line ends).
inline std::string vcalendar(const std::string& body) {
  std::string out = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\n";
  std::istringstream in(body);
  std::string line;
  while (std::getline(in, line)) out += line + "\r\n";
  return out + "END:VCALENDAR\r\n";
}
