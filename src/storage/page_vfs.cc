// SPDX-License-Identifier: GPL-3.0-or-later
// Page-encrypting VFS shim. The engine sees plain pages with its usual magic
// text; the disk holds pages encrypted at their own offsets and, on page 1,
// the file's own 16 leading bytes (salt or random) instead of the magic.
#include "storage/page_vfs.h"

#include <openssl/crypto.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "crypto/page_codec.h"
#include "support/bytes.h"
#include "support/log.h"

namespace {

constexpr int kPage = PAGE_VFS_PAGE_SIZE;
constexpr int kSector = 512;  // keeps journal headers smaller than a page
// Pages read in one call when pages come in order: a few at first, twice as
// many each time the engine reads on past them, so that a random read that
// happens to follow another costs little.
constexpr int kAheadFirst = 8;
constexpr int kAheadPages = 64;
// Pages skipped forward between two reads that still count as in order: rows
// of tables filled together interleave their pages.
constexpr int kAheadGap = 16;
const uint8_t kMagic[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f', 'o', 'r', 'm', 'a', 't', ' ', '3', 0};

// The bytes the engine's journal checksum samples from a page image.
uint32_t checksum_samples(const uint8_t* page) {
  uint32_t sum = 0;
  for (int i = kPage - 200; i > 0; i -= 200) sum += page[i];
  return sum;
}

enum FileKind { KIND_DB, KIND_JOURNAL, KIND_MEMORY, KIND_PASS };

struct PageVfs;

// State of one open file of the shim.
struct FileState {
  int kind = KIND_PASS;
  PageVfs* vfs = nullptr;
  std::string name;

  // Database files.
  PageCodec codec;
  int prefix = 0;  // plain bytes at the start of page 1
  uint8_t salt[16] = {};
  bool has_salt = false;
  uint8_t header[16] = {};  // the file's own leading 16 bytes
  bool header_known = false;
  // The file's size as last seen. Another connection can only change it while
  // this one holds no lock, so it is taken afresh when the engine locks or
  // unlocks, asks for the size, truncates or sends a file control (a size hint
  // may extend the file), and is carried along by our own writes.
  sqlite3_int64 size = 0;
  bool size_known = false;
  // Stored pages read ahead while the engine asks for pages in order (a table
  // scan): one system call for many pages. Kept, like the size, only while
  // the file cannot change under it.
  std::vector<uint8_t> ahead;
  sqlite3_int64 ahead_first = 0;  // page index of ahead[0]
  int ahead_count = 0;
  int ahead_span = kAheadFirst;  // pages to read at the next refill
  // The parent maps the file read-only while the engine streams through it,
  // so pages are deciphered from the page cache without a copy through the
  // kernel or reading the pages a scan skips (forget_file).
  bool can_map = false;  // until the parent refuses
  bool mapped = false;
  int in_order_run = 0;  // pages read in order since the lock changed
  sqlite3_int64 next_index = -1;  // the index following the last page read
  std::vector<uint8_t> scratch;  // decoded reads; grows to the largest read once
  uint8_t page_buffer[kPage] = {};
  uint8_t probe[kPage] = {};
  FileState* journal = nullptr;
  struct ShimFile* file = nullptr;  // this database's own file

  // Journal files.
  FileState* owner = nullptr;
  sqlite3_int64 last4_off = -1;  // last 4-byte access: the page number of a record
  uint32_t last4_val = 0;
  sqlite3_int64 pending_off = -1;  // where the checksum of the last page image sits
  uint32_t pending_delta = 0;

  // Memory files.
  std::vector<uint8_t> mem;

  ~FileState() {
    OPENSSL_cleanse(salt, sizeof salt);
    OPENSSL_cleanse(page_buffer, sizeof page_buffer);
    OPENSSL_cleanse(probe, sizeof probe);
    if (!scratch.empty()) OPENSSL_cleanse(scratch.data(), scratch.size());
    if (!mem.empty()) OPENSSL_cleanse(mem.data(), mem.size());
  }

  int set_key(const uint8_t* key, int key_len) {
    codec.clear();
    has_salt = false;
    prefix = 0;
    header_known = false;
    if (codec.set_key(key) != 0) return -1;
    if (key_len == 48) {
      prefix = 16;
      memcpy(salt, key + 32, 16);
      has_salt = true;
    }
    return 0;
  }
};

struct ShimFile {
  sqlite3_file base;
  FileState* st;
  sqlite3_file* real;  // the parent's file, in the storage after this struct
};

constexpr int kRealOffset = int((sizeof(ShimFile) + 15) & ~size_t(15));

struct PageVfs {
  sqlite3_vfs base;
  sqlite3_vfs* parent = nullptr;
  std::string name;
  FileState* main_db = nullptr;
  std::vector<FileState*> dbs;
  int holds = 0;          // open files plus transient holds
  bool released = false;  // the connection no longer needs the VFS
  uint8_t main_key[32] = {};
  bool has_main_key = false;
  uint8_t pending_key[48] = {};  // key for the next attached file (page_db_attach)
  int pending_len = 0;

  ~PageVfs() {
    OPENSSL_cleanse(main_key, sizeof main_key);
    OPENSSL_cleanse(pending_key, sizeof pending_key);
  }
};

PageVfs* vfs_of(sqlite3_vfs* v) { return reinterpret_cast<PageVfs*>(v->pAppData); }

void maybe_free(PageVfs* v) {
  if (!v->released || v->holds > 0) return;
  sqlite3_vfs_unregister(&v->base);
  delete v;
}

// ---------------------------------------------------------------------------
// Database files

// The size from the file system, remembered for later reads.
int raw_size(ShimFile* f, sqlite3_int64* size) {
  FileState* s = f->st;
  s->size_known = false;
  int rc = f->real->pMethods->xFileSize(f->real, size);
  if (rc == SQLITE_OK) {
    s->size = *size;
    s->size_known = true;
  }
  return rc;
}

int known_size(ShimFile* f, sqlite3_int64* size) {
  if (!f->st->size_known) return raw_size(f, size);
  *size = f->st->size;
  return SQLITE_OK;
}

// Turns one page as stored into the engine's page (in may equal out).
void decode_page_to(FileState* s, const uint8_t* in, uint8_t* out, sqlite3_int64 pgno) {
  int skip = pgno == 1 ? s->prefix : 0;
  if (s->codec.keyed()) {
    if (skip && in != out) memcpy(out, in, size_t(skip));
    s->codec.decrypt(in + skip, out + skip, kPage - skip);
  } else if (in != out) {
    memcpy(out, in, kPage);
  }
  if (pgno == 1) {
    memcpy(s->header, out, 16);
    s->header_known = true;
    memcpy(out, kMagic, 16);
    // Our files never use WAL. A page 1 that claims it is noise (a wrong
    // key) or foreign: make the engine report "not a database" instead of
    // trying to open a WAL file.
    if (out[18] == 2 || out[19] == 2) out[19] = 0xFF;
  }
}

void decode_page(FileState* s, uint8_t* page, sqlite3_int64 pgno) { decode_page_to(s, page, page, pgno); }

// Sets the parent's mapping limit: 0 unmaps and leaves every access to
// plain reads and writes.
bool set_map_limit(ShimFile* f, sqlite3_int64 limit) {
  const sqlite3_io_methods* m = f->real->pMethods;
  if (!m || m->iVersion < 3 || !m->xFetch || !m->xUnfetch) return false;
  return m->xFileControl(f->real, SQLITE_FCNTL_MMAP_SIZE, &limit) == SQLITE_OK;
}

// The file may change from here on: size, mapping and pages read ahead are
// stale. The mapping is on only between a scan's first page and the next
// lock change or file control: with it on, the parent would also take a
// size hint as leave to extend the file with zeros before the pages arrive.
void forget_file(FileState* s) {
  s->size_known = false;
  s->ahead_count = 0;
  s->in_order_run = 0;
  if (s->mapped) {
    set_map_limit(s->file, 0);
    s->mapped = false;
  }
}

// One whole page deciphered straight from the parent's read-only mapping of
// the file; false when mapping is unavailable or the page lies beyond the
// mapping (the file grew since, or its last bytes).
bool db_read_mapped(ShimFile* f, uint8_t* buf, sqlite3_int64 index) {
  FileState* s = f->st;
  if (!s->mapped) {
    // Any limit above the file size; the parent clamps it to its maximum.
    if (!s->can_map || !set_map_limit(f, sqlite3_int64(1) << 40)) {
      s->can_map = false;
      return false;
    }
    s->mapped = true;
  }
  sqlite3_file* real = f->real;
  void* p = nullptr;
  if (real->pMethods->xFetch(real, index * kPage, kPage, &p) != SQLITE_OK || !p) return false;
  decode_page_to(s, static_cast<const uint8_t*>(p), buf, index + 1);
  real->pMethods->xUnfetch(real, index * kPage, p);
  return true;
}

// Makes sure the file's own 16 leading bytes are known before page 1 is
// written: from the disk when page 1 exists, else the salt or fresh random.
void ensure_header(ShimFile* f) {
  FileState* s = f->st;
  if (s->header_known) return;
  sqlite3_int64 size = 0;
  if (raw_size(f, &size) == SQLITE_OK && size >= kPage &&
      f->real->pMethods->xRead(f->real, s->probe, kPage, 0) == SQLITE_OK) {
    decode_page(s, s->probe, 1);
    return;
  }
  if (s->has_salt)
    memcpy(s->header, s->salt, 16);
  else
    sqlite3_randomness(16, s->header);
  s->header_known = true;
}

// The engine reads the first bytes of the file when it opens it, before any
// key is installed. Whatever is stored, it is told: page size 1024, no
// reserved bytes, no auto-vacuum; an empty file so becomes a 1024-page
// database from its first write on.
int db_read_probe(ShimFile* f, uint8_t* buf, int amt) {
  FileState* s = f->st;
  sqlite3_int64 size = 0;
  int rc = raw_size(f, &size);
  if (rc != SQLITE_OK) return rc;
  memset(s->probe, 0, kPage);
  if (size > 0) {
    rc = f->real->pMethods->xRead(f->real, s->probe, kPage, 0);
    if (rc != SQLITE_OK && rc != SQLITE_IOERR_SHORT_READ) return rc;
  }
  if (size >= 16 && memcmp(s->probe, kMagic, 16) == 0) {
    // A stock database: leave its header alone.
    memcpy(buf, s->probe, size_t(amt));
    return size >= amt ? SQLITE_OK : SQLITE_IOERR_SHORT_READ;
  }
  if (size >= kPage)
    decode_page(s, s->probe, 1);
  else
    memset(s->probe, 0, kPage);
  memcpy(s->probe, kMagic, 16);
  s->probe[16] = kPage >> 8;
  s->probe[17] = kPage & 0xff;
  s->probe[20] = 0;
  memset(s->probe + 52, 0, 4);
  memset(s->probe + 64, 0, 4);
  memcpy(buf, s->probe, size_t(amt));
  return SQLITE_OK;
}

// Reads the whole pages covering [off, off+amt) into data (room for all of
// them), decoded in place.
int db_read_pages(ShimFile* f, sqlite3_int64 off, int amt, uint8_t* data, sqlite3_int64* first_out,
                  sqlite3_int64* size_out) {
  FileState* s = f->st;
  sqlite3_int64 first = off / kPage;
  sqlite3_int64 last = (off + amt - 1) / kPage;
  size_t n = size_t(last - first + 1);
  sqlite3_int64 size = 0;
  int rc = known_size(f, &size);
  if (rc != SQLITE_OK) return rc;
  rc = f->real->pMethods->xRead(f->real, data, int(n * kPage), first * kPage);
  if (rc != SQLITE_OK && rc != SQLITE_IOERR_SHORT_READ) return rc;
  for (size_t i = 0; i < n; i++) {
    uint8_t* page = data + i * kPage;
    sqlite3_int64 start = (first + sqlite3_int64(i)) * kPage;
    if (size >= start + kPage) {
      decode_page(s, page, first + sqlite3_int64(i) + 1);
    } else {
      // Missing or cut short: a partial page cannot be decrypted.
      memset(page, 0, kPage);
    }
  }
  *first_out = first;
  *size_out = size;
  return SQLITE_OK;
}

// Reads the pages covering [off, off+amt) into s->scratch, decoded.
int db_read_scratch(ShimFile* f, sqlite3_int64 off, int amt, sqlite3_int64* first_out, sqlite3_int64* size_out) {
  FileState* s = f->st;
  size_t n = size_t((off + amt - 1) / kPage - off / kPage + 1);
  if (s->scratch.size() < n * kPage) s->scratch.resize(n * kPage);
  return db_read_pages(f, off, amt, s->scratch.data(), first_out, size_out);
}

// One whole page from the pages read ahead, refilled when the engine reads in
// order. False when the page is not there and is better read alone (random
// access, the last pages of the file, a failed read).
bool db_read_ahead(ShimFile* f, uint8_t* buf, sqlite3_int64 index) {
  FileState* s = f->st;
  bool in_order = index >= s->next_index && index <= s->next_index + kAheadGap;
  s->next_index = index + 1;
  // A scan maps the file after its first few pages, and every page of that
  // lock comes from the mapping; a small transaction's reads stay plain.
  s->in_order_run = in_order ? s->in_order_run + 1 : 0;
  if ((s->mapped || s->in_order_run > kAheadFirst) && db_read_mapped(f, buf, index)) return true;
  if (index < s->ahead_first || index >= s->ahead_first + s->ahead_count) {
    sqlite3_int64 size = 0;
    sqlite3_int64 end = s->ahead_first + s->ahead_count;
    bool streaming = s->ahead_count > 0 && index >= end && index <= end + kAheadGap;
    s->ahead_span = streaming ? std::min(s->ahead_span * 2, kAheadPages) : kAheadFirst;
    if (!in_order || known_size(f, &size) != SQLITE_OK) return false;
    sqlite3_int64 whole = size / kPage - index;
    if (whole < 2) return false;
    int count = int(std::min<sqlite3_int64>(whole, s->ahead_span));
    if (s->ahead.size() < size_t(kAheadPages) * kPage) s->ahead.resize(size_t(kAheadPages) * kPage);
    s->ahead_count = 0;
    if (f->real->pMethods->xRead(f->real, s->ahead.data(), count * kPage, index * kPage) != SQLITE_OK) return false;
    s->ahead_first = index;
    s->ahead_count = count;
  }
  decode_page_to(s, s->ahead.data() + (index - s->ahead_first) * kPage, buf, index + 1);
  return true;
}

int db_read(sqlite3_file* file, void* buf, int amt, sqlite3_int64 off) {
  ShimFile* f = reinterpret_cast<ShimFile*>(file);
  if (amt <= 0) return SQLITE_OK;
  if (off == 0 && amt < kPage) return db_read_probe(f, static_cast<uint8_t*>(buf), amt);
  if (amt == kPage && off % kPage == 0 && db_read_ahead(f, static_cast<uint8_t*>(buf), off / kPage))
    return SQLITE_OK;
  sqlite3_int64 first = 0, size = 0;
  if (off % kPage == 0 && amt % kPage == 0) {
    // Whole pages, the engine's usual read: decoded in its own buffer.
    int rc = db_read_pages(f, off, amt, static_cast<uint8_t*>(buf), &first, &size);
    if (rc != SQLITE_OK) return rc;
  } else {
    int rc = db_read_scratch(f, off, amt, &first, &size);
    if (rc != SQLITE_OK) return rc;
    memcpy(buf, f->st->scratch.data() + (off - first * kPage), size_t(amt));
  }
  return off + amt <= size ? SQLITE_OK : SQLITE_IOERR_SHORT_READ;
}

// Encodes one engine page for the disk into out.
int encode_page(ShimFile* f, const uint8_t* in, uint8_t* out, sqlite3_int64 pgno) {
  FileState* s = f->st;
  if (pgno != 1) return s->codec.encrypt(in, out, kPage);
  ensure_header(f);
  memcpy(out, in, kPage);
  memcpy(out, s->header, 16);
  return s->codec.encrypt(out + s->prefix, out + s->prefix, kPage - s->prefix);
}

int db_write_pages(sqlite3_file* file, const void* buf, int amt, sqlite3_int64 off);

int db_write(sqlite3_file* file, const void* buf, int amt, sqlite3_int64 off) {
  FileState* s = reinterpret_cast<ShimFile*>(file)->st;
  s->ahead_count = 0;
  int rc = db_write_pages(file, buf, amt, off);
  if (rc != SQLITE_OK)
    s->size_known = false;  // part of it may have landed
  else if (s->size_known && amt > 0 && off + amt > s->size)
    s->size = off + amt;
  return rc;
}

int db_write_pages(sqlite3_file* file, const void* buf, int amt, sqlite3_int64 off) {
  ShimFile* f = reinterpret_cast<ShimFile*>(file);
  FileState* s = f->st;
  const uint8_t* in = static_cast<const uint8_t*>(buf);
  if (amt <= 0) return SQLITE_OK;
  if (!s->codec.keyed()) {
    if (off >= 16) return f->real->pMethods->xWrite(f->real, buf, amt, off);
    ensure_header(f);
    if (s->scratch.size() < size_t(amt)) s->scratch.resize(size_t(amt));
    memcpy(s->scratch.data(), in, size_t(amt));
    size_t n = std::min<size_t>(size_t(16 - off), size_t(amt));
    memcpy(s->scratch.data(), s->header + off, n);
    return f->real->pMethods->xWrite(f->real, s->scratch.data(), amt, off);
  }
  if (off % kPage == 0 && amt % kPage == 0) {
    for (int done = 0; done < amt; done += kPage) {
      sqlite3_int64 pgno = (off + done) / kPage + 1;
      if (encode_page(f, in + done, s->page_buffer, pgno) != 0) return SQLITE_IOERR_WRITE;
      int rc = f->real->pMethods->xWrite(f->real, s->page_buffer, kPage, off + done);
      if (rc != SQLITE_OK) return rc;
    }
    return SQLITE_OK;
  }
  // A write that is not whole pages: read, patch and rewrite the pages.
  sqlite3_int64 first = 0, size = 0;
  int rc = db_read_scratch(f, off, amt, &first, &size);
  if (rc != SQLITE_OK) return rc;
  std::vector<uint8_t> pages(s->scratch.begin(),
                             s->scratch.begin() + ((off + amt - 1) / kPage - first + 1) * kPage);
  memcpy(pages.data() + (off - first * kPage), in, size_t(amt));
  for (size_t done = 0; done < pages.size(); done += kPage) {
    sqlite3_int64 pgno = first + sqlite3_int64(done / kPage) + 1;
    if (encode_page(f, pages.data() + done, s->page_buffer, pgno) != 0) rc = SQLITE_IOERR_WRITE;
    if (rc == SQLITE_OK)
      rc = f->real->pMethods->xWrite(f->real, s->page_buffer, kPage, (pgno - 1) * kPage);
    if (rc != SQLITE_OK) break;
  }
  OPENSSL_cleanse(pages.data(), pages.size());
  return rc;
}

// ---------------------------------------------------------------------------
// Journal files. A record is the page number (4 bytes), the page image and a
// checksum (4 bytes); the engine writes and reads the image as one access of
// exactly a page. The checksum is kept over the encrypted image, as an
// engine with a built-in codec computes it.

int journal_write(sqlite3_file* file, const void* buf, int amt, sqlite3_int64 off) {
  ShimFile* f = reinterpret_cast<ShimFile*>(file);
  FileState* s = f->st;
  FileState* db = s->owner;
  const uint8_t* in = static_cast<const uint8_t*>(buf);
  if (amt == 4) {
    if (off == s->pending_off) {
      uint8_t v[4];
      put_be32(v, get_be32(in) + s->pending_delta);
      s->pending_off = -1;
      return f->real->pMethods->xWrite(f->real, v, 4, off);
    }
    s->last4_off = off;
    s->last4_val = get_be32(in);
    return f->real->pMethods->xWrite(f->real, buf, amt, off);
  }
  bool page1 = off == s->last4_off + 4 && s->last4_val == 1;
  if (db && db->codec.keyed() && amt == kPage) {
    uint8_t* out = s->page_buffer;
    memcpy(out, in, kPage);
    int skip = 0;
    if (page1) {
      ensure_header(db->file);
      memcpy(out, db->header, 16);
      skip = db->prefix;
    }
    if (db->codec.encrypt(out + skip, out + skip, kPage - skip) != 0) return SQLITE_IOERR_WRITE;
    s->pending_delta = checksum_samples(out) - checksum_samples(in);
    s->pending_off = off + kPage;
    return f->real->pMethods->xWrite(f->real, out, kPage, off);
  }
  if (db && page1 && amt >= 16 && memcmp(in, kMagic, 16) == 0) {
    ensure_header(db->file);
    if (s->scratch.size() < size_t(amt)) s->scratch.resize(size_t(amt));
    memcpy(s->scratch.data(), in, size_t(amt));
    memcpy(s->scratch.data(), db->header, 16);
    return f->real->pMethods->xWrite(f->real, s->scratch.data(), amt, off);
  }
  return f->real->pMethods->xWrite(f->real, buf, amt, off);
}

int journal_read(sqlite3_file* file, void* buf, int amt, sqlite3_int64 off) {
  ShimFile* f = reinterpret_cast<ShimFile*>(file);
  FileState* s = f->st;
  FileState* db = s->owner;
  uint8_t* out = static_cast<uint8_t*>(buf);
  int rc = f->real->pMethods->xRead(f->real, buf, amt, off);
  if (rc != SQLITE_OK) return rc;
  if (amt == 4) {
    if (off == s->pending_off) {
      put_be32(out, get_be32(out) - s->pending_delta);
      s->pending_off = -1;
    } else {
      s->last4_off = off;
      s->last4_val = get_be32(out);
    }
    return SQLITE_OK;
  }
  bool page1 = off == s->last4_off + 4 && s->last4_val == 1;
  if (db && db->codec.keyed() && amt == kPage) {
    uint32_t stored = checksum_samples(out);
    int skip = page1 ? db->prefix : 0;
    if (db->codec.decrypt(out + skip, out + skip, kPage - skip) != 0) return SQLITE_IOERR_READ;
    if (page1) {
      if (!db->header_known) {
        memcpy(db->header, out, 16);
        db->header_known = true;
      }
      memcpy(out, kMagic, 16);
    }
    s->pending_delta = stored - checksum_samples(out);
    s->pending_off = off + kPage;
    return SQLITE_OK;
  }
  if (db && page1 && amt >= 16) {
    if (!db->header_known) {
      memcpy(db->header, out, 16);
      db->header_known = true;
    }
    memcpy(out, kMagic, 16);
  }
  return SQLITE_OK;
}

// ---------------------------------------------------------------------------
// Methods shared by files backed by the parent VFS.

int real_close(ShimFile* f) {
  int rc = SQLITE_OK;
  if (f->real && f->real->pMethods) rc = f->real->pMethods->xClose(f->real);
  return rc;
}

int shim_close(sqlite3_file* file) {
  ShimFile* f = reinterpret_cast<ShimFile*>(file);
  FileState* s = f->st;
  PageVfs* v = s->vfs;
  if (s->kind == KIND_DB) {
    v->dbs.erase(std::remove(v->dbs.begin(), v->dbs.end(), s), v->dbs.end());
    if (v->main_db == s) v->main_db = nullptr;
    if (s->journal) s->journal->owner = nullptr;
  } else if (s->kind == KIND_JOURNAL && s->owner) {
    s->owner->journal = nullptr;
  }
  int rc = s->kind == KIND_MEMORY ? SQLITE_OK : real_close(f);
  delete s;
  f->st = nullptr;
  v->holds--;
  maybe_free(v);
  return rc;
}

int pass_read(sqlite3_file* file, void* buf, int amt, sqlite3_int64 off) {
  ShimFile* f = reinterpret_cast<ShimFile*>(file);
  return f->real->pMethods->xRead(f->real, buf, amt, off);
}

int pass_write(sqlite3_file* file, const void* buf, int amt, sqlite3_int64 off) {
  ShimFile* f = reinterpret_cast<ShimFile*>(file);
  return f->real->pMethods->xWrite(f->real, buf, amt, off);
}

int pass_truncate(sqlite3_file* file, sqlite3_int64 size) {
  ShimFile* f = reinterpret_cast<ShimFile*>(file);
  return f->real->pMethods->xTruncate(f->real, size);
}

int pass_sync(sqlite3_file* file, int flags) {
  ShimFile* f = reinterpret_cast<ShimFile*>(file);
  return f->real->pMethods->xSync(f->real, flags);
}

int pass_file_size(sqlite3_file* file, sqlite3_int64* size) {
  ShimFile* f = reinterpret_cast<ShimFile*>(file);
  return f->real->pMethods->xFileSize(f->real, size);
}

int pass_lock(sqlite3_file* file, int level) {
  ShimFile* f = reinterpret_cast<ShimFile*>(file);
  return f->real->pMethods->xLock(f->real, level);
}

int pass_unlock(sqlite3_file* file, int level) {
  ShimFile* f = reinterpret_cast<ShimFile*>(file);
  return f->real->pMethods->xUnlock(f->real, level);
}

int pass_check_reserved(sqlite3_file* file, int* out) {
  ShimFile* f = reinterpret_cast<ShimFile*>(file);
  return f->real->pMethods->xCheckReservedLock(f->real, out);
}

int pass_file_control(sqlite3_file* file, int op, void* arg) {
  ShimFile* f = reinterpret_cast<ShimFile*>(file);
  if (op == SQLITE_FCNTL_PRAGMA && f->st->kind == KIND_DB) {
    // WAL would write pages outside the rollback journal, and the file
    // format has one page size.
    char** az = static_cast<char**>(arg);
    if (az[1] && az[2] && sqlite3_stricmp(az[1], "journal_mode") == 0 && sqlite3_stricmp(az[2], "wal") == 0) {
      az[0] = sqlite3_mprintf("journal_mode WAL is not available for encrypted databases");
      return SQLITE_ERROR;
    }
    if (az[1] && az[2] && sqlite3_stricmp(az[1], "page_size") == 0 && atoi(az[2]) != kPage) {
      az[0] = sqlite3_mprintf("the page size of encrypted databases is %d", kPage);
      return SQLITE_ERROR;
    }
  }
  return f->real->pMethods->xFileControl(f->real, op, arg);
}

int shim_sector_size(sqlite3_file*) { return kSector; }

int db_truncate(sqlite3_file* file, sqlite3_int64 size) {
  ShimFile* f = reinterpret_cast<ShimFile*>(file);
  forget_file(f->st);  // the parent may round up to its chunk size
  return f->real->pMethods->xTruncate(f->real, size);
}

int db_file_size(sqlite3_file* file, sqlite3_int64* size) { return raw_size(reinterpret_cast<ShimFile*>(file), size); }

int db_lock(sqlite3_file* file, int level) {
  ShimFile* f = reinterpret_cast<ShimFile*>(file);
  forget_file(f->st);
  return f->real->pMethods->xLock(f->real, level);
}

int db_unlock(sqlite3_file* file, int level) {
  ShimFile* f = reinterpret_cast<ShimFile*>(file);
  forget_file(f->st);
  return f->real->pMethods->xUnlock(f->real, level);
}

int db_file_control(sqlite3_file* file, int op, void* arg) {
  forget_file(reinterpret_cast<ShimFile*>(file)->st);
  return pass_file_control(file, op, arg);
}

int pass_device_characteristics(sqlite3_file* file) {
  ShimFile* f = reinterpret_cast<ShimFile*>(file);
  return f->real->pMethods->xDeviceCharacteristics(f->real) & ~SQLITE_IOCAP_BATCH_ATOMIC;
}

// Version 1: no shared memory (no WAL) and no memory mapping, so every page
// goes through xRead and xWrite.
const sqlite3_io_methods kDbMethods = {
    1,         shim_close,          db_read,       db_write,           db_truncate,  pass_sync,
    db_file_size, db_lock,          db_unlock,     pass_check_reserved, db_file_control,
    shim_sector_size, pass_device_characteristics, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

const sqlite3_io_methods kJournalMethods = {
    1,         shim_close,          journal_read,  journal_write,      pass_truncate, pass_sync,
    pass_file_size, pass_lock,      pass_unlock,   pass_check_reserved, pass_file_control,
    shim_sector_size, pass_device_characteristics, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

const sqlite3_io_methods kPassMethods = {
    1,         shim_close,          pass_read,     pass_write,         pass_truncate, pass_sync,
    pass_file_size, pass_lock,      pass_unlock,   pass_check_reserved, pass_file_control,
    shim_sector_size, pass_device_characteristics, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// ---------------------------------------------------------------------------
// Memory files: temporary databases and journals never touch the disk.

int mem_read(sqlite3_file* file, void* buf, int amt, sqlite3_int64 off) {
  std::vector<uint8_t>& m = reinterpret_cast<ShimFile*>(file)->st->mem;
  uint8_t* out = static_cast<uint8_t*>(buf);
  sqlite3_int64 have = sqlite3_int64(m.size()) - off;
  if (have >= amt) {
    memcpy(out, m.data() + off, size_t(amt));
    return SQLITE_OK;
  }
  size_t n = have > 0 ? size_t(have) : 0;
  if (n) memcpy(out, m.data() + off, n);
  memset(out + n, 0, size_t(amt) - n);
  return SQLITE_IOERR_SHORT_READ;
}


// Grows m to at least size bytes, wiping the buffer it leaves behind.
void mem_grow(std::vector<uint8_t>& m, size_t size) {
  if (m.capacity() >= size) {
    m.resize(size);
    return;
  }
  std::vector<uint8_t> bigger;
  bigger.reserve(std::max(size, m.capacity() * 2));
  bigger.assign(m.begin(), m.end());
  bigger.resize(size);
  if (!m.empty()) OPENSSL_cleanse(m.data(), m.size());
  m.swap(bigger);
}

int mem_write(sqlite3_file* file, const void* buf, int amt, sqlite3_int64 off) {
  std::vector<uint8_t>& m = reinterpret_cast<ShimFile*>(file)->st->mem;
  size_t end = size_t(off) + size_t(amt);
  if (m.size() < end) mem_grow(m, end);
  memcpy(m.data() + off, buf, size_t(amt));
  return SQLITE_OK;
}

int mem_truncate(sqlite3_file* file, sqlite3_int64 size) {
  std::vector<uint8_t>& m = reinterpret_cast<ShimFile*>(file)->st->mem;
  if (size_t(size) < m.size()) {
    OPENSSL_cleanse(m.data() + size, m.size() - size_t(size));
    m.resize(size_t(size));
  }
  return SQLITE_OK;
}

int mem_sync(sqlite3_file*, int) { return SQLITE_OK; }

int mem_file_size(sqlite3_file* file, sqlite3_int64* size) {
  *size = sqlite3_int64(reinterpret_cast<ShimFile*>(file)->st->mem.size());
  return SQLITE_OK;
}

int mem_lock(sqlite3_file*, int) { return SQLITE_OK; }

int mem_check_reserved(sqlite3_file*, int* out) {
  *out = 0;
  return SQLITE_OK;
}

int mem_file_control(sqlite3_file*, int, void*) { return SQLITE_NOTFOUND; }

int mem_device_characteristics(sqlite3_file*) { return 0; }

const sqlite3_io_methods kMemMethods = {
    1,         shim_close,         mem_read,  mem_write,          mem_truncate, mem_sync,
    mem_file_size, mem_lock,       mem_lock,  mem_check_reserved, mem_file_control,
    shim_sector_size, mem_device_characteristics, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// ---------------------------------------------------------------------------
// The VFS.

sqlite3_vfs* parent_of(sqlite3_vfs* v) { return vfs_of(v)->parent; }

FileState* find_db_for_journal(PageVfs* v, const char* journal_name) {
  static const char kSuffix[] = "-journal";
  size_t len = strlen(journal_name);
  size_t slen = sizeof kSuffix - 1;
  if (len < slen || memcmp(journal_name + len - slen, kSuffix, slen) != 0) return nullptr;
  for (FileState* d : v->dbs)
    if (d->name.size() == len - slen && memcmp(d->name.data(), journal_name, len - slen) == 0) return d;
  return nullptr;
}

int shim_open(sqlite3_vfs* vfs, const char* name, sqlite3_file* file, int flags, int* out_flags) {
  PageVfs* v = vfs_of(vfs);
  ShimFile* f = reinterpret_cast<ShimFile*>(file);
  f->base.pMethods = nullptr;
  f->st = nullptr;
  f->real = nullptr;
  if (flags & SQLITE_OPEN_WAL) {
    log_message(LOG_ERROR, "page_vfs_open: WAL refused");
    return SQLITE_CANTOPEN;
  }
  FileState* s = new (std::nothrow) FileState;
  if (!s) return SQLITE_NOMEM;
  s->vfs = v;
  const int temp_flags = SQLITE_OPEN_TEMP_DB | SQLITE_OPEN_TEMP_JOURNAL | SQLITE_OPEN_SUBJOURNAL |
                         SQLITE_OPEN_TRANSIENT_DB;
  if (!name || (flags & temp_flags)) {
    s->kind = KIND_MEMORY;
    f->st = s;
    f->base.pMethods = &kMemMethods;
    if (out_flags) *out_flags = flags;
    v->holds++;
    return SQLITE_OK;
  }
  f->real = reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(f) + kRealOffset);
  f->real->pMethods = nullptr;
  int rc = v->parent->xOpen(v->parent, name, f->real, flags, out_flags);
  if (rc != SQLITE_OK) {
    real_close(f);
    f->real = nullptr;
    delete s;
    return rc;
  }
  s->name = name;
  f->st = s;
  if (flags & SQLITE_OPEN_MAIN_DB) {
    s->kind = KIND_DB;
    s->file = f;
    f->base.pMethods = &kDbMethods;
    s->can_map = true;
    v->dbs.push_back(s);
    if (!v->main_db && v->dbs.size() == 1 && v->pending_len == 0) {
      v->main_db = s;
    } else if (v->pending_len == 32 || v->pending_len == 48) {
      if (s->set_key(v->pending_key, v->pending_len) != 0) log_message(LOG_ERROR, "page_vfs_open: key");
      OPENSSL_cleanse(v->pending_key, sizeof v->pending_key);
      v->pending_len = 0;
    } else if (v->has_main_key) {
      // Attached without a key: the main key's 32 bytes, no plain prefix.
      if (s->set_key(v->main_key, 32) != 0) log_message(LOG_ERROR, "page_vfs_open: key");
    }
  } else if (flags & SQLITE_OPEN_MAIN_JOURNAL) {
    s->kind = KIND_JOURNAL;
    f->base.pMethods = &kJournalMethods;
    s->owner = find_db_for_journal(v, name);
    if (s->owner) s->owner->journal = s;
  } else {
    s->kind = KIND_PASS;
    f->base.pMethods = &kPassMethods;
  }
  v->holds++;
  return SQLITE_OK;
}

int shim_delete(sqlite3_vfs* vfs, const char* name, int sync_dir) {
  return parent_of(vfs)->xDelete(parent_of(vfs), name, sync_dir);
}

int shim_access(sqlite3_vfs* vfs, const char* name, int flags, int* out) {
  return parent_of(vfs)->xAccess(parent_of(vfs), name, flags, out);
}

int shim_full_pathname(sqlite3_vfs* vfs, const char* name, int n, char* out) {
  return parent_of(vfs)->xFullPathname(parent_of(vfs), name, n, out);
}

void* shim_dl_open(sqlite3_vfs* vfs, const char* name) { return parent_of(vfs)->xDlOpen(parent_of(vfs), name); }

void shim_dl_error(sqlite3_vfs* vfs, int n, char* out) { parent_of(vfs)->xDlError(parent_of(vfs), n, out); }

void (*shim_dl_sym(sqlite3_vfs* vfs, void* handle, const char* sym))(void) {
  return parent_of(vfs)->xDlSym(parent_of(vfs), handle, sym);
}

void shim_dl_close(sqlite3_vfs* vfs, void* handle) { parent_of(vfs)->xDlClose(parent_of(vfs), handle); }

int shim_randomness(sqlite3_vfs* vfs, int n, char* out) {
  return parent_of(vfs)->xRandomness(parent_of(vfs), n, out);
}

int shim_sleep(sqlite3_vfs* vfs, int us) { return parent_of(vfs)->xSleep(parent_of(vfs), us); }

int shim_current_time(sqlite3_vfs* vfs, double* out) {
  return parent_of(vfs)->xCurrentTime(parent_of(vfs), out);
}

int shim_get_last_error(sqlite3_vfs* vfs, int n, char* out) {
  sqlite3_vfs* p = parent_of(vfs);
  return p->xGetLastError ? p->xGetLastError(p, n, out) : 0;
}

int shim_current_time_int64(sqlite3_vfs* vfs, sqlite3_int64* out) {
  sqlite3_vfs* p = parent_of(vfs);
  if (p->iVersion >= 2 && p->xCurrentTimeInt64) return p->xCurrentTimeInt64(p, out);
  double d = 0;
  int rc = p->xCurrentTime(p, &d);
  *out = sqlite3_int64(d * 86400000.0);
  return rc;
}

std::atomic<unsigned long> vfs_counter{0};

PageVfs* make_vfs() {
  sqlite3_vfs* parent = sqlite3_vfs_find("unix");
  if (!parent) parent = sqlite3_vfs_find(nullptr);
  if (!parent) return nullptr;
  PageVfs* v = new (std::nothrow) PageVfs;
  if (!v) return nullptr;
  char name[64];
  snprintf(name, sizeof name, "page-vfs-%lu", vfs_counter.fetch_add(1) + 1);
  v->name = name;
  v->parent = parent;
  sqlite3_vfs& b = v->base;
  memset(&b, 0, sizeof b);
  b.iVersion = 2;
  b.szOsFile = kRealOffset + parent->szOsFile;
  b.mxPathname = parent->mxPathname;
  b.zName = v->name.c_str();
  b.pAppData = v;
  b.xOpen = shim_open;
  b.xDelete = shim_delete;
  b.xAccess = shim_access;
  b.xFullPathname = shim_full_pathname;
  b.xDlOpen = shim_dl_open;
  b.xDlError = shim_dl_error;
  b.xDlSym = shim_dl_sym;
  b.xDlClose = shim_dl_close;
  b.xRandomness = shim_randomness;
  b.xSleep = shim_sleep;
  b.xCurrentTime = shim_current_time;
  b.xGetLastError = shim_get_last_error;
  b.xCurrentTimeInt64 = shim_current_time_int64;
  return v;
}

// Destructor of the connection's marker function: the engine runs it after
// every file of the connection is closed.
void release_vfs(void* p) {
  PageVfs* v = static_cast<PageVfs*>(p);
  v->released = true;
  maybe_free(v);
}

void marker_func(sqlite3_context* ctx, int, sqlite3_value**) { sqlite3_result_null(ctx); }

PageVfs* connection_vfs(sqlite3* db) {
  if (!db) return nullptr;
  sqlite3_vfs* vfs = nullptr;
  if (sqlite3_file_control(db, "main", SQLITE_FCNTL_VFS_POINTER, &vfs) != SQLITE_OK || !vfs) return nullptr;
  if (vfs->xOpen != shim_open) return nullptr;
  return vfs_of(vfs);
}

FileState* connection_file(sqlite3* db, const char* name) {
  sqlite3_file* fp = nullptr;
  if (sqlite3_file_control(db, name, SQLITE_FCNTL_FILE_POINTER, &fp) != SQLITE_OK || !fp) return nullptr;
  if (fp->pMethods != &kDbMethods) return nullptr;
  return reinterpret_cast<ShimFile*>(fp)->st;
}

}  // namespace

// ---------------------------------------------------------------------------
// Public entry points

int page_db_open(const char* path, sqlite3** db, int flags) {
  if (!db) return SQLITE_MISUSE;
  *db = nullptr;
  PageVfs* v = make_vfs();
  if (!v) {
    log_message(LOG_ERROR, "page_db_open: no memory");
    return SQLITE_NOMEM;
  }
  int rc = sqlite3_vfs_register(&v->base, 0);
  if (rc != SQLITE_OK) {
    log_message(LOG_ERROR, "page_db_open: register %d", rc);
    delete v;
    return rc;
  }
  v->holds++;  // until the connection's release hook is in place
  rc = sqlite3_open_v2(path, db, flags, v->name.c_str());
  bool hooked = false;
  if (*db) {
    char fname[80];
    snprintf(fname, sizeof fname, "%s_release", v->name.c_str());
    for (char* p = fname; *p; p++)
      if (*p == '-') *p = '_';
    hooked = sqlite3_create_function_v2(*db, fname, 0, SQLITE_UTF8, v, marker_func, nullptr, nullptr,
                                        release_vfs) == SQLITE_OK;
  }
  if (!hooked) {
    // Without the hook the VFS goes when its last file closes.
    v->released = true;
  }
  if (rc == SQLITE_OK) {
    int prc = sqlite3_exec(*db, "PRAGMA temp_store=MEMORY;", nullptr, nullptr, nullptr);
    if (prc != SQLITE_OK) log_message(LOG_WARNING, "page_db_open: temp_store %d", prc);
  } else {
    log_message(LOG_ERROR, "page_db_open: %d", rc);
  }
  v->holds--;
  maybe_free(v);
  return rc;
}

int page_db_key_v2(sqlite3* db, const char* name, const uint8_t* key, int key_len) {
  PageVfs* v = connection_vfs(db);
  if (!v) {
    log_message(LOG_ERROR, "page_db_key_v2: not a page_db_open connection");
    return SQLITE_MISUSE;
  }
  if (key_len != 32 && key_len != 48) {
    log_message(LOG_WARNING, "page_db_key_v2: key length %d, database left unencrypted", key_len);
    return 0;
  }
  if (!key) return SQLITE_MISUSE;
  FileState* s = name ? connection_file(db, name) : nullptr;
  if (!s) s = connection_file(db, "main");
  if (!s) {
    log_message(LOG_ERROR, "page_db_key_v2: no database file");
    return SQLITE_MISUSE;
  }
  if (s->set_key(key, key_len) != 0) return SQLITE_NOMEM;
  if (s == v->main_db) {
    memcpy(v->main_key, key, 32);
    v->has_main_key = true;
  }
  // Pages cached before the key must be read again through it.
  sqlite3_db_release_memory(db);
  return 0;
}

int page_db_key(sqlite3* db, const uint8_t* key, int key_len) { return page_db_key_v2(db, nullptr, key, key_len); }

int page_db_attach(sqlite3* db, const char* path, const char* name, const uint8_t* key, int key_len) {
  PageVfs* v = connection_vfs(db);
  if (!v || !path || !name || !key || (key_len != 32 && key_len != 48)) {
    log_message(LOG_ERROR, "page_db_attach: bad arguments");
    return SQLITE_MISUSE;
  }
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db, "ATTACH ?1 AS ?2;", -1, &st, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_bind_text(st, 1, path, -1, SQLITE_STATIC);
    sqlite3_bind_text(st, 2, name, -1, SQLITE_STATIC);
    memcpy(v->pending_key, key, size_t(key_len));
    v->pending_len = key_len;
    rc = sqlite3_step(st);
    if (rc == SQLITE_DONE) rc = SQLITE_OK;
    OPENSSL_cleanse(v->pending_key, sizeof v->pending_key);
    v->pending_len = 0;
  }
  sqlite3_finalize(st);
  if (rc != SQLITE_OK) log_message(LOG_ERROR, "page_db_attach: %d", rc);
  return rc;
}

const uint8_t* page_db_get_key(sqlite3* db) {
  PageVfs* v = connection_vfs(db);
  return v && v->has_main_key ? v->main_key : nullptr;
}
