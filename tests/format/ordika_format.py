# SPDX-License-Identifier: GPL-3.0-or-later
"""A second, independent reading and writing of Ordika's stored formats.

Written apart from the C++ code, on Python's standard library and
the `cryptography` package, so that the C++ program can be checked against it
in both directions: files written by the program are taken apart here, and
files built here are handed to the program.
"""

import hashlib
import os
import re
import sqlite3
import struct
import tempfile

from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes

PAGE_SIZE = 1024
SQLITE_MAGIC = b"SQLite format 3\x00"
CONFIG_ITERATIONS = 20002
ZERO_UUID = bytes(16)
RECUR_FOREVER_TIME = 32212254718

CONFIG_SCHEMA = ("CREATE TABLE t0(c1, c2);CREATE TABLE t1(c1 INT, c2);"
                 "CREATE TABLE t2(c1);CREATE TABLE t3(c PRIMARY KEY, v);")
REPO_SCHEMA = ("CREATE TABLE t0(c1, c2);"
               "CREATE TABLE t1(c1, c2, c3 INT, c4, c5, PRIMARY KEY(c1, c2, c3));"
               "CREATE TABLE t2(c1, c2, PRIMARY KEY(c1, c2));"
               "CREATE TABLE t3(c1, c2, c3 INT, PRIMARY KEY(c1, c2, c3));"
               "CREATE TABLE t4(c1, c2, c3 INT, PRIMARY KEY(c1, c2, c3));"
               "CREATE TABLE t5(c1, c2, c3 INT, c4, c5, c6 INT, c7 INT);"
               "CREATE INDEX t2_i ON t2(c2);")

ITEM_TYPES = ["task", "event", "note", "contact", "key"]


class FormatError(Exception):
    """A stored file does not have the expected form."""


# ---------------------------------------------------------------- primitives

def _ecb(key, data, decrypt=False):
    c = Cipher(algorithms.AES(key), modes.ECB())
    op = c.decryptor() if decrypt else c.encryptor()
    return op.update(data) + op.finalize()


def cbc_encrypt(key, iv, data):
    if len(data) % 16:
        raise ValueError("CBC data must be whole blocks here")
    op = Cipher(algorithms.AES(key), modes.CBC(iv)).encryptor()
    return op.update(data) + op.finalize()


def cbc_decrypt(key, iv, data):
    if len(data) % 16:
        raise FormatError("enciphered length %d is not a multiple of 16" % len(data))
    op = Cipher(algorithms.AES(key), modes.CBC(iv)).decryptor()
    return op.update(data) + op.finalize()


def sha256(data):
    return hashlib.sha256(data).digest()


def sha1(data):
    return hashlib.sha1(data).digest()


def pbkdf2(password, salt, iterations=CONFIG_ITERATIONS):
    return hashlib.pbkdf2_hmac("sha256", password.encode(), salt, iterations, 32)


def derive_key_salted(password, salt=b"", rounds=1000):
    """SHA-256 of password and salt, then `rounds` AES-256-ECB passes of the
    32 bytes under that hash as key."""
    h = sha256(password.encode() + salt)
    out = h
    for _ in range(rounds):
        out = _ecb(h, out)
    return out


def derive_key(password):
    return derive_key_salted(password, b"", 1000)


def login_key(password):
    return sha256(password.encode())


def page_key(key32):
    """AES key of the page cipher: SHA-256 of the 32 key bytes, zero IV."""
    return sha256(key32[:32])


def page_encrypt(key32, data):
    return cbc_encrypt(page_key(key32), bytes(16), data)


def page_decrypt(key32, data):
    return cbc_decrypt(page_key(key32), bytes(16), data)


def object_key(repo_key, uuid, vhash):
    if len(uuid) != 16 or len(vhash) != 20:
        raise FormatError("object key needs a 16-byte uuid and a 20-byte hash")
    seed = vhash + uuid[2:14]
    return _ecb(seed, repo_key), vhash[2:18]


def object_encrypt(repo_key, uuid, vhash, c4, c5=None):
    k, iv = object_key(repo_key, uuid, vhash)
    joined = cbc_encrypt(k, iv, c4 + (c5 or b""))
    return joined[:len(c4)], (joined[len(c4):] if c5 is not None else None)


def object_decrypt(repo_key, uuid, vhash, c4, c5=None):
    """c4 and c5 form one CBC stream, c4 first."""
    k, iv = object_key(repo_key, uuid, vhash)
    joined = cbc_decrypt(k, iv, c4 + (c5 or b""))
    return joined[:len(c4)], (joined[len(c4):] if c5 is not None else None)


def key_check_make(key32):
    r = os.urandom(32)
    head = sha256(r)
    k = _ecb(head, key32)
    return head + cbc_encrypt(k, head[2:18], r)


def key_check_verify(key32, record):
    if len(record) != 64:
        return False
    head = record[:32]
    k = _ecb(head, key32)
    r = cbc_decrypt(k, head[2:18], record[32:])
    return sha256(r) == head


def pad16(text):
    """The text followed by zero bytes up to (len + 16) with the low four bits
    cleared: always at least one zero byte."""
    n = (len(text) + 16) & ~15
    return text + bytes(n - len(text))


def unpad(data, what):
    """The text before the first zero byte; the rest must be zeros and the
    length must be the padding of that text."""
    i = data.find(b"\x00")
    if i < 0:
        raise FormatError("%s: no terminating zero byte" % what)
    text = data[:i]
    if any(data[i:]):
        raise FormatError("%s: non-zero bytes after the terminator at %d" % (what, i))
    if len(data) != len(pad16(text)):
        raise FormatError("%s: padded length %d, expected %d for a %d-byte text"
                          % (what, len(data), len(pad16(text)), len(text)))
    return text


# ---------------------------------------------------------------- page files

def decrypt_db(raw, key32, plain_prefix):
    """The plain SQLite image of an encrypted database file; bytes 0..15 are
    returned separately and replaced by the SQLite magic."""
    if len(raw) == 0 or len(raw) % PAGE_SIZE:
        raise FormatError("file size %d is not a positive multiple of %d"
                          % (len(raw), PAGE_SIZE))
    out = bytearray()
    for off in range(0, len(raw), PAGE_SIZE):
        page = raw[off:off + PAGE_SIZE]
        skip = plain_prefix if off == 0 else 0
        out += page[:skip] + page_decrypt(key32, page[skip:])
    first16 = bytes(out[:16])
    out[:16] = SQLITE_MAGIC
    return bytes(out), first16


def encrypt_db(plain, key32, first16, plain_prefix):
    """Encrypt a plain SQLite image page by page; its magic is replaced by
    `first16` (the salt, or random bytes enciphered with the page)."""
    if len(plain) % PAGE_SIZE:
        raise ValueError("plain image is not whole pages")
    if plain[:16] != SQLITE_MAGIC:
        raise ValueError("not a plain SQLite image")
    check_sqlite_header(plain)
    img = bytearray(plain)
    img[:16] = first16
    out = bytearray()
    for off in range(0, len(img), PAGE_SIZE):
        page = bytes(img[off:off + PAGE_SIZE])
        skip = plain_prefix if off == 0 else 0
        out += page[:skip] + page_encrypt(key32, page[skip:])
    return bytes(out)


def check_sqlite_header(plain):
    page_size = struct.unpack(">H", plain[16:18])[0]
    if page_size != PAGE_SIZE:
        raise FormatError("header page size %d, expected 1024" % page_size)
    if plain[18] != 1 or plain[19] != 1:
        raise FormatError("header file format versions %d/%d, expected 1/1 (rollback journal)"
                          % (plain[18], plain[19]))
    if plain[20] != 0:
        raise FormatError("header reserves %d bytes per page, expected 0" % plain[20])
    if struct.unpack(">I", plain[52:56])[0] != 0:
        raise FormatError("auto-vacuum is on (header bytes 52..55 not zero)")


class PlainDb:
    """A decrypted database in a temporary file, opened read-only."""

    def __init__(self, plain):
        check_sqlite_header(plain)
        fd, self.path = tempfile.mkstemp(prefix="ordika-plain-")
        with os.fdopen(fd, "wb") as f:
            f.write(plain)
        self.db = sqlite3.connect("file:%s?mode=ro" % self.path, uri=True)

    def close(self):
        self.db.close()
        os.unlink(self.path)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def rows(self, sql, args=()):
        return self.db.execute(sql, args).fetchall()


def expected_schema(script):
    return sorted(s for s in script.split(";") if s)


def schema_of(pdb):
    rows = pdb.rows("SELECT type, name, sql FROM sqlite_master")
    sqls = sorted(r[2] for r in rows if r[2] is not None)
    autos = sorted(r[1] for r in rows if r[2] is None)
    return sqls, autos


def open_config(path, password):
    """(plain database, master key 32 bytes, salt) of a configuration file."""
    raw = open(path, "rb").read()
    salt = raw[:16]
    key = pbkdf2(password, salt)
    plain, first16 = decrypt_db(raw, key, 16)
    assert first16 == salt
    return PlainDb(plain), key, salt


def open_repo(path, repo_key):
    raw = open(path, "rb").read()
    plain, first16 = decrypt_db(raw, repo_key, 0)
    return PlainDb(plain), first16


def build_plain_db(script, fill):
    """A plain SQLite image with 1024-byte pages made by the stock engine."""
    fd, path = tempfile.mkstemp(prefix="ordika-build-")
    os.close(fd)
    os.unlink(path)
    try:
        db = sqlite3.connect(path)
        db.execute("PRAGMA page_size=1024")
        db.execute("PRAGMA auto_vacuum=NONE")
        db.execute("PRAGMA journal_mode=DELETE")
        db.executescript(script)
        fill(db)
        db.commit()
        db.close()
        return open(path, "rb").read()
    finally:
        if os.path.exists(path):
            os.unlink(path)


# ---------------------------------------------------------------- records

def format_repo_record(account_id, host, user, account_key, server_id, name,
                       path, password, flags, pending=""):
    text = "1\n%d\n%s\n%s\n%s\n%s\n%s\n%s\n%s\n%d\n%s" % (
        account_id, host, user, account_key.hex(), server_id, name, path,
        password, flags, pending)
    padded = pad16(text.encode())
    if len(padded) > 2048:
        raise ValueError("repository record too long")
    return padded


def _text(data, what):
    try:
        return data.decode()
    except UnicodeDecodeError:
        raise FormatError("%s is not UTF-8 text: %r" % (what, data[:48]))


def parse_repo_record(text):
    f = _text(text, "repository record").split("\n")
    if len(f) != 11:
        raise FormatError("repository record has %d fields, expected 11: %r" % (len(f), f))
    if f[0] != "1":
        raise FormatError("repository record version %r, expected 1" % f[0])
    if len(f[4]) != 64 or any(c not in "0123456789abcdef" for c in f[4]):
        raise FormatError("account key %r is not 64 lowercase hex digits" % f[4])
    return {"account_id": int(f[1]), "host": f[2], "user": f[3],
            "account_key": bytes.fromhex(f[4]), "server_id": f[5], "name": f[6],
            "path": f[7], "password": f[8], "flags": int(f[9]), "pending": f[10]}


def format_account_record(number, user, password, host):
    text = ("%d\n%s\n%s\n%s\n" % (number, user, password, host)).encode()
    if len(text) >= 1024:
        raise ValueError("account record too long")
    return text + bytes(1024 - len(text))


def parse_account_record(plain):
    text = plain[:plain.index(b"\x00")] if b"\x00" in plain else plain
    f = _text(text, "account record").split("\n")
    if len(f) != 5 or f[4] != "":
        raise FormatError("account record %r is not four LF-ended fields" % text)
    return {"number": int(f[0]), "user": f[1], "password": f[2], "host": f[3]}


def parse_export_file(raw, password):
    if len(raw) != 2048:
        raise FormatError("export file is %d bytes, expected 2048" % len(raw))
    key = pbkdf2(password, raw[:16])
    plain = page_decrypt(key, raw[16:])
    if b"\x00" not in plain:
        raise FormatError("export file: no terminating zero byte")
    text = plain[:plain.index(b"\x00")]
    if any(plain[len(text):]):
        raise FormatError("export file: non-zero bytes after the text")
    f = _text(text, "export file text").split("\n")
    if len(f) != 8 or f[7] != "":
        raise FormatError("export text %r is not seven LF-ended fields" % text)
    return {"version": int(f[0]), "account_id": int(f[1]), "host": f[2],
            "user": f[3], "account_key": f[4], "server_id": f[5], "password": f[6]}


# ---------------------------------------------------------------- items, tags

def format_header(type_, flags, markup, due, end, recurrence, recur_value,
                  remind_offset, next_remind, created, modified, title):
    return ("%d:%d:%d:%d:%d:%d;%d:%d;%d:%d:%d:%s" % (
        type_, flags, markup, due, end, recurrence, recur_value, remind_offset,
        next_remind, created, modified, title)).encode()


def parse_header(text):
    """Fields of an item header string; numbers read as 64-bit values."""
    s = _text(text, "item header")
    parts = s.split(":", 9)
    if len(parts) != 10:
        raise FormatError("item header %r has fewer than ten ':' fields" % s)
    try:
        t6 = parts[5].split(";")
        t7 = parts[6].split(";")
        if len(t6) != 2 or len(t7) != 2:
            raise ValueError("missing ';'")
        h = {"type": int(parts[0]), "flags": int(parts[1]), "markup": int(parts[2]),
             "due": int(parts[3]), "end": int(parts[4]), "recurrence": int(t6[0]),
             "recur_value": int(t6[1]), "remind_offset": int(t7[0]),
             "next_remind": int(t7[1]), "created": int(parts[7]),
             "modified": int(parts[8]), "title": parts[9]}
    except ValueError as e:
        raise FormatError("item header %r: %s" % (s, e))
    tokens = parts[:5] + t6 + t7 + parts[7:9]
    if not all(re.fullmatch(r"-?[0-9]+", t) for t in tokens):
        raise FormatError("item header %r: a number is not plain decimal" % s)
    if not 0 <= h["type"] <= 4 or not 0 <= h["flags"] <= 3:
        raise FormatError("item header %r: type or flags out of range" % s)
    if h["created"] <= 0 or h["modified"] < h["created"]:
        raise FormatError("item header %r: created/modified invalid" % s)
    return h


def format_tag(parent, modified, name):
    return ("%s:%d:%s" % (parent.hex(), modified, name)).encode()


def parse_tag(text):
    s = _text(text, "tag string")
    parts = s.split(":", 2)
    if len(parts) != 3 or len(parts[0]) != 32:
        raise FormatError("tag string %r is not PARENT:TIME:NAME" % s)
    try:
        return {"parent": bytes.fromhex(parts[0]), "modified": int(parts[1]), "name": parts[2]}
    except ValueError as e:
        raise FormatError("tag string %r: %s" % (s, e))


def body_to_storage(body):
    """LF becomes CR LF unless already preceded by CR."""
    out = bytearray()
    prev = None
    for b in body:
        if b == 0x0A and prev != 0x0D:
            out += b"\r"
        out.append(b)
        prev = b
    return bytes(out)


def version_hash(header, stored_body=None):
    return sha1(header + (stored_body or b""))


def recurrence_value(freq, interval_minus_one=0, by_day=0, end_kind=0):
    return freq | (interval_minus_one << 8) | (by_day << 16) | (end_kind << 24)
