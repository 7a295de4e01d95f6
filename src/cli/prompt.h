// SPDX-License-Identifier: GPL-3.0-or-later
// Secrets for the command-line tool: an environment variable when set, else
// a prompt on the terminal without echo, else the next line of standard
// input.
#pragma once

#include <string>

#include "crypto/wipe.h"

// 0 with the secret, or -1 when none could be read.
int read_secret(const char* env_name, const char* prompt, std::string* out);

// The policy of master, export and account passwords: at least 10
// characters with upper case, lower case and digits.
enum { CLI_PASSWORD_MIN = 10, CLI_PASSWORD_CLASSES = 7 };
enum { PASSWORD_TWICE = 1, PASSWORD_STRONG = 2 };

// A password for a command through read_secret: never empty; asked a second
// time to confirm with PASSWORD_TWICE (not when it comes from the
// environment); following the policy with PASSWORD_STRONG. 0, or 1 after a
// message (nothing is left in *out).
int read_password(const char* env_name, const char* prompt, int flags, std::string* out);
