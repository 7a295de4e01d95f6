// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes to the calendar component reader and parser, the
// time, duration and rule parsers, and checks that what the writer makes of
// a parsed title and description reads back unchanged.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "interchange/ical.h"
#include "support/log.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  log_set_level(LOG_ERROR);
  return 0;
}

namespace {

// The writer drops CR; stored texts end at NUL.
std::string writable(std::string s) {
  s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
  size_t nul = s.find('\0');
  if (nul != std::string::npos) s.resize(nul);
  return s;
}

void round_trip(const IcalEntry& e) {
  IcalItem it;
  it.is_event = e.kind == ICAL_EVENT;
  it.due = e.start;
  it.end = e.end;
  it.title = writable(e.title);
  it.body = writable(e.body);
  it.freq = e.rule.freq;
  it.remind_offset = e.remind_offset;
  std::string out;
  ical_begin_calendar(&out);
  ical_write_item(&out, it, 1);
  ical_end_calendar(&out);
  auto comps = ical_read_components(out.data(), out.size());
  if (comps.size() != 1) abort();
  IcalEntry back;
  if (ical_parse_component(comps[0], &back) != 0) return;  // e.g. a time of 0
  if (back.title != it.title || back.body != it.body) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  auto comps = ical_read_components(text, size);
  for (auto& c : comps) {
    IcalEntry e;
    if (ical_parse_component(c, &e) == 0) round_trip(e);
  }
  IcalRule r;
  ical_parse_rrule(text, text + size, &r);
  ical_parse_duration(text, size);
  int64_t t;
  ical_parse_time(text, size, &t);
  return 0;
}
