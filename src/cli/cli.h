// SPDX-License-Identifier: GPL-3.0-or-later
// Shared pieces of the command-line tool.
#pragma once

#include <cstdint>
#include <map>
#include <string>

// One command: argument counts after the command name (max -1 = any) and
// the handler, which gets argv starting at the command name. Returns the exit
// status: 0 success, 1 failure, 2 usage.
struct CliCommand {
  int min_args;
  int max_args;
  int (*run)(int argc, char** argv);
};
const std::map<std::string, CliCommand>& cli_commands();

// "ordika-cli: <message>" on stderr; returns 1.
int cli_fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The command's help on stderr; returns 2.
int cli_usage(const char* command);
// Output fields: tabs, line breaks and every other control character become
// spaces, so a record stays a line and cannot carry terminal escapes.
std::string cli_field(const std::string& s);
// Multi-line output (detail text): the same, keeping line breaks and tabs.
std::string cli_text(const std::string& s);
// "YYYY-MM-DD HH:MM" local time; empty for 0.
std::string cli_time(int64_t t);
int cli_parse_time(const char* text, int64_t* out);
int cli_parse_date(const char* text, int* y, int* m, int* d);
// A repository index of the table: 0, or -1.
int cli_parse_index(const char* text, int* index);
// Item / tag slot by uuid text, or -1 after a message.
int64_t cli_item(const char* uuid);
int64_t cli_tag(const char* uuid);
const char* cli_type_name(int type);
int cli_type_from_name(const char* name);
std::string cli_repo_name(int repo);

// A path argument taken relative to the directory the tool was started in
// (start-up changes into the profile directory).
std::string cli_path(const char* arg);
// 0 when an export may write `path` (a file, or with dir a folder for
// notes); else 1 after a message: the configuration database and the
// repositories' own files are never replaced by an export.
int cli_export_target_ok(const std::string& path, bool dir);
