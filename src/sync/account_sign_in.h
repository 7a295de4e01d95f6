// SPDX-License-Identifier: GPL-3.0-or-later
// Signing in to the account server from the window: the account is stored
// only after one login with it succeeded.
#pragma once

#include <cstdint>
#include <string>

enum {
  SIGN_IN_BAD_INPUT = 30,  // host, number, user name or password malformed
  SIGN_IN_REFUSED = 31,    // the server took the connection but not the login
};

// "host" or "host:port" with a port of 1..65535, no blanks or slashes.
bool server_host_valid(const std::string& host);
// Parses a positive 31-bit account number; -1 when it is not one.
int32_t account_number_parse(const std::string& text);

// Logs in once ("ls") as the account and, when the server accepted it,
// stores the account record and signs it in. 0; SIGN_IN_BAD_INPUT;
// SIGN_IN_REFUSED; -1 when the server could not be reached (last_error set)
// or the record could not be stored. Nothing is stored on failure.
int account_sign_in(const char* host, int32_t number, const char* user, const char* password);
// Removes the account record and signs out. 0 or -1.
int account_sign_out();
