// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/text.h"

#include <glib.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

void tb_init(TextBuilder* tb, char* buf, unsigned capacity) {
  tb->buf = buf;
  tb->capacity = buf ? capacity : 0;
  tb->len = 0;
  tb->units = 0;
  if (tb->buf && tb->capacity) tb->buf[0] = 0;
}

void tb_putc(TextBuilder* tb, char c) {
  if (tb->buf && tb->len + 1 < tb->capacity) {
    tb->buf[tb->len] = c;
    tb->buf[tb->len + 1] = 0;
  }
  tb->len++;
  unsigned char u = static_cast<unsigned char>(c);
  if (u < 0x80 || u > 0xBF) tb->units++;
}

void tb_append_n(TextBuilder* tb, const char* text, size_t n) {
  for (size_t i = 0; i < n; i++) tb_putc(tb, text[i]);
}

void tb_append(TextBuilder* tb, const char* text) {
  if (text) tb_append_n(tb, text, std::strlen(text));
}

void tb_printf(TextBuilder* tb, const char* format, ...) {
  char tmp[256];
  va_list ap;
  va_start(ap, format);
  int n = std::vsnprintf(tmp, sizeof tmp, format, ap);
  va_end(ap);
  if (n < 0 || n > 255) return;
  tb_append_n(tb, tmp, static_cast<size_t>(n));
}

int utf8_valid_n(const char* text, size_t n) {
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  size_t i = 0;
  while (i < n) {
    unsigned c = s[i];
    if (c < 0x80) {
      i++;
      continue;
    }
    size_t extra;
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
    } else {
      return 0;  // continuation byte as lead, 0xC0, 0xC1, above 0xF4
    }
    if (n - i <= extra) return 0;  // ends inside a sequence
    unsigned c1 = s[i + 1];
    if (c == 0xE0 && c1 < 0xA0) return 0;  // overlong
    if (c == 0xED && c1 >= 0xA0) return 0;  // surrogate
    if (c == 0xF0 && c1 < 0x90) return 0;  // overlong
    if (c == 0xF4 && c1 >= 0x90) return 0;  // above U+10FFFF
    for (size_t k = 1; k <= extra; k++) {
      if ((s[i + k] & 0xC0) != 0x80) return 0;
    }
    i += extra + 1;
  }
  return 1;
}

int utf8_valid(const char* text) { return text ? utf8_valid_n(text, std::strlen(text)) : 0; }

std::string vcard_escape(const char* text) {
  std::string out;
  if (!text) return out;
  size_t need = 0;
  for (const char* p = text; *p; p++) {
    if (*p == '\r') continue;
    need += (*p == '\n' || *p == ',' || *p == ';' || *p == '\\') ? 2 : 1;
  }
  out.reserve(need);
  for (const char* p = text; *p; p++) {
    switch (*p) {
      case '\r':
        break;
      case '\n':
        out += "\\n";
        break;
      case ',':
      case ';':
      case '\\':
        out += '\\';
        out += *p;
        break;
      default:
        out += *p;
    }
  }
  return out;
}

void copy_bounded(char* dest, const char* src, size_t size) {
  if (!dest || size == 0) return;
  if (!src) {
    dest[0] = 0;
    return;
  }
  size_t n = strnlen(src, size - 1);
  std::memcpy(dest, src, n);
  dest[n] = 0;
}

std::string copy_range(const char* start, const char* end) {
  if (!start || !end || end <= start) return std::string();
  return std::string(start, static_cast<size_t>(end - start));
}

void text_line(const char* text, int n, const char** start, const char** end) {
  if (!text) text = "";
  const char* line = text;
  for (int i = 0; i < n; i++) {
    const char* nl = std::strchr(line, '\n');
    if (!nl) {
      // Fewer lines: an empty range at the start of the last line.
      *start = *end = line;
      return;
    }
    line = nl + 1;
  }
  const char* nl = std::strchr(line, '\n');
  *start = line;
  *end = nl ? nl : line + std::strlen(line);
}

long text_find(const char* text, const char* pattern, int case_sensitive) {
  if (!text || !pattern) return -1;
  if (case_sensitive) {
    const char* p = std::strstr(text, pattern);
    return p ? static_cast<long>(p - text) : -1;
  }
  gchar* ft = g_utf8_casefold(text, -1);
  gchar* fp = g_utf8_casefold(pattern, -1);
  long pos = -1;
  if (ft && fp) {
    const char* p = std::strstr(ft, fp);
    if (p) pos = static_cast<long>(p - ft);
  }
  g_free(ft);
  g_free(fp);
  return pos;
}

std::string hex_encode(const uint8_t* bytes, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string out(n * 2, '0');
  for (size_t i = 0; i < n; i++) {
    out[2 * i] = digits[bytes[i] >> 4];
    out[2 * i + 1] = digits[bytes[i] & 15];
  }
  return out;
}

static int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int hex_decode(const char* text, uint8_t* out, size_t n) {
  if (!text) return -1;
  for (size_t i = 0; i < n; i++) {
    int hi = hex_value(text[2 * i]);
    if (hi < 0) return -1;
    int lo = hex_value(text[2 * i + 1]);
    if (lo < 0) return -1;
    out[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  return 0;
}
