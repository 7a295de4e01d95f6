// SPDX-License-Identifier: GPL-3.0-or-later
// Dates and times as the language chosen in Options writes them, for what
// the window shows (lists, the detail text, dialogs). What is stored,
// exported or printed by the command-line tool stays ISO.
#pragma once

#include <cstdint>
#include <string>

// Short forms go in list columns ("Dec 8, 2026"), long ones in running text
// ("December 8, 2026").
enum DateLength { DATE_SHORT, DATE_LONG };

// The local date of a time; "" for 0.
std::string shown_date(int64_t t, DateLength length);
// A calendar date (a birthday), month 1..12.
std::string shown_ymd(int year, int month, int day, DateLength length);
// The local time of day ("3:00 PM", "15:00"); "" for 0.
std::string shown_time(int64_t t);
// Date and time joined; "" for 0.
std::string shown_date_time(int64_t t, DateLength length);

// ISO forms for every call above ("2026-12-08", "15:00", "2026-12-08
// 15:00"), whatever the language: the command-line tool's output is read by
// scripts and keeps the form it has always had.
void shown_dates_iso(bool on);
