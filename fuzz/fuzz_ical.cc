// Feeds arbitrary bytes to the calendar component reader and parser.
#include <cstddef>
#include <cstdint>

#include "interchange/ical.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto comps = ical_read_components(reinterpret_cast<const char*>(data), size);
  for (auto& c : comps) {
    IcalEntry e;
    ical_parse_component(c, &e);
  }
  IcalRule r;
  ical_parse_rrule(reinterpret_cast<const char*>(data), reinterpret_cast<const char*>(data) + size, &r);
  ical_parse_duration(reinterpret_cast<const char*>(data), size);
  int64_t t;
  ical_parse_time(reinterpret_cast<const char*>(data), size, &t);
  return 0;
}
