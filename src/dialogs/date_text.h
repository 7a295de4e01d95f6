// SPDX-License-Identifier: GPL-3.0-or-later
// Dates and times as the user types and reads them in a date picker: shown
// in ISO form, typed in ISO form or in the user's locale.
#pragma once

#include <cstdint>
#include <string>

// "%F %H:%M" (or "%F" for date only) in local time; empty for 0.
std::string date_text_format(int64_t time, bool date_only);

// Reads a typed date: ISO "2026-12-08", "2026-12-08 14:30", "2026-12-08T14:30"
// (seconds allowed), the locale's date form ("%x") with an optional time
// ("%H:%M", "%X"), or in date-and-time mode a bare time ("14:30"), which
// keeps the day of `previous` (today when 0). A date without a time keeps
// the time of day of `previous` in date-and-time mode, and is 00:00 in
// date-only mode (whose times are always dropped). Blank text is 0 (no time).
// Returns 0 with *out set, or -1 (out untouched) for anything that is not a
// real local date from 1970 to 9999: no guessing, no normalising of 31 April.
int date_text_parse(const std::string& text, bool date_only, int64_t previous, int64_t* out);
