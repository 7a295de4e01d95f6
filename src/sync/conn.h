// SPDX-License-Identifier: GPL-3.0-or-later
// Connection to the account server: handshake and keys, encrypted frames,
// byte readers on the frame stream, and whole files sent and received inside
// the stream (optionally page-encrypted on our side).
//
// Wire format (both directions, after the first four bytes from the server):
// a 16-byte header (payload length L big-endian, 1..1392, then 12 zero
// bytes) followed by the payload zero-padded to a multiple of 16, the whole
// frame AES-256-CBC encrypted on the direction's context, whose chaining
// value runs on from frame to frame.
//
// Handshake: the client sends one frame under the bootstrap key holding 32
// random bytes R and 32 zero bytes; the server answers with 4 plain bytes S;
// both switch to Kc = SHA-256(R with bytes 7..10 replaced by S, then S). An
// anonymous client then talks under Kc in both directions; a logging-in
// client sends the login frame (account id little-endian, user name, NUL)
// under Kc and both sides switch to Ku = derive_key_continue(SHA-256 over
// the 32-byte user hash, salt S, 2 rounds).
//
// The bootstrap key is derive_key_salted(CONN_BOOTSTRAP_TEXT, no salt, 10
// rounds); other implementations of either side must use the same text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "crypto/crypto.h"

enum {
  CONN_PORT = 443,
  CONN_HEADER = 16,
  CONN_PAYLOAD = 1392,
  CONN_FRAME = CONN_HEADER + CONN_PAYLOAD,
  CONN_BLOCK = 1024,
  CONN_DIGEST = 20,
  CONN_NAME_MAX = 64,  // object name with its NUL
  CONN_USER_MAX = 255,
};

// The fixed 9-character text the bootstrap key is derived from.
#define CONN_BOOTSTRAP_TEXT "ordika-v1"

// last_error codes left by conn_connect.
enum {
  CONN_ERR_NO_HOST = 1,
  CONN_ERR_NO_USERHASH = 2,
  CONN_ERR_USER_TOO_LONG = 3,
  CONN_ERR_RESOLVE = 4,
  CONN_ERR_SOCKET = 5,
  CONN_ERR_CONNECT = 6,
  CONN_ERR_FIRST_FRAME = 7,
  CONN_ERR_SALT = 8,
  CONN_ERR_LOGIN_FRAME = 9,
};

// Progress of a transfer in percent (0..100), called only when it changes.
using ConnProgress = std::function<void(int percent)>;

struct Connection {
  Connection() = default;
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  int socket = -1;
  CipherContext send_cipher;
  CipherContext recv_cipher;
  // Frames are built and received in place; the send and receive buffers are
  // kept apart so a pending reply never spoils the bytes still to be read.
  uint8_t send_frame[CONN_FRAME] = {};
  uint8_t recv_frame[CONN_FRAME] = {};
  int fill = 0;
  int recv_size = 0;
  int recv_pos = 0;

  // Transfer in progress.
  FILE* file = nullptr;
  std::string name;
  uint64_t remaining = 0;
  uint64_t total = 0;
  Sha1Context digest{};
  uint8_t digest_in[CONN_DIGEST] = {};
  bool write_failed = false;
  bool paged = false;
  uint8_t page_key[32] = {};
  uint8_t block[CONN_BLOCK] = {};
  int block_fill = 0;
  std::string* memory_target = nullptr;

  // Directory that received files ("file.tmp" and the final name) go to;
  // empty means the current directory.
  std::string dir;
  // Largest body recv_obj accepts; 0 means no limit.
  uint64_t max_body = 0;
  // Further check of the names recv_obj may write (the exact name a request
  // expects, or a pattern); absent: any allowed name.
  std::function<bool(const char* name)> accept_name;
  // Refuse frames whose header padding is not zero (the server uses this to
  // notice a wrong login key at the first frame).
  bool strict = false;
};

// Process-wide 32-byte bootstrap key, derived on first use.
const uint8_t* conn_bootstrap_key();

// Splits "host[:port]" (IPv4 name or address); the port defaults to `def`.
// -1 for an empty host or a bad port.
int conn_split_host(const char* text, int def, std::string* host, int* port);

// Seconds that connecting, and then each read or write, may wait; 0 (the
// default) sets no limit: the window interrupts with SIGALRM instead.
// Process-wide; the command-line tool sets it.
void conn_set_timeout(int seconds);
int conn_get_timeout();
// True when the calling thread's last conversation failed on a timeout
// (cleared by conn_connect).
bool conn_timed_out();

// Connects and keys the connection; logs in when user is given (then
// user_hash, 32 bytes, is required). The host may carry ":PORT", which
// overrides port. 0, or -1 with last_error set and the socket closed.
int conn_connect(Connection* c, const char* host, int port, uint32_t account_id, const char* user,
                 const uint8_t* user_hash);
void conn_close(Connection* c);

int conn_put(Connection* c, const void* bytes, size_t len);
int conn_send(Connection* c);
int conn_recv(Connection* c);
// Sends `text` as the start of the payload (request lines); -1 when the
// pending payload plus the text exceed one frame.
int conn_put_text(Connection* c, const char* text);

// Exactly len bytes from the frame stream (receiving frames as needed).
int conn_read(Connection* c, void* out, size_t len);
// Bytes up to and without "\n" (at most max bytes before it). 0 or -1.
int conn_read_line(Connection* c, std::string* line, size_t max);
// Marks the rest of the current frame as read.
void conn_skip_frame(Connection* c);

// Sends one file object. `name` is the name put on the wire (default: the
// last component of path). 0 or -1.
int conn_send_file(Connection* c, const char* path, const char* name = nullptr);
// The same for a page-encrypted file: the body sent is its plain content.
int conn_send_file_paged(Connection* c, const char* path, const uint8_t key[32], const char* name = nullptr);
// Sends bytes from memory as one file object.
int conn_send_memory(Connection* c, const char* name, const void* data, size_t len);

// Receives one file object. mode 0: into c->dir/"file.tmp", renamed to its
// name there once the digest matched; the name must be a plain file name or
// "<39-char directory>/<plain name>", anything else is refused unwritten.
// mode 1: into *memory (required then). *name_out receives the name.
// 0 or -1.
int recv_obj(Connection* c, std::string* name_out, const ConnProgress& progress, int mode,
             std::string* memory = nullptr);
// Mode 0 receive that stores the file page-encrypted under key (32 bytes);
// the body length must be a multiple of 1024.
int recv_obj_paged(Connection* c, const uint8_t key[32], std::string* name_out = nullptr,
                   const ConnProgress& progress = nullptr);

// True for a name recv_obj may write: a plain file name of printable
// characters, not starting with "." and without "/", or the directory form.
bool conn_name_allowed(const char* name);

// Server side of the handshake on an accepted socket (taken over by c).
// lookup(account_id, user, hash_out) fills the 32-byte user hash of a known
// account and returns 0. On return *anonymous tells whether the client
// stayed anonymous; for a login *account_id and *user are set. The first
// frame after the handshake is already received when the client is
// anonymous (it carries the request). 0 or -1.
using ConnLookup = std::function<int(uint32_t account_id, const std::string& user, uint8_t hash_out[32])>;
int conn_accept(Connection* c, int fd, const ConnLookup& lookup, bool* anonymous, uint32_t* account_id,
                std::string* user);
