// SPDX-License-Identifier: GPL-3.0-or-later
// Bounded text building and small text helpers shared by every layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Appends bytes into buf (when present) up to capacity, keeping the text
// terminated, and counts everything, so a first pass without a buffer yields
// the exact size for the second.
struct TextBuilder {
  char* buf = nullptr;
  unsigned capacity = 0;
  unsigned len = 0;
  int units = 0;  // code points
};

void tb_init(TextBuilder* tb, char* buf, unsigned capacity);
void tb_putc(TextBuilder* tb, char c);
void tb_append(TextBuilder* tb, const char* text);
void tb_append_n(TextBuilder* tb, const char* text, size_t n);
// Formats into 256 bytes first; a result needing more than 255 is dropped whole.
void tb_printf(TextBuilder* tb, const char* format, ...) __attribute__((format(printf, 2, 3)));
// True when nothing was dropped.
inline bool tb_fits(const TextBuilder* tb) { return tb->buf && tb->len < tb->capacity; }

// 1 when the text is well-formed UTF-8, else 0.
int utf8_valid(const char* text);
int utf8_valid_n(const char* text, size_t n);
// Escaped copy for a vCard value: backslash before "\n", ",", ";" and "\",
// line feed written as "\n", carriage returns dropped.
std::string vcard_escape(const char* text);
// Copies at most size bytes including the terminator; always terminates.
void copy_bounded(char* dest, const char* src, size_t size);
// Owned copy of the bytes [start, end).
std::string copy_range(const char* start, const char* end);
// Start and end of line n (from 0); past the last line an empty range at the
// start of the last line.
void text_line(const char* text, int n, const char** start, const char** end);
// Byte position of the first occurrence of pattern, or -1. Case-insensitive
// search compares case-folded texts; the position then refers to the folded
// text.
long text_find(const char* text, const char* pattern, int case_sensitive);

// Lowercase hexadecimal of bytes, and back (returns -1 on bad input).
std::string hex_encode(const uint8_t* bytes, size_t n);
int hex_decode(const char* text, uint8_t* out, size_t n);
