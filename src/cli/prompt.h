// Secrets for the command-line tool: an environment variable when set, else
// a prompt on the terminal without echo, else the next line of standard
// input.
#pragma once

#include <string>

#include "crypto/wipe.h"

// 0 with the secret, or -1 when none could be read.
int read_secret(const char* env_name, const char* prompt, std::string* out);
