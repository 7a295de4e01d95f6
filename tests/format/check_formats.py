#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Cross-checks of Ordika's stored formats against ordika-cli.

1. files written by the program are read back with the independent reader of
   ordika_format.py and compared with what the tool lists;
2. a profile built from scratch here is used by the tool;
3. damaged files and wrong passwords end the tool cleanly and change nothing.

Usage: check_formats.py --cli PATH/ordika-cli [--keep]
Exit status 0 when every check passed, 1 otherwise, 77 when the Python
cryptography module is missing (CTest reports that as skipped).
"""

import argparse
import calendar
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import traceback

SKIP = 77

try:
    import cryptography  # noqa: F401
except ImportError:
    print("SKIP: the Python 'cryptography' module is missing "
          "(Debian package python3-cryptography)")
    sys.exit(SKIP)

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import ordika_format as F  # noqa: E402

MASTER = "Crosscheck-Pass1"


class CheckFailed(Exception):
    pass


def expect(cond, msg):
    if not cond:
        raise CheckFailed(msg)


def expect_eq(got, want, what):
    if got != want:
        raise CheckFailed("%s: got %r, expected %r" % (what, got, want))


class Runner:
    def __init__(self):
        self.passed = 0
        self.failed = []

    def run(self, name, fn, *args):
        """Runs one check; a failure is reported and the next check goes on.
        Returns the check's result, or None after a failure."""
        t0 = time.time()
        try:
            result = fn(*args)
        except CheckFailed as e:
            self.failed.append(name)
            print("FAIL  %s\n      %s" % (name, e))
            return None
        except Exception:
            self.failed.append(name)
            print("FAIL  %s (unexpected error)" % name)
            traceback.print_exc(file=sys.stdout)
            return None
        self.passed += 1
        print("ok    %s (%.1fs)" % (name, time.time() - t0))
        return True if result is None else result


class Cli:
    def __init__(self, exe, home):
        self.exe = exe
        self.home = home

    def env(self, password=MASTER, extra=None):
        env = {"HOME": self.home, "PATH": "/usr/bin:/bin", "TZ": "UTC",
               "LC_ALL": "C", "LANG": "C"}
        for k in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
            if k in os.environ:
                env[k] = os.environ[k]
        if password is not None:
            env["ORDIKA_PASSWORD"] = password
        env.update(extra or {})
        return env

    def raw(self, *args, password=MASTER, extra=None):
        return subprocess.run([self.exe] + list(args), env=self.env(password, extra),
                              stdin=subprocess.DEVNULL, capture_output=True,
                              text=True, timeout=60)

    def ok(self, *args, **kw):
        p = self.raw(*args, **kw)
        if p.returncode != 0:
            raise CheckFailed("ordika-cli %s exited %d: %s"
                              % (" ".join(args), p.returncode, p.stderr.strip()))
        return p.stdout

    def lines(self, *args, **kw):
        return [ln.split("\t") for ln in self.ok(*args, **kw).splitlines()]


def utc_text(t):
    return time.strftime("%Y-%m-%d %H:%M", time.gmtime(t)) if t else ""


def utc_time(text):
    return calendar.timegm(time.strptime(text, "%Y-%m-%d %H:%M"))


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def snapshot_files(*roots):
    out = {}
    for root in roots:
        for d, _, names in os.walk(root):
            for n in names:
                if n.startswith("ordika.log"):
                    continue
                p = os.path.join(d, n)
                out[p] = digest(p)
    return out


# ====================================================================
# Reading a profile: shared by all three directions.

class Profile:
    """A profile read with the independent reader."""

    def __init__(self, home, password=MASTER):
        self.home = home
        self.config_path = os.path.join(home, ".config", "Ordika", "config")
        self.password = password


def read_config(prof):
    raw = open(prof.config_path, "rb").read()
    expect(len(raw) >= F.PAGE_SIZE and len(raw) % F.PAGE_SIZE == 0,
           "config is %d bytes, not whole 1024-byte pages" % len(raw))
    expect(raw[:16] != F.SQLITE_MAGIC, "config starts with the plain SQLite magic")
    salt = raw[:16]
    key = F.pbkdf2(prof.password, salt)
    try:
        plain, _ = F.decrypt_db(raw, key, 16)
    except F.FormatError as e:
        raise CheckFailed("config pages do not decrypt: %s" % e)
    try:
        F.check_sqlite_header(plain)
    except F.FormatError as e:
        raise CheckFailed("config page 1 decrypted (AES-256-CBC under SHA-256 of "
                          "PBKDF2 key, zero IV, from byte 16) has a bad header: %s" % e)
    pdb = F.PlainDb(plain)
    integrity = pdb.rows("PRAGMA integrity_check")
    expect_eq(integrity, [("ok",)], "integrity of the decrypted config")
    prof.salt, prof.master_key, prof.config_raw, prof.cfg = salt, key, raw, pdb


def check_config_schema(prof):
    sqls, autos = F.schema_of(prof.cfg)
    expect_eq(sqls, F.expected_schema(F.CONFIG_SCHEMA), "config schema")
    expect_eq(autos, ["sqlite_autoindex_t3_1"], "config automatic indexes")


def check_key_check(pdb, key, what):
    rows = pdb.rows("SELECT c1, c2 FROM t0")
    expect_eq(len(rows), 1, "%s t0 row count" % what)
    c1, c2 = rows[0]
    expect(isinstance(c1, bytes) and isinstance(c2, bytes) and len(c1) == 32
           and len(c2) == 32, "%s t0 columns are not two 32-byte blobs" % what)
    expect(F.key_check_verify(key, c1 + c2),
           "%s t0 key check does not verify against the key" % what)
    expect(not F.key_check_verify(bytes(32), c1 + c2),
           "%s t0 key check verifies against a zero key too" % what)


def read_repo_records(prof):
    recs = []
    for rowid, c1 in prof.cfg.rows("SELECT rowid, c1 FROM t2 ORDER BY rowid"):
        expect(isinstance(c1, bytes), "t2 row %d is not a blob" % rowid)
        expect(len(c1) % 16 == 0 and 16 <= len(c1) <= 2048,
               "t2 row %d: blob of %d bytes is not a padded record" % (rowid, len(c1)))
        try:
            text = F.unpad(F.page_decrypt(prof.master_key, c1), "repository record %d" % rowid)
            rec = F.parse_repo_record(text)
        except F.FormatError as e:
            raise CheckFailed("t2 row %d under page_cipher(master key): %s" % (rowid, e))
        rec["rowid"] = rowid
        recs.append(rec)
    prof.records = recs
    return recs


def read_settings(prof):
    out = {}
    for c, v in prof.cfg.rows("SELECT c, v FROM t3"):
        expect(isinstance(c, str), "setting name %r is not text" % (c,))
        expect(isinstance(v, bytes) and v.endswith(b"\x00") and b"\x00" not in v[:-1],
               "setting %s value %r is not a blob with one terminating zero" % (c, v))
        out[c] = v[:-1].decode()
    prof.settings = out
    return out


class Repo:
    pass


def read_repo(rec):
    r = Repo()
    r.rec = rec
    r.key = F.derive_key(rec["password"])
    r.path = os.path.join(rec["path"], "data")
    raw = open(r.path, "rb").read()
    expect(len(raw) % F.PAGE_SIZE == 0 and raw,
           "%s is %d bytes, not whole pages" % (r.path, len(raw)))
    plain, first16 = F.decrypt_db(raw, r.key, 0)
    try:
        F.check_sqlite_header(plain)
    except F.FormatError as e:
        raise CheckFailed("%s page 1 (wholly encrypted under derive_key of the "
                          "record's password) has a bad header: %s" % (r.path, e))
    expect(first16 != F.SQLITE_MAGIC and raw[:16] != F.SQLITE_MAGIC,
           "%s: bytes 0..15 hold the SQLite magic" % r.path)
    r.raw, r.first16 = raw, first16
    r.db = F.PlainDb(plain)
    expect_eq(r.db.rows("PRAGMA integrity_check"), [("ok",)], "integrity of %s" % r.path)
    return r


def check_repo_schema(r):
    sqls, autos = F.schema_of(r.db)
    expect_eq(sqls, F.expected_schema(F.REPO_SCHEMA), "repository schema")
    expect_eq(autos, ["sqlite_autoindex_t%d_1" % i for i in (1, 2, 3, 4)],
              "repository automatic indexes")


def decode_object(key, uuid, vhash, c4, c5, where):
    """(kind, fields, header-or-tag bytes, stored body) of one stored version."""
    expect(isinstance(uuid, bytes) and len(uuid) == 16, "%s: uuid is not 16 bytes" % where)
    expect(isinstance(vhash, bytes) and len(vhash) == 20, "%s: hash is not 20 bytes" % where)
    expect(isinstance(c4, bytes) and len(c4) % 16 == 0 and c4,
           "%s: c4 is not a padded blob" % where)
    expect(c5 is None or (isinstance(c5, bytes) and len(c5) % 16 == 0 and c5),
           "%s: c5 is neither NULL nor a padded blob" % where)
    try:
        p4, p5 = F.object_decrypt(key, uuid, vhash, c4, c5)
        text = F.unpad(p4, "%s header" % where)
        body = F.unpad(p5, "%s body" % where) if p5 is not None else None
    except F.FormatError as e:
        raise CheckFailed("%s under the object cipher: %s" % (where, e))
    expect(len(text) >= 2, "%s: empty header" % where)
    try:
        if text[1:2] == b":":
            expect(body is not None, "%s: item version without a body (c5 NULL)" % where)
            kind, fields = "item", F.parse_header(text)
        else:
            expect(body is None, "%s: tag version with a body" % where)
            kind, fields = "tag", F.parse_tag(text)
    except F.FormatError as e:
        raise CheckFailed("%s: %s" % (where, e))
    expect_eq(F.version_hash(text, body).hex(), vhash.hex(),
              "%s: SHA-1 of header and stored body against c2" % where)
    if body is not None:
        expect(b"\n" not in body.replace(b"\r\n", b""),
               "%s: stored body has an LF without CR" % where)
    return kind, fields, text, body


def read_objects(r):
    r.items, r.tags, r.history = {}, {}, []
    seen_current = set()
    for uuid, vhash, c3, c4, c5 in r.db.rows("SELECT c1, c2, c3, c4, c5 FROM t1"):
        where = "t1 %s/%s" % (uuid.hex(), vhash.hex()[:8])
        expect(c3 in (0, 1), "%s: c3 is %r" % (where, c3))
        kind, fields, text, body = decode_object(r.key, uuid, vhash, c4, c5, where)
        entry = {"hash": vhash, "fields": fields, "text": text, "body": body,
                 "c4": c4, "c5": c5}
        if c3 == 1:
            r.history.append((uuid, entry))
            continue
        expect(uuid not in seen_current, "%s: two current versions" % where)
        seen_current.add(uuid)
        (r.items if kind == "item" else r.tags)[uuid] = entry
    roots = [u for u, t in r.tags.items() if t["fields"]["parent"] == F.ZERO_UUID]
    expect_eq(len(roots), 1, "number of root tags (zero parent)")
    expect_eq(r.tags[roots[0]]["fields"]["name"], "/", "root tag's stored name")
    r.root = roots[0]
    for u, t in r.tags.items():
        p = t["fields"]["parent"]
        expect(p == F.ZERO_UUID or p in r.tags,
               "tag %s has the unknown parent %s" % (u.hex(), p.hex()))
    for u, e in r.history:
        expect(u in r.items, "history version of %s without a current item" % u.hex())


def read_links(r):
    links = set()
    for c1, c2 in r.db.rows("SELECT c1, c2 FROM t2"):
        expect(isinstance(c1, bytes) and len(c1) == 16 and isinstance(c2, bytes)
               and len(c2) == 16, "t2 link is not two 16-byte uuids")
        expect(c1 in r.tags, "t2 link names the unknown tag %s" % c1.hex())
        expect(c2 in r.items, "t2 link names the unknown item %s" % c2.hex())
        links.add((c1, c2))
    r.links = links
    return links


def read_journal(r, linked=False):
    """Checks the journal's form; returns (position, end, entries)."""
    rows = r.db.rows("SELECT rowid, c1, c2, c3, c4, c5, c6, c7 FROM t5 ORDER BY rowid")
    expect(rows and rows[0][0] == 1, "t5 has no cursor row with rowid 1")
    cur = rows[0]
    expect(cur[1:6] == (None,) * 5, "t5 cursor row has values in c1..c5: %r" % (cur[1:6],))
    pos, end = cur[6], cur[7]
    expect(isinstance(pos, int) and isinstance(end, int) and 1 <= pos <= end,
           "t5 cursor position/end %r/%r" % (pos, end))
    last = rows[-1][0]
    expect_eq(end, last, "t5 end (c7 of the cursor) against the last rowid")
    if len(rows) > 1:
        expect(rows[1][0] == 2 and rows[1][6] == 0, "t5 row 2 is not a group marker")
    entries = []
    for rowid, c1, c2, c3, c4, c5, c6, c7 in rows[1:]:
        where = "t5 row %d" % rowid
        if c6 == 0:
            expect((c1, c2, c3, c4, c5, c7) == (None,) * 6, "%s: marker with values" % where)
            continue
        expect(c6 in (1, 2), "%s: operation %r" % (where, c6))
        expect(c7 in (1, 2, 3, 4), "%s: table %r" % (where, c7))
        expect(isinstance(c1, bytes) and len(c1) == 16, "%s: first key not 16 bytes" % where)
        want2 = 20 if c7 in (1, 3) else 16
        expect(isinstance(c2, bytes) and len(c2) == want2,
               "%s: second key not %d bytes" % (where, want2))
        expect(isinstance(c3, int), "%s: c3 not an integer" % where)
        if c7 == 1:
            if c6 == 1 and c3 == 1:
                expect(c4 is None and c5 is None,
                       "%s: keep-history entry carries blobs" % where)
            else:
                expect(c3 in (0, 1), "%s: c3 %r" % (where, c3))
                decode_object(r.key, c1, c2, c4, c5, where)
        else:
            expect(c4 is None and c5 is None, "%s: blobs in a table %d entry" % (where, c7))
            expect(c3 in ((0,) if c7 == 2 else (0, 1)), "%s: c3 %r" % (where, c3))
        entries.append((rowid, c1, c2, c3, c4, c5, c6, c7))
    if not linked:
        expect_eq(r.db.rows("SELECT count(*) FROM t3")[0][0], 0, "t3 rows of a local repository")
        expect_eq(r.db.rows("SELECT count(*) FROM t4")[0][0], 0, "t4 rows of a local repository")
        expect(all(e[7] in (1, 2) for e in entries), "journal of a local repository names t3/t4")
    return pos, end, entries


# ====================================================================
# 1. The program writes, this reader reads.

VCARD = "BEGIN:VCARD\nVERSION:3.0\nFN:Carla Crosscheck\nTEL:+33 1 23 45 67 89\nEND:VCARD\n"
NOTE_BODY = "First line\nsecond **bold** line\r\nthird line\n"


def make_program_profile(cli, work):
    out = {}
    cli.ok("init")
    tags = cli.lines("tags")
    root = [t for t in tags if t[1] == ""][0][0]
    out["parent_tag"] = cli.ok("tag-add", root, "Cross:check").strip()
    child = out["parent_tag"]
    body_file = os.path.join(work, "note.txt")
    with open(body_file, "w") as f:
        f.write(NOTE_BODY)
    vcf = os.path.join(work, "card.vcf")
    with open(vcf, "w") as f:
        f.write(VCARD)
    add = lambda *a: cli.ok("add", *a).strip()  # noqa: E731
    out["note"] = add("note", child, "--title", "Note: with colon", "--body-file",
                      body_file, "--markup")
    out["task"] = add("task", child, "--title", "Task after 2038", "--due",
                      "2040-02-29 13:45", "--remind", "10m")
    out["event"] = add("event", root, "--title", "Weekly event", "--due",
                       "2041-05-06 07:00", "--end", "2041-05-06 08:30", "--rrule",
                       "FREQ=WEEKLY;COUNT=3")
    out["contact"] = add("contact", root, "--title", "Carla", "--body-file", vcf)
    out["key"] = add("key", root, "--title", "Mail account", "--url", "https://mail.test/",
                     "--user", "carla", "--password", "p4ss:word", "--expires",
                     "2039-12-31", "--notes", "two-factor on")
    out["done"] = add("task", root, "--title", "Finished task", "--due", "2030-01-01 10:00")
    cli.ok("done", out["done"])
    out["trashed"] = add("note", root, "--title", "Thrown away")
    cli.ok("trash", out["trashed"])
    cli.ok("edit", out["note"], "--title", "Note: renamed", "--keep-history")
    cli.ok("link", out["task"], root)
    out["items"] = cli.lines("items")
    out["tags"] = cli.lines("tags")
    out["repos"] = cli.lines("repos")
    out["history"] = cli.lines("history", out["note"])
    return out


def check_program_profile(cli, work, r):
    home = cli.home
    made = r.run("1.0 ordika-cli init and items of every type", make_program_profile, cli, work)
    if not made:
        return
    prof = Profile(home)

    def config_pages():
        read_config(prof)
        expect(b"SQLite format" not in prof.config_raw and b"CREATE TABLE" not in prof.config_raw,
               "plaintext SQLite text found in the config file")
    if not r.run("1.1 config: 16-byte salt, PBKDF2(20002) key, every page decrypts, opens in sqlite3",
                 config_pages):
        return
    r.run("1.2 config: exact schema", check_config_schema, prof)
    r.run("1.3 config: t0 key check verifies with the PBKDF2 key", check_key_check,
          prof.cfg, prof.master_key, "config")

    def records():
        recs = read_repo_records(prof)
        expect_eq(len(recs), len(made["repos"]), "repository records against 'repos'")
        for rec, line in zip(recs, made["repos"]):
            idx, name, path, server_id, flags = line
            expect_eq(rec["name"], name, "record name")
            expect_eq(rec["path"], path, "record path")
            expect_eq(rec["server_id"], server_id, "record server id")
            expect_eq(bool(rec["flags"] & 1), "e" in flags, "record enabled flag")
            expect_eq(bool(rec["flags"] & 2), "h" in flags, "record hidden flag")
            expect_eq(rec["pending"], "", "pending password")
            expect_eq(rec["account_id"], 0, "account id of a default repository")
            expect_eq(rec["account_key"], bytes(32), "account key of a default repository")
            base = os.path.basename(path)
            expect(len(base) == 8 and all(c in "0123456789abcdef" for c in base),
                   "repository directory name %r is not 8 lowercase hex digits" % base)
            expect_eq(os.path.dirname(path), os.path.join(home, "Ordika"), "repository root")
            expect(len(rec["password"]) == 20, "generated password is not 20 characters")
    if not r.run("1.4 config: t2 repository records decipher to the record format", records):
        return

    def settings():
        s = read_settings(prof)
        expect_eq(s.get("repo_root"), os.path.join(home, "Ordika"), "setting repo_root")
        expect_eq(prof.cfg.rows("SELECT count(*) FROM t1")[0][0], 0,
                  "account records in a profile without an account")
    r.run("1.5 config: settings are texts with their terminating zero", settings)

    state = {}

    def repo_pages():
        rep = read_repo(prof.records[0])
        state["repo"] = rep
        for word in (b"SQLite format", b"CREATE TABLE", b"Task after 2038", b"carla"):
            expect(word not in rep.raw, "plaintext %r found in %s" % (word, rep.path))
    if not r.run("1.6 repository: derive_key of the record's password decrypts every page "
                 "(page 1 wholly)", repo_pages):
        return
    rep = state["repo"]
    r.run("1.7 repository: exact schema", check_repo_schema, rep)
    r.run("1.8 repository: t0 key check verifies with the repository key", check_key_check,
          rep.db, rep.key, "repository")
    if not r.run("1.9 repository: every t1 row deciphers with the object cipher to a header "
                 "or tag string whose SHA-1 is c2", read_objects, rep):
        return

    def items_match():
        listed = {bytes.fromhex(l[0]): l for l in made["items"]}
        expect_eq(set(listed), set(rep.items), "item uuids in t1 against 'items'")
        for u, line in listed.items():
            _, type_name, flags, list_time, title = line
            f = rep.items[u]["fields"]
            where = "item %s" % u.hex()
            expect_eq(F.ITEM_TYPES[f["type"]], type_name, where + " type")
            expect_eq(f["title"], title, where + " title")
            want_flags = ("c" if f["flags"] & 1 else "") + ("t" if f["flags"] & 2 else "")
            expect_eq(want_flags, flags, where + " flags")
            if f["type"] in (0, 1, 4):
                expect_eq(utc_text(f["due"]), list_time, where + " due time")
        ids = made
        f = rep.items[bytes.fromhex(ids["task"])]["fields"]
        expect_eq(f["due"], utc_time("2040-02-29 13:45"), "task due after 2038 (64-bit)")
        expect_eq(f["remind_offset"], 600, "task reminder offset")
        expect_eq(f["next_remind"], f["due"] - 600, "task next reminder")
        f = rep.items[bytes.fromhex(ids["event"])]["fields"]
        expect_eq((f["due"], f["end"]), (utc_time("2041-05-06 07:00"),
                                          utc_time("2041-05-06 08:30")), "event start/end")
        expect_eq(f["recurrence"] & 0xFF, 2, "event recurrence freq (weekly)")
        expect_eq(f["recurrence"] >> 24, 1, "event recurrence end kind (count)")
        expect_eq(f["recur_value"], 3, "event recurrence count")
        note = rep.items[bytes.fromhex(ids["note"])]
        expect_eq(note["fields"]["markup"], 1, "note markup flag")
        expect_eq(note["body"], F.body_to_storage(NOTE_BODY.encode()), "note body in CR LF form")
        card = rep.items[bytes.fromhex(ids["contact"])]
        expect_eq(card["body"].replace(b"\r", b""), VCARD.encode(), "contact body")
        key = rep.items[bytes.fromhex(ids["key"])]
        kb = key["body"].split(b"\r\n")
        expect(len(kb) >= 5, "key body has fewer than five CR LF-separated fields: %r" % key["body"])
        expect_eq(kb[:3], [b"https://mail.test/", b"carla", b"p4ss:word"], "key body fields")
        expect_eq(b"\r\n".join(kb[4:]), b"two-factor on", "key notes")
        expect_eq(time.strftime("%Y-%m-%d", time.gmtime(int(kb[3]))), "2039-12-31",
                  "key expiry (decimal seconds)")
        expect_eq(rep.items[bytes.fromhex(ids["done"])]["fields"]["flags"], 1, "completed flag")
        expect_eq(rep.items[bytes.fromhex(ids["trashed"])]["fields"]["flags"], 2, "trashed flag")
    r.run("1.10 repository: headers match what the tool lists (types, titles, flags, due "
          "times, bodies)", items_match)

    def tags_match():
        listed = {bytes.fromhex(l[0]): l for l in made["tags"]}
        expect_eq(set(listed), set(rep.tags), "tag uuids in t1 against 'tags'")
        for u, (_, parent, repo_idx, depth, name) in listed.items():
            f = rep.tags[u]["fields"]
            if u == rep.root:
                expect_eq(parent, "", "root tag parent as listed")
                expect_eq(name, prof.records[0]["name"], "root tag shown with the repository name")
            else:
                expect_eq(f["parent"].hex(), parent, "tag %s parent" % u.hex())
                expect_eq(f["name"], name, "tag %s name" % u.hex())
        expect_eq(rep.tags[bytes.fromhex(made["parent_tag"])]["fields"]["name"], "Cross:check",
                  "tag name with a colon")
    r.run("1.11 repository: tag strings match 'tags'", tags_match)

    def history_match():
        hist = [(u, e) for u, e in rep.history if u == bytes.fromhex(made["note"])]
        expect_eq(len(hist), 1, "history versions of the note edited with --keep-history")
        expect_eq(len(made["history"]), 1, "'history' lines")
        h, modified, title = made["history"][0]
        expect_eq(h, hist[0][1]["hash"].hex(), "history hash")
        expect_eq(title, "Note: with colon", "history title")
        expect_eq(hist[0][1]["fields"]["title"], "Note: with colon", "stored history title")
        expect_eq(modified, utc_text(hist[0][1]["fields"]["modified"]), "history modified time")
    r.run("1.12 repository: --keep-history leaves the old version as c3=1", history_match)

    def links_match():
        links = read_links(rep)
        root = rep.root
        child = bytes.fromhex(made["parent_tag"])
        ids = {k: bytes.fromhex(v) for k, v in made.items() if k in
               ("note", "task", "event", "contact", "key", "done", "trashed")}
        want = {(child, ids["note"]), (child, ids["task"]), (root, ids["task"]),
                (root, ids["event"]), (root, ids["contact"]), (root, ids["key"]),
                (root, ids["done"]), (root, ids["trashed"])}
        expect_eq({(a.hex(), b.hex()) for a, b in links}, {(a.hex(), b.hex()) for a, b in want},
                  "t2 links")
    r.run("1.13 repository: t2 links are (tag uuid, item uuid) pairs as made", links_match)

    def journal_ok():
        pos, end, entries = read_journal(rep)
        expect_eq(pos, end, "journal position after commands (nothing undone)")
        # the newest t1 insert entry of every current row holds its stored bytes
        for u, e in list(rep.items.items()):
            ins = [x for x in entries if x[7] == 1 and x[6] == 1 and x[1] == u
                   and x[2] == e["hash"] and x[4] is not None]
            expect(ins, "no journal entry inserts the current version of %s" % u.hex())
            expect(ins[-1][4] == e["c4"] and ins[-1][5] == e["c5"],
                   "journal copy of %s differs from t1" % u.hex())
        keep = [x for x in entries if x[7] == 1 and x[6] == 1 and x[3] == 1]
        expect_eq(len(keep), 1, "keep-history journal entries")
    r.run("1.14 repository: t5 journal rows are well-formed", journal_ok)
    rep.db.close()
    prof.cfg.close()


# ====================================================================
# 2. This writer writes, the program reads.

class Written:
    pass


def write_profile(home, legacy=False, pending=None, state=None):
    """A whole profile; with `legacy` the config is in the old scheme (key
    derive_key(password), page 1 wholly encrypted, no salt). With `pending`
    the first repository's record carries an unfinished password change, its
    file being in `state`: "old" (nothing changed yet), "rows" (rows and key
    check under the new key, pages still under the old one), "new" (all under
    the new key) or "temp" (all under the new key, still named "temp")."""
    w = Written()
    now = int(time.time())
    w.t0 = now - 86400
    cfgdir = os.path.join(home, ".config", "Ordika")
    root = os.path.join(home, "Ordika")
    os.makedirs(cfgdir, mode=0o700)
    os.makedirs(root, mode=0o700)
    w.salt = os.urandom(16)
    w.master_key = F.derive_key(MASTER) if legacy else F.pbkdf2(MASTER, w.salt)
    w.account = (4711, "alice", "Secret-42", "sync.example.test")
    w.repos = [
        dict(account_id=0, host="", user="", account_key=bytes(32), server_id="",
             name="Py repo", path=os.path.join(root, "0a1b2c3d"),
             password="Repo-Pw:1 with spaces", flags=1),
        dict(account_id=4711, host="", user="", account_key=bytes(32), server_id="srv-b-0001",
             name="Shared", path=os.path.join(root, "deadbeef"), password="B-password-22",
             flags=1),
        dict(account_id=99, host="other.example.test", user="bob",
             account_key=F.login_key("bobs-secret"), server_id="srv-c-0002",
             name="Foreign", path=os.path.join(root, "00ff00ff"), password="C-password-33",
             flags=2),
    ]
    if pending:
        w.repos[0]["pending"] = pending

    def fill_config(db):
        chk = F.key_check_make(w.master_key)
        db.execute("INSERT INTO t0 VALUES (?,?)", (chk[:32], chk[32:]))
        db.execute("INSERT INTO t1 VALUES (?,?)",
                   (0, F.page_encrypt(w.master_key, F.format_account_record(*w.account))))
        for rec in w.repos:
            db.execute("INSERT INTO t2 VALUES (?)",
                       (F.page_encrypt(w.master_key, F.format_repo_record(**rec)),))
        for k, v in (("repo_root", root), ("ui.upcoming_days", "7"), ("ui.show_completed", "1")):
            db.execute("INSERT INTO t3 VALUES (?,?)", (k, v.encode() + b"\x00"))
    plain = F.build_plain_db(F.CONFIG_SCHEMA, fill_config)
    with open(os.path.join(cfgdir, "config"), "wb") as f:
        f.write(F.encrypt_db(plain, w.master_key, w.salt, 0 if legacy else 16))

    # The local repository with tags, items, links, a reminder and a history version.
    old_key = F.derive_key(w.repos[0]["password"])
    rk = F.derive_key(pending) if state in ("rows", "new", "temp") else old_key
    pk = F.derive_key(pending) if state in ("new", "temp") else old_key
    w.repo_key = rk
    u = lambda: os.urandom(16)  # noqa: E731
    w.root, w.projects, w.colon = u(), u(), u()
    tags = [(w.root, F.ZERO_UUID, "/"), (w.projects, w.root, "Projects"),
            (w.colon, w.projects, "a:b tag")]
    w.tag_rows = []
    for uuid, parent, name in tags:
        text = F.format_tag(parent, w.t0, name)
        w.tag_rows.append((uuid, F.version_hash(text), text))
    due2040 = calendar.timegm((2040, 3, 4, 5, 6, 0))
    past_due = (now // 60) * 60 - 3600
    ev_start = calendar.timegm((2041, 7, 8, 9, 0, 0))
    expires = calendar.timegm((2039, 6, 1, 0, 0, 0))
    I = {}  # noqa: E741
    # name: (type, flags, markup, due, end, recurrence, recur value, remind, next, title, body, tags)
    I["note"] = (2, 0, 1, 0, 0, 0, 0, 0, 0, "Py note: colon", "Hello **world**\nline two\n",
                 [w.projects])
    I["task2040"] = (0, 0, 0, due2040, 0, 0, 0, 600, due2040 - 600, "Due after 2038",
                     "task body\n", [w.colon])
    I["reminder"] = (0, 0, 0, past_due, 0, 0, 0, 300, past_due - 300, "Reminder due",
                     "", [w.root])
    I["event"] = (1, 0, 0, ev_start, ev_start + 5400, F.recurrence_value(2, 0, 0, 1), 4,
                  0, 0, "Py event", "", [w.projects])
    # a key's expiry is also its due time, as the key editor stores it
    until_start = calendar.timegm((2044, 12, 30, 12, 0, 0))
    w.until = calendar.timegm((2045, 1, 2, 12, 0, 0))
    I["until"] = (1, 0, 0, until_start, until_start + 3600, F.recurrence_value(1, 0, 0, 2),
                  w.until, 0, 0, "Daily until 2045", "", [w.root])
    I["key"] = (4, 0, 1, expires, 0, 0, 0, 0, 0, "Py key",
                "https://key.test/\nkeyuser\nkeypass\n%d\nkey notes" % expires, [w.root])
    I["contact"] = (3, 0, 0, 0, 0, 0, 0, 0, 0, "Py contact",
                    "BEGIN:VCARD\nVERSION:3.0\nFN:Py Contact\nTEL;TYPE=WORK:+1 555 0100\nEND:VCARD\n", [w.root])
    I["done"] = (0, 1, 0, now - 7200, 0, 0, 0, 0, 0, "Py done", "", [w.projects])
    w.item_defs = I
    w.uuids = {k: u() for k in I}
    w.t1 = []   # rows (c1, c2, c3, c4, c5)
    for uuid, vhash, text in w.tag_rows:
        c4, _ = F.object_encrypt(rk, uuid, vhash, F.pad16(text))
        w.t1.append((uuid, vhash, 0, c4, None))
    w.hashes = {}

    def item_row(uuid, d, title, modified, c3):
        header = F.format_header(d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7], d[8],
                                 w.t0, modified, title)
        body = F.body_to_storage(d[10].encode())
        vhash = F.version_hash(header, body)
        c4, c5 = F.object_encrypt(rk, uuid, vhash, F.pad16(header), F.pad16(body))
        return (uuid, vhash, c3, c4, c5)
    for k, d in I.items():
        row = item_row(w.uuids[k], d, d[9], w.t0 + 60, 0)
        w.hashes[k] = row[1]
        w.t1.append(row)
    w.hist_row = item_row(w.uuids["note"], I["note"], "Py note: old title", w.t0 + 30, 1)
    w.t1.append(w.hist_row)
    w.links = [(t, w.uuids[k]) for k, d in I.items() for t in d[11]]

    w.repo_file = write_repo_db(w.repos[0]["path"], rk, w.t1, w.links, pk,
                                "temp" if state == "temp" else "data")
    if state == "temp":
        w.repo_file = os.path.join(w.repos[0]["path"], "data")

    # The server-linked repository of the signed-in account: its root tag only.
    w.b_key = F.derive_key(w.repos[1]["password"])
    w.b_root = u()
    text = F.format_tag(F.ZERO_UUID, w.t0, "/")
    vhash = F.version_hash(text)
    w.b_t1 = [(w.b_root, vhash, 0, F.object_encrypt(w.b_key, w.b_root, vhash,
                                                    F.pad16(text))[0], None)]
    w.b_file = write_repo_db(w.repos[1]["path"], w.b_key, w.b_t1, [])
    return w


def write_repo_db(directory, key, t1, links, page_key=None, name="data"):
    def fill_repo(db):
        chk = F.key_check_make(key)
        db.execute("INSERT INTO t0 VALUES (?,?)", (chk[:32], chk[32:]))
        db.executemany("INSERT INTO t1 VALUES (?,?,?,?,?)", t1)
        db.executemany("INSERT INTO t2 VALUES (?,?)", links)
        db.execute("INSERT INTO t5 (c6,c7) VALUES (1,1)")
    plain = F.build_plain_db(F.REPO_SCHEMA, fill_repo)
    os.makedirs(directory, mode=0o700)
    path = os.path.join(directory, name)
    with open(path, "wb") as f:
        f.write(F.encrypt_db(plain, page_key or key, os.urandom(16), 0))
    return path


def t1_rows(path, key):
    raw = open(path, "rb").read()
    plain, _ = F.decrypt_db(raw, key, 0)
    with F.PlainDb(plain) as pdb:
        return sorted(pdb.rows("SELECT c1, c2, c3, c4, c5 FROM t1"))


def check_written_profile(cli, r):
    home = cli.home
    w = r.run("2.0 write a complete profile with the independent writer", write_profile, home)
    if not w:
        return None
    I = w.item_defs  # noqa: E741

    def repos():
        lines = cli.lines("repos")
        expect_eq(len(lines), 3, "'repos' lines")
        want_flags = ["em", "em", "h"]
        for line, rec, fl in zip(lines, w.repos, want_flags):
            expect_eq(line[1:], [rec["name"], rec["path"], rec["server_id"], fl],
                      "'repos' line %s" % line[0])
    r.run("2.1 ordika-cli repos lists the three written records", repos)

    def tags():
        lines = cli.lines("tags")
        got = [(l[0], l[1], l[2], l[3], l[4]) for l in lines]
        want = [(w.root.hex(), "", "0", "0", "Py repo"),
                (w.projects.hex(), w.root.hex(), "0", "1", "Projects"),
                (w.colon.hex(), w.projects.hex(), "0", "2", "a:b tag"),
                (w.b_root.hex(), "", "1", "0", "Shared")]
        expect_eq(got, want, "'tags'")
    r.run("2.2 ordika-cli tags lists the written tag tree", tags)

    def items():
        lines = cli.lines("items")
        got = {l[0]: l[1:] for l in lines}
        want = {}
        for k, d in I.items():
            lt = utc_text(d[3]) if d[0] in (0, 1, 4) else ""
            want[w.uuids[k].hex()] = [F.ITEM_TYPES[d[0]], "c" if d[1] & 1 else "", lt, d[9]]
        expect_eq(got, want, "'items' against the written items")
        expect(got[w.uuids["task2040"].hex()][2] == "2040-03-04 05:06",
               "due time after 2038 listed as %r" % got[w.uuids["task2040"].hex()][2])
    r.run("2.3 ordika-cli items lists exactly the written items (due time after 2038)", items)

    def views():
        rem = [l[0] for l in cli.lines("items", "reminders")]
        expect_eq(rem, [w.uuids["reminder"].hex()], "'items reminders'")
        proj = sorted(l[0] for l in cli.lines("items", "tag:" + w.projects.hex()))
        want = sorted(w.uuids[k].hex() for k, d in I.items() if w.projects in d[11])
        expect_eq(proj, want, "'items tag:Projects'")
        colon = [l[0] for l in cli.lines("items", "tag:" + w.colon.hex())]
        expect_eq(colon, [w.uuids["task2040"].hex()], "'items tag:a:b tag'")
        until = w.uuids["until"].hex()
        day = cli.lines("items", "day:2045-01-02")
        expect_eq([(l[0], l[3]) for l in day], [(until, "2045-01-02 12:00")],
                  "'items day:2045-01-02' (last day of a daily event until 2045)")
        expect_eq(cli.lines("items", "day:2045-01-03"), [],
                  "'items day:2045-01-03' (after the until time stored in the header)")
    r.run("2.4 reminder, tag and day views follow the written links, reminder and until "
          "times", views)

    def show():
        out = cli.ok("show", w.uuids["note"].hex())
        expect("Hello **world**" in out and "line two" in out and "\r" not in out,
               "'show' of the note lacks its body: %r" % out)
        out = cli.ok("show", w.uuids["key"].hex())
        expect("https://key.test/" in out and "keyuser" in out and "key notes" in out,
               "'show' of the key lacks its fields: %r" % out)
        expect("2039-06-01" in out, "'show' of the key lacks the expiry date: %r" % out)
        out = cli.ok("show", w.uuids["contact"].hex())
        expect("+1 555 0100" in out, "'show' of the contact lacks its number: %r" % out)
    r.run("2.5 ordika-cli show renders the written bodies", show)

    def history():
        lines = cli.lines("history", w.uuids["note"].hex())
        expect_eq(lines, [[w.hist_row[1].hex(), utc_text(w.t0 + 30), "Py note: old title"]],
                  "'history' of the note")
    r.run("2.6 ordika-cli history lists the written c3=1 version", history)

    def edit_undo():
        before = sorted(w.t1)
        target = w.uuids["task2040"]
        cli.ok("edit", target.hex(), "--title", "Edited by the tool")
        rep = Repo()
        rep.key, rep.path = w.repo_key, w.repo_file
        rep.db = F.PlainDb(F.decrypt_db(open(w.repo_file, "rb").read(), w.repo_key, 0)[0])
        try:
            read_objects(rep)
            f = rep.items[target]["fields"]
            expect_eq(f["title"], "Edited by the tool", "edited title as stored")
            expect_eq(f["due"], I["task2040"][3], "due after 2038 kept by the edit")
            expect_eq(f["created"], w.t0, "created time kept by the edit")
            expect_eq(rep.items[target]["body"], b"task body\r\n", "body kept by the edit")
            pos, end, entries = read_journal(rep)
            expect(pos == end and end > 2, "journal after the edit: position %d end %d"
                   % (pos, end))
            ops = sorted((e[6], e[7]) for e in entries)
            expect_eq(ops, [(1, 1), (2, 1)], "journal entries of one edit (delete + insert)")
        finally:
            rep.db.close()
        listed = {l[0]: l[4] for l in cli.lines("items")}
        expect_eq(listed[target.hex()], "Edited by the tool", "'items' after the edit")
        edited = t1_rows(w.repo_file, w.repo_key)
        cli.ok("undo", "0")
        expect(t1_rows(w.repo_file, w.repo_key) == before,
               "t1 after undo is not byte for byte the written rows")
        cli.ok("redo", "0")
        expect(t1_rows(w.repo_file, w.repo_key) == edited,
               "t1 after redo is not byte for byte the edited rows")
        cli.ok("undo", "0")
        expect(t1_rows(w.repo_file, w.repo_key) == before,
               "t1 after a second undo is not byte for byte the written rows")
        rep.db = F.PlainDb(F.decrypt_db(open(w.repo_file, "rb").read(), w.repo_key, 0)[0])
        try:
            pos, end, _ = read_journal(rep)
            expect_eq(pos, 1, "journal position after the undo")
        finally:
            rep.db.close()
        listed = {l[0]: l[4] for l in cli.lines("items")}
        expect_eq(listed[target.hex()], "Due after 2038", "'items' after the undo")
    r.run("2.7 ordika-cli edit, undo, redo, undo: new version readable here, undo restores "
          "the written rows exactly", edit_undo)

    def export():
        f1 = os.path.join(home, "shared.repo")
        cli.ok("repo-export", "1", f1, extra={"ORDIKA_EXPORT_PASSWORD": "Export-pw-1"})
        e = F.parse_export_file(open(f1, "rb").read(), "Export-pw-1")
        expect_eq(e, {"version": 1, "account_id": 4711, "host": "sync.example.test",
                      "user": "alice", "account_key": F.login_key("Secret-42").hex(),
                      "server_id": "srv-b-0001", "password": "B-password-22"},
                  "export file of the signed-in account's repository")
        f2 = os.path.join(home, "foreign.repo")
        cli.ok("repo-export", "2", f2, extra={"ORDIKA_EXPORT_PASSWORD": "Export-pw-2"})
        e = F.parse_export_file(open(f2, "rb").read(), "Export-pw-2")
        expect_eq(e, {"version": 1, "account_id": 99, "host": "other.example.test",
                      "user": "bob", "account_key": F.login_key("bobs-secret").hex(),
                      "server_id": "srv-c-0002", "password": "C-password-33"},
                  "export file of another account's repository")
        p = cli.raw("repo-export", "0", os.path.join(home, "local.repo"),
                    extra={"ORDIKA_EXPORT_PASSWORD": "Export-pw-3"})
        expect(p.returncode == 1 and p.stderr.startswith("ordika-cli:"),
               "export of a repository without an account: exit %d, stderr %r"
               % (p.returncode, p.stderr))
        expect(not os.path.exists(os.path.join(home, "local.repo")),
               "a refused export left a file")
    r.run("2.8 repo-export files decipher here (account record and records' account fields)",
          export)
    return w


# ====================================================================
# 3. Damaged files and wrong passwords.

def flip(path, offset):
    with open(path, "r+b") as f:
        f.seek(offset)
        b = f.read(1)
        f.seek(offset)
        f.write(bytes([b[0] ^ 0x5A]))


def clean_failure(p, what):
    expect(p.returncode == 1, "%s: exit status %d (want 1; negative means a signal)"
           % (what, p.returncode))
    expect(p.stderr.startswith("ordika-cli:"), "%s: stderr %r has no 'ordika-cli:' message"
           % (what, p.stderr))
    for bad in ("Sanitizer", "Aborted", "terminate called", "Segmentation"):
        expect(bad not in p.stderr, "%s: stderr shows a crash: %r" % (what, p.stderr))


def root_page(path, key, prefix, table):
    raw = open(path, "rb").read()
    plain, _ = F.decrypt_db(raw, key, prefix)
    with F.PlainDb(plain) as pdb:
        return pdb.rows("SELECT rootpage FROM sqlite_master WHERE name=?", (table,))[0][0]


def check_damage(cli, w, r):
    home = cli.home
    cfg = os.path.join(home, ".config", "Ordika", "config")
    data = w.repo_file
    before = snapshot_files(os.path.join(home, ".config"), os.path.join(home, "Ordika"))

    def unchanged(what):
        after = snapshot_files(os.path.join(home, ".config"), os.path.join(home, "Ordika"))
        expect_eq(after, before, "files after %s" % what)

    def wrong_password():
        clean_failure(cli.raw("items", password="Crosscheck-Pass2"), "wrong master password")
        clean_failure(cli.raw("edit", w.uuids["note"].hex(), "--title", "x",
                              password="wrong"), "edit with a wrong master password")
        unchanged("wrong passwords")
    r.run("3.1 a wrong master password exits 1 with a message and changes nothing",
          wrong_password)

    def config_damage():
        t0page = root_page(cfg, w.master_key, 16, "t0")
        for off, what in ((20, "config page 1 header"),
                          ((t0page - 1) * 1024 + 1, "config page %d (t0)" % t0page)):
            flip(cfg, off)
            try:
                clean_failure(cli.raw("items"), "flipped byte in " + what)
                clean_failure(cli.raw("add", "note", w.root.hex(), "--title", "x"),
                              "add after a flipped byte in " + what)
            finally:
                flip(cfg, off)
        unchanged("flipped config bytes")
    r.run("3.2 a flipped byte in a config page exits 1 with a message and changes nothing",
          config_damage)

    def repo_damage():
        t1page = root_page(data, w.repo_key, 0, "t1")
        note = w.uuids["note"].hex()
        for off, what in ((20, "data page 1 header"),
                          ((t1page - 1) * 1024 + 1, "data page %d (t1)" % t1page)):
            flip(data, off)
            try:
                p = cli.raw("items")
                expect(p.returncode in (0, 1), "items with a flipped byte in %s: exit %d"
                       % (what, p.returncode))
                expect(p.stderr.startswith("ordika-cli:"),
                       "items with a flipped byte in %s: no message on stderr" % what)
                expect(note not in p.stdout,
                       "items with a flipped byte in %s lists the damaged repository" % what)
                clean_failure(cli.raw("show", note), "show with a flipped byte in " + what)
                clean_failure(cli.raw("edit", note, "--title", "x"),
                              "edit with a flipped byte in " + what)
                clean_failure(cli.raw("undo", "0"), "undo with a flipped byte in " + what)
            finally:
                flip(data, off)
        unchanged("flipped repository bytes")
        listed = [l[0] for l in cli.lines("items")]
        expect(note in listed, "the repository does not mount again after the damage")
    r.run("3.3 a flipped byte in a repository page: not mounted, commands on it exit 1, "
          "nothing changes", repo_damage)


JOURNAL_MAGIC = bytes.fromhex("d9d505f920a163d7")


def parse_journal(raw):
    """(header fields, [(page number, page bytes, checksum)]) of a rollback journal."""
    expect(len(raw) >= 28 and raw[:8] == JOURNAL_MAGIC,
           "journal does not start with the plain rollback journal magic")
    n_rec, nonce, orig_pages, sector, page_size = struct.unpack(">IIIII", raw[8:28])
    expect_eq(page_size, F.PAGE_SIZE, "journal page size")
    recs = []
    off = sector
    while off + 8 + page_size <= len(raw) and len(recs) < n_rec:
        pgno = struct.unpack(">I", raw[off:off + 4])[0]
        data = raw[off + 4:off + 4 + page_size]
        cksum = struct.unpack(">I", raw[off + 4 + page_size:off + 8 + page_size])[0]
        recs.append((pgno, data, cksum))
        off += 8 + page_size
    expect_eq(len(recs), n_rec, "journal records against the header's count")
    return {"nonce": nonce, "orig_pages": orig_pages}, recs


def journal_checksum(nonce, data):
    c = nonce
    i = len(data) - 200
    while i > 0:
        c += data[i]
        i -= 200
    return c & 0xFFFFFFFF


def check_hot_journal(cli, w, r, work):
    """A crash right after a commit wrote the database leaves the rollback
    journal behind: its pages must be enciphered exactly as in the database
    file, and the next start must roll the file back to the old bytes."""
    cc = shutil.which("cc") or shutil.which("gcc")
    if not cc:
        print("skip  3.4 hot rollback journal (no C compiler for the crash shim)")
        return
    shim = os.path.join(work, "crash_at_journal.so")
    src = os.path.join(os.path.dirname(os.path.abspath(__file__)), "crash_at_journal.c")
    p = subprocess.run([cc, "-shared", "-fPIC", "-O1", "-o", shim, src, "-ldl"],
                       capture_output=True, text=True)
    if p.returncode != 0:
        print("skip  3.4 hot rollback journal (shim does not build: %s)" % p.stderr.strip())
        return

    def crash_and_recover(path, args, what, page1_prefix):
        """Runs the command up to its journal deletion, checks the journal left
        behind, lets the next start roll it back; returns nothing."""
        before = open(path, "rb").read()
        journal = path + "-journal"
        asan = os.environ.get("ASAN_OPTIONS", "")
        extra = {"LD_PRELOAD": shim, "ORDIKA_CRASH_JOURNAL": "/" + os.path.basename(journal),
                 "ASAN_OPTIONS": (asan + ":" if asan else "") + "verify_asan_link_order=0"}
        p = cli.raw(*args, extra=extra)
        expect_eq(p.returncode, 70, "exit status of %s stopped at the journal deletion "
                  "(stderr %r)" % (what, p.stderr))
        expect(os.path.exists(journal), "no %s left by %s" % (os.path.basename(journal), what))
        expect(open(path, "rb").read() != before, "%s did not write %s" % (what, path))
        hdr, recs = parse_journal(open(journal, "rb").read())
        expect(recs, "the journal of %s holds no page" % what)
        expect_eq(hdr["orig_pages"], len(before) // F.PAGE_SIZE, "journal's original page count")
        for pgno, data, cksum in recs:
            expect(1 <= pgno <= len(before) // F.PAGE_SIZE, "journal page number %d" % pgno)
            old = before[(pgno - 1) * F.PAGE_SIZE:pgno * F.PAGE_SIZE]
            expect(data == old, "%s: journal record of page %d is not the page as enciphered "
                   "in the file (page cipher, zero IV, %d plain bytes on page 1)"
                   % (what, pgno, page1_prefix))
            expect_eq(cksum, journal_checksum(hdr["nonce"], data),
                      "checksum of journal page %d over its stored (enciphered) bytes" % pgno)
        return before, journal

    def hot_journal():
        target = w.uuids["note"].hex()
        before, journal = crash_and_recover(w.repo_file, ("edit", target, "--title", "Cut"),
                                            "an edit", 0)
        listed = {l[0]: l[4] for l in cli.lines("items")}
        expect_eq(listed.get(target), "Py note: colon", "title after the hot journal rollback")
        expect(not os.path.exists(journal), "data-journal still there after the rollback")
        expect(open(w.repo_file, "rb").read() == before,
               "the database file after the rollback is not the bytes before the edit")
    r.run("3.4 hot rollback journal of a repository: pages enciphered as in the file, rolled "
          "back at the next start", hot_journal)

    def hot_config_journal():
        cfg = os.path.join(cli.home, ".config", "Ordika", "config")
        repos = cli.lines("repos")
        before, journal = crash_and_recover(cfg, ("repo-add", "Never added"), "repo-add", 16)
        expect_eq(cli.lines("repos"), repos, "'repos' after the config rollback")
        expect(not os.path.exists(journal), "config-journal still there after the rollback")
        expect(open(cfg, "rb").read() == before,
               "the config after the rollback is not the bytes before repo-add")
    r.run("3.5 hot rollback journal of the config: page 1 keeps the salt in plain, rolled "
          "back at the next start", hot_config_journal)


def check_change_logs(cli, w, r):
    """In a server-linked repository every change is also kept in t3/t4."""
    def logs():
        item = bytes.fromhex(cli.ok("add", "note", w.b_root.hex(), "--title", "Synced note")
                             .strip())
        rep = Repo()
        rep.key, rep.path = w.b_key, w.b_file
        rep.db = F.PlainDb(F.decrypt_db(open(w.b_file, "rb").read(), w.b_key, 0)[0])
        try:
            read_objects(rep)
            expect_eq(set(rep.items), {item}, "items of the linked repository")
            h = rep.items[item]["hash"]
            expect_eq(rep.db.rows("SELECT c1, c2, c3 FROM t3"), [(item, h, 1)],
                      "t3 change log after adding an item")
            expect_eq(rep.db.rows("SELECT c1, c2, c3 FROM t4"), [(w.b_root, item, 1)],
                      "t4 change log after adding an item")
            pos, end, entries = read_journal(rep, linked=True)
            got = sorted((e[6], e[7], e[3]) for e in entries)
            expect_eq(got, [(1, 1, 0), (1, 2, 0), (1, 3, 1), (1, 4, 1)],
                      "journal entries (operation, table, c3) of the add")
        finally:
            rep.db.close()
        cli.ok("undo", "1")
        expect(t1_rows(w.b_file, w.b_key) == sorted(w.b_t1),
               "t1 of the linked repository after undo differs from the written rows")
        raw = open(w.b_file, "rb").read()
        with F.PlainDb(F.decrypt_db(raw, w.b_key, 0)[0]) as pdb:
            expect_eq(pdb.rows("SELECT count(*) FROM t3")[0][0] +
                      pdb.rows("SELECT count(*) FROM t4")[0][0], 0, "t3/t4 rows after undo")
    r.run("2.11 server-linked repository: t3/t4 change logs and their journal entries",
          logs)


def check_master_change(cli, w, r):
    """The tool rewrites the config under a new master password; this reader
    finds the same records, account and settings under a new salt."""
    home = cli.home
    new_pw = "Changed-Pass9"

    def passwd():
        before = Profile(home)
        read_config(before)
        old_records = read_repo_records(before)
        old_settings = read_settings(before)
        before.cfg.close()
        cli.ok("passwd", extra={"ORDIKA_NEW_PASSWORD": new_pw})
        prof = Profile(home, new_pw)
        read_config(prof)
        try:
            expect(prof.salt != w.salt, "the rewritten config kept the old salt")
            check_config_schema(prof)
            check_key_check(prof.cfg, prof.master_key, "rewritten config")
            recs = read_repo_records(prof)
            strip = lambda rs: [{k: v for k, v in x.items() if k != "rowid"} for x in rs]  # noqa
            expect_eq(strip(recs), strip(old_records), "repository records after passwd")
            expect_eq(read_settings(prof), old_settings, "settings after passwd")
            rows = prof.cfg.rows("SELECT c1, c2 FROM t1")
            expect_eq([r_[0] for r_ in rows], [0], "account record numbers after passwd")
            expect_eq(len(rows[0][1]), 1024, "account record length")
            acc = F.parse_account_record(F.page_decrypt(prof.master_key, rows[0][1]))
            expect_eq(acc, dict(zip(("number", "user", "password", "host"), w.account)),
                      "account record after passwd")
        finally:
            prof.cfg.close()
        clean_failure(cli.raw("items"), "the old master password after passwd")
        listed = cli.lines("items", password=new_pw)
        expect_eq(len(listed), len(w.item_defs), "items under the new master password")
    r.run("2.9 passwd: the rewritten config reads here under the new password "
          "(records, account, settings)", passwd)


def check_legacy_config(cli, r):
    """A config in the old scheme opens with the master password and is
    rewritten in the current scheme with the same contents."""
    def legacy():
        w = write_profile(cli.home, legacy=True)
        old = Profile(cli.home)
        raw = open(old.config_path, "rb").read()
        plain, _ = F.decrypt_db(raw, w.master_key, 0)
        with F.PlainDb(plain) as pdb:
            old.cfg, old.master_key = pdb, w.master_key
            old_records = read_repo_records(old)
            old_settings = read_settings(old)
        listed = cli.lines("items")
        expect_eq(len(listed), len(w.item_defs), "items listed from an old-scheme config")
        prof = Profile(cli.home)
        read_config(prof)
        try:
            check_config_schema(prof)
            check_key_check(prof.cfg, prof.master_key, "converted config")
            strip = lambda rs: [{k: v for k, v in x.items() if k != "rowid"} for x in rs]  # noqa
            expect_eq(strip(read_repo_records(prof)), strip(old_records),
                      "repository records after the conversion")
            expect_eq(read_settings(prof), old_settings, "settings after the conversion")
            rows = prof.cfg.rows("SELECT c1, c2 FROM t1")
            acc = F.parse_account_record(F.page_decrypt(prof.master_key, rows[0][1]))
            expect_eq(acc, dict(zip(("number", "user", "password", "host"), w.account)),
                      "account record after the conversion")
        finally:
            prof.cfg.close()
        expect_eq(len(cli.lines("items")), len(w.item_defs), "items after the conversion")
        expect(not os.path.exists(prof.config_path + ".tmp"), "config.tmp left behind")
    r.run("2.10 an old-scheme config (derive_key, no salt) opens and is rewritten in the "
          "current scheme", legacy)


def check_pending_password(exe, work, r):
    """A record with a pending password: the next start finishes or drops
    the change according to the state of the repository file."""
    new_pw = "New-repo-Pw:7"
    for state, kept in (("old", "Repo-Pw:1 with spaces"), ("rows", new_pw), ("new", new_pw),
                        ("temp", new_pw)):
        def pending():
            home = os.path.join(work, "home-pending-" + state)
            os.makedirs(home)
            cli = Cli(exe, home)
            w = write_profile(home, pending=new_pw, state=state)
            listed = cli.lines("items")
            expect_eq(len(listed), len(w.item_defs), "items listed")
            prof = Profile(home)
            read_config(prof)
            try:
                rec = read_repo_records(prof)[0]
            finally:
                prof.cfg.close()
            expect_eq((rec["password"], rec["pending"]), (kept, ""),
                      "record password and pending password afterwards")
            rep = read_repo(rec)
            try:
                check_key_check(rep.db, rep.key, "repository")
                read_objects(rep)
                expect_eq(len(rep.items), len(w.item_defs), "items readable under the "
                          "record's key")
                pos, end, _ = read_journal(rep)
            finally:
                rep.db.close()
            expect(not os.path.exists(os.path.join(rec["path"], "temp")), "temp left behind")
        r.run("2.12 unfinished repository password change, file state '%s': record keeps "
              "%s password, file readable under it" % (state, "the old" if state == "old"
                                                       else "the new"), pending)


# ====================================================================

def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True, help="path of the built ordika-cli")
    ap.add_argument("--keep", action="store_true", help="keep the temporary homes")
    args = ap.parse_args()
    exe = os.path.abspath(args.cli)
    if not os.access(exe, os.X_OK):
        print("FAIL: %s is not an executable" % exe)
        return 1
    work = tempfile.mkdtemp(prefix="ordika-format-")
    # decrypted images go below the work directory too, so that every path
    # removes them
    tempfile.tempdir = work
    r = Runner()
    start = time.time()
    try:
        home1 = os.path.join(work, "home1")
        os.makedirs(home1)
        check_program_profile(Cli(exe, home1), work, r)
        home2 = os.path.join(work, "home2")
        os.makedirs(home2)
        cli2 = Cli(exe, home2)
        w = check_written_profile(cli2, r)
        if w:
            check_damage(cli2, w, r)
            check_hot_journal(cli2, w, r, work)
            check_change_logs(cli2, w, r)
            check_master_change(cli2, w, r)
        home3 = os.path.join(work, "home3")
        os.makedirs(home3)
        check_legacy_config(Cli(exe, home3), r)
        check_pending_password(exe, work, r)
    finally:
        if args.keep:
            print("kept", work)
        else:
            shutil.rmtree(work, ignore_errors=True)
    print("format cross-check: %.1fs" % (time.time() - start))
    print("%d passed, %d failed" % (r.passed, len(r.failed)))
    return 1 if r.failed else 0


if __name__ == "__main__":
    sys.exit(main())
