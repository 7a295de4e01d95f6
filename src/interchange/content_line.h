// SPDX-License-Identifier: GPL-3.0-or-later
// Content lines as iCalendar and vCard both write them: logical lines
// unfolded from physical ones, the colon that ends a property's name and
// parameters, lines folded at 75 octets, and TEXT values unescaped. Escaping
// is vcard_escape (support/text.h), which the model's forms use too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Splits logical lines: LF or CR LF ends a line; a line starting with a space
// or tab continues the previous one (exactly one blank removed). A logical
// line already longer than max_line takes no more continuations.
std::vector<std::string> content_unfold(const char* text, size_t len, size_t max_line = SIZE_MAX);
// Where the value of a content line starts: after the first ":" outside
// double quotes, since a quoted parameter value may hold ":" and ";"
// (TZID="(UTC+01:00) Amsterdam, Berlin"). npos for a line without one.
size_t content_value_colon(const std::string& line);
// Appends raw bytes as one content line, folded at 75 octets (never before
// a space or inside a UTF-8 sequence), ending in CR LF. `column` is where
// the line already stands.
void content_append_folded(std::string* out, const char* text, size_t len, size_t column);
// Undoes TEXT escaping: "\n"/"\N" LF, "\r" nothing, "\t" TAB, other escapes
// the character itself.
std::string content_unescape(const char* text, size_t len);
// A parameter's value from a property's head ("DTSTART;TZID=Europe/Paris"),
// the name compared without case, double quotes removed; empty when absent.
std::string content_param(const std::string& head, const char* name);
