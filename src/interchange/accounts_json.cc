// SPDX-License-Identifier: GPL-3.0-or-later
#include "interchange/accounts_json.h"


#include <cstring>
#include <ctime>

#include "crypto/wipe.h"
#include "interchange/ical.h"

namespace {

int hex4(const char* p, const char* end, uint32_t* out) {
  if (end - p < 4) return -1;
  uint32_t v = 0;
  for (int i = 0; i < 4; i++) {
    char c = p[i];
    int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (d < 0) return -1;
    v = v << 4 | static_cast<uint32_t>(d);
  }
  *out = v;
  return 0;
}

void put_utf8(std::string* out, uint32_t cp) {
  if (cp < 0x80) {
    *out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out += static_cast<char>(0xC0 | cp >> 6);
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out += static_cast<char>(0xE0 | cp >> 12);
    *out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | cp >> 18);
    *out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    *out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool literal_char(char c) { return std::strchr("0123456789aeilrsu.+-E", c) != nullptr && c != 0; }

}  // namespace

int json_scan(const char* text, size_t len, const JsonCallback& cb) {
  const char* p = text;
  const char* end = text + len;
  while (p < end) {
    char c = *p;
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',' || c == ':') {
      p++;
    } else if (c == '{' || c == '}' || c == '[' || c == ']') {
      JsonToken k = c == '{' ? JSON_OBJECT_START : c == '}' ? JSON_OBJECT_END : c == '[' ? JSON_ARRAY_START : JSON_ARRAY_END;
      if (cb(k, std::string()) < 0) return -1;
      p++;
    } else if (c == '"') {
      std::string s;
      p++;
      for (;;) {
        if (p >= end) return -1;
        char ch = *p++;
        if (ch == '"') break;
        if (ch != '\\') {
          s += ch;
          continue;
        }
        if (p >= end) return -1;
        char e = *p++;
        switch (e) {
          case '"': s += '"'; break;
          case '\\': s += '\\'; break;
          case '/': s += '/'; break;
          case 'b': s += '\b'; break;
          case 'f': s += '\f'; break;
          case 'n': s += '\n'; break;
          case 'r': s += '\r'; break;
          case 't': s += '\t'; break;
          case 'u': {
            uint32_t cp;
            if (hex4(p, end, &cp) != 0) return -1;
            p += 4;
            if (cp >= 0xD800 && cp <= 0xDBFF) {
              uint32_t lo;
              if (end - p >= 6 && p[0] == '\\' && p[1] == 'u' && hex4(p + 2, end, &lo) == 0 && lo >= 0xDC00 &&
                  lo <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                p += 6;
              } else {
                cp = 0xFFFD;  // lone surrogate
              }
            } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
              cp = 0xFFFD;
            }
            put_utf8(&s, cp);
            break;
          }
          default:
            break;  // unknown escape: dropped
        }
      }
      if (cb(JSON_STRING, s) < 0) return -1;
    } else if (c == '-' || (c >= '0' && c <= '9') || c == 'f' || c == 'n' || c == 't') {
      const char* start = p++;
      while (p < end && literal_char(*p)) p++;
      if (p < end && !std::strchr(",]} \t\r\n", *p)) return -1;
      if (cb(JSON_LITERAL, std::string(start, p)) < 0) return -1;
    } else {
      return -1;
    }
  }
  return 0;
}

std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '\r': break;
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += "\"";
  return out;
}

namespace {

enum Key { KEY_NONE = 0, KEY_EXPECT = 1, KEY_TITLE, KEY_USERNAME, KEY_PASSWORD, KEY_URL, KEY_NOTES, KEY_EXPIRES, KEY_GROUP };

int key_code(const std::string& k) {
  static const char* names[] = {"title", "username", "password", "url", "notes", "expires", "group"};
  for (int i = 0; i < 7; i++)
    if (k == names[i]) return KEY_TITLE + i;
  return -1;
}

// "YYYYMMDD", "YYYY-MM-DD" or a calendar time; else decimal/hex seconds;
// anything else is no expiry.
int64_t parse_expires(const std::string& v) {
  int64_t t;
  if (ical_parse_time(v.data(), v.size(), &t) == 0) return t;
  if (v.size() == 10 && v[4] == '-' && v[7] == '-') {
    std::string compact = v.substr(0, 4) + v.substr(5, 2) + v.substr(8, 2);
    if (ical_parse_time(compact.data(), compact.size(), &t) == 0) return t;
    return 0;
  }
  if (v.empty()) return 0;
  char* endp = nullptr;
  long long n = std::strtoll(v.c_str(), &endp, 0);
  if (!endp || *endp != 0 || n < 0) return 0;
  return n;
}

}  // namespace

namespace {
// Passwords do not stay behind in freed memory.
void wipe_record(AccountRecord* rec) {
  wipe(&rec->password);
}
}  // namespace

int accounts_json_read(const char* text, size_t len, const std::function<void(const AccountRecord&)>& on_account) {
  int state = KEY_NONE;
  int delivered = 0;
  AccountRecord rec;
  int rc = json_scan(text, len, [&](JsonToken kind, const std::string& value) {
    switch (kind) {
      case JSON_OBJECT_START:
        wipe_record(&rec);
        rec = AccountRecord();
        state = KEY_EXPECT;
        return 0;
      case JSON_OBJECT_END:
        if (state == KEY_EXPECT && rec.has_title) {
          on_account(rec);
          delivered++;
        }
        state = KEY_NONE;
        return 0;
      case JSON_ARRAY_START:
      case JSON_ARRAY_END:
        return 0;
      case JSON_STRING:
      case JSON_LITERAL:
        if (state == KEY_NONE) return -1;
        if (state == KEY_EXPECT) {
          int k = key_code(value);
          if (k < 0) return -1;
          state = k;
          return 0;
        }
        {
          // A null is an absent value.
          bool absent = kind == JSON_LITERAL && value == "null";
          std::string v = absent ? std::string() : value;
          switch (state) {
            case KEY_TITLE:
              rec.title = v;
              rec.has_title = !absent;
              break;
            case KEY_USERNAME: rec.username = v; break;
            case KEY_PASSWORD: rec.password = v; break;
            case KEY_URL: rec.url = v; break;
            case KEY_NOTES: rec.notes = v; break;
            case KEY_EXPIRES: rec.expires = absent ? 0 : parse_expires(v); break;
            default: break;  // group: read and ignored
          }
        }
        state = KEY_EXPECT;
        return 0;
    }
    return 0;
  });
  wipe_record(&rec);
  return rc < 0 ? -1 - delivered : delivered;
}

std::string accounts_json_entry(const AccountRecord& rec) {
  std::string out = "\r\n\t{\r\n\t\t\"group\": \"General\"";
  out += ",\r\n\t\t\"title\": " + json_string(rec.title);
  out += ",\r\n\t\t\"username\": " + json_string(rec.username);
  out += ",\r\n\t\t\"password\": " + json_string(rec.password);
  out += ",\r\n\t\t\"url\": " + json_string(rec.url);
  out += ",\r\n\t\t\"notes\": " + json_string(rec.notes);
  if (rec.expires != 0) {
    time_t t = static_cast<time_t>(rec.expires);
    struct tm tm {};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%d", &tm);
    out += ",\r\n\t\t\"expires\": ";
    out += buf;
  }
  out += "\r\n\t}";
  return out;
}

std::string accounts_json_file(const std::string& entries_joined) { return "[" + entries_joined + "\r\n]\r\n"; }
