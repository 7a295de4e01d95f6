// SPDX-License-Identifier: GPL-3.0-or-later
// Whether an update from the server may replace the program: only a package
// that carries a valid Ed25519 signature by the release key built into the
// program, and only when the program's own file may be replaced by the user.
// Otherwise the user is told to update through the package manager.
#pragma once

#include <cstdint>
#include <string>

#include "sync/conn.h"
#include "sync/requests.h"

// Results of update_fetch_verified beyond 0 and -1.
enum {
  UPDATE_NO_KEY = 20,         // no release key built in
  UPDATE_NO_SIGNATURE = 21,   // the server offers no signature for the package
  UPDATE_BAD_SIGNATURE = 22,  // the package does not verify (it was removed)
};

// The release key built into the program (32 bytes), or nullptr.
const uint8_t* release_public_key();
// 64 hexadecimal digits into 32 bytes; -1 for anything else.
int release_key_parse(const char* hex, uint8_t out[32]);

// True when the file at exe_path and its directory are writable by this
// user, so that the update script can replace it.
bool update_self_replace_allowed(const char* exe_path);
// The running program's file ("/proc/self/exe" resolved); empty when unknown.
std::string program_file_path();

// "get signature": the 64-byte signature of the package. 0, or
// UPDATE_NO_SIGNATURE when the server has none (also from a server that
// does not know the request), -1 when the connection failed.
int update_get_signature(const ServerLogin& login, const char* package, std::string* sig);
// 0 when the file's bytes verify under key with sig (64 bytes), else -1.
int update_verify_file(const char* path, const std::string& sig, const uint8_t key[32]);
// Signature first, then the package into dir, then the check. A package
// that does not verify is removed. 0 with *file_name set, an UPDATE_ code,
// or the download's failure.
int update_fetch_verified(const ServerLogin& login, const char* package, const char* dir, const uint8_t* key,
                          const ConnProgress& progress, std::string* file_name);
