// SPDX-License-Identifier: GPL-3.0-or-later
// Content-line syntax shared by the iCalendar and vCard readers and writers.
#include "interchange/content_line.h"

#include <strings.h>

#include <cstring>

std::vector<std::string> content_unfold(const char* text, size_t len, size_t max_line) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < len) {
    const char* nl = static_cast<const char*>(std::memchr(text + pos, '\n', len - pos));
    size_t end = nl ? static_cast<size_t>(nl - text) : len;
    size_t e = end;
    while (e > pos && text[e - 1] == '\r') e--;
    if (e > pos && (text[pos] == ' ' || text[pos] == '\t') && !lines.empty()) {
      if (lines.back().size() <= max_line) lines.back().append(text + pos + 1, e - pos - 1);
    } else {
      lines.emplace_back(text + pos, e - pos);
    }
    pos = end + 1;
  }
  return lines;
}

size_t content_value_colon(const std::string& line) {
  bool quoted = false;
  for (size_t i = 0; i < line.size(); i++) {
    if (line[i] == '"') quoted = !quoted;
    else if (line[i] == ':' && !quoted) return i;
  }
  return std::string::npos;
}

void content_append_folded(std::string* out, const char* text, size_t len, size_t column) {
  for (size_t i = 0; i < len; i++) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (column > 74 && c != ' ' && (c < 0x80 || c > 0xBF)) {
      *out += "\r\n ";
      column = 1;
    }
    *out += static_cast<char>(c);
    column++;
  }
  *out += "\r\n";
}

std::string content_unescape(const char* text, size_t len) {
  std::string out;
  out.reserve(len);
  for (size_t i = 0; i < len; i++) {
    if (text[i] != '\\' || i + 1 >= len) {
      out += text[i];
      continue;
    }
    char c = text[++i];
    if (c == 'n' || c == 'N') {
      out += '\n';
    } else if (c == 't') {
      out += '\t';
    } else if (c != 'r') {
      out += c;
    }
  }
  return out;
}

std::string content_param(const std::string& head, const char* name) {
  std::string out;
  bool quoted = false;
  size_t start = 0;
  auto check = [&](size_t from, size_t to) {
    std::string p = head.substr(from, to - from);
    size_t eq = p.find('=');
    if (eq != std::string::npos && strcasecmp(p.substr(0, eq).c_str(), name) == 0) {
      out = p.substr(eq + 1);
      if (out.size() >= 2 && out.front() == '"' && out.back() == '"') out = out.substr(1, out.size() - 2);
    }
  };
  for (size_t i = 0; i < head.size(); i++) {
    if (head[i] == '"') quoted = !quoted;
    if (head[i] == ';' && !quoted) {
      if (start) check(start, i);
      start = i + 1;
    }
  }
  if (start) check(start, head.size());
  return out;
}
