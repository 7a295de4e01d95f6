// SPDX-License-Identifier: GPL-3.0-or-later
// The source store: beside a repository's "data", the file "sources" keeps
// what a file or a calendar server said about each item (its whole
// component), the state of account sync, and the account's collections. It
// goes through the page-encrypting layer under the repository key, like
// "data", and is made on the first write; a repository without it works as
// before. storage/schema.h names its tables.
//
// Writes here are not undo steps: they describe the file's or the server's
// copy, not the user's edits (those live in the items as always). Several
// writes can be one transaction (source_begin .. source_commit).
//
// Functions take the repository's index in repo_table(). 0 on success, -1
// on failure (logged), as the storage layer does; source_get gives 1 for
// "no record". Main thread, or the one worker of a long operation.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct RepoEntry;

// One item's kept source and sync state.
struct SourceRecord {
  uint8_t uuid[16] = {};  // the item
  // The source text: a VCALENDAR holding the VEVENT/VTODO with its
  // overridden instances and the VTIMEZONEs they use, or one VCARD; CRLF line
  // ends, folded as received.
  std::string component;
  // The full recurrence when the item's own Recurrence cannot say it (see
  // model/full_rule.h for its form); empty otherwise.
  std::string rule;
  // Account sync state, empty for imported items: the member on the server,
  // the version held, the collection's tag, and the item's version hash when
  // it last matched the server (zero when never synced).
  std::string href;
  std::string etag;
  uint8_t collection[16] = {};
  uint8_t synced_hash[20] = {};
};

// One collection of an account repository (one per tag).
struct SourceCollection {
  uint8_t tag[16] = {};
  std::string href;
  std::string display_name;
  std::string color;
  std::string kind;  // "events", "tasks", "events+tasks" or "contacts"
  std::string sync_token;
  std::string ctag;
};

// The file name inside the repository directory.
inline constexpr char kSourcesFile[] = "sources";

// Opens the entry's source store, creating it when missing. Idempotent. 0,
// or -1 (a file that does not verify under the repository key is never
// touched).
int source_open(RepoEntry* e);
// Closes it (repo_close does this too).
void source_close(RepoEntry* e);
// True when the repository has a source store file.
bool source_exists(int repo);

// 0 and *out filled, 1 when the item has no record (or there is no store),
// -1 on failure.
int source_get(int repo, const uint8_t uuid[16], SourceRecord* out);
// Inserts or replaces the item's record.
int source_put(int repo, const SourceRecord& r);
// Removes the item's record; 0 also when there was none.
int source_remove(int repo, const uint8_t uuid[16]);
// Every record in uuid order; a non-zero return of fn stops the walk and is
// returned.
int source_each(int repo, const std::function<int(const SourceRecord&)>& fn);
// The non-empty rules only (what mounting needs), without the components.
int source_rules(int repo, const std::function<void(const uint8_t uuid[16], const std::string& rule)>& fn);

int source_collections(int repo, std::vector<SourceCollection>* out);
int source_collection_put(int repo, const SourceCollection& c);
int source_collection_remove(int repo, const uint8_t tag[16]);

// Records an account sync keeps only once the repository's changes they
// describe are committed: written (and committed) here before the
// repository's commit, moved into place after it, so that a failure between
// the two leaves them for the next sync to settle by what the repository
// holds. A record with `drop` set means the item's record goes.
int source_pending_put(int repo, const SourceRecord& r, bool drop);
int source_pending_each(int repo, const std::function<int(const SourceRecord&, bool drop)>& fn);
int source_pending_clear(int repo);

// Removes the records of items gone for good: no version of the item left
// in the repository and no journal entry that could bring one back (the
// undo of its deletion, the redo of its import). Records of members an
// account still syncs stay: the next sync deletes the member and then its
// record. Needs the repository open. 0 or -1.
int source_sweep(int repo);

// One transaction over several writes (a sync's apply step, an import).
// Transactions do not nest. source_rollback of a store without an open
// transaction does nothing.
int source_begin(int repo);
int source_commit(int repo);
void source_rollback(int repo);

// The same as a scope guard: rolled back unless committed.
class SourceTransaction {
 public:
  explicit SourceTransaction(int repo) : repo_(repo), status_(source_begin(repo)) {}
  ~SourceTransaction() {
    if (status_ == 0 && !done_) source_rollback(repo_);
  }
  SourceTransaction(const SourceTransaction&) = delete;
  SourceTransaction& operator=(const SourceTransaction&) = delete;
  int status() const { return status_; }
  int commit() {
    if (status_ != 0 || done_) return -1;
    done_ = true;
    return source_commit(repo_);
  }

 private:
  int repo_;
  int status_;
  bool done_ = false;
};

// After the repository key changed from old_key to new_key: re-encodes
// dir/"sources" when it is still under the old key (a crash may have left
// it either way). 0 also when there is no file or it is under the new key.
int source_rekey_file(const char* dir, const uint8_t old_key[32], const uint8_t new_key[32]);
