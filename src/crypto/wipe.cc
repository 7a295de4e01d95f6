// SPDX-License-Identifier: GPL-3.0-or-later
#include "crypto/wipe.h"

#include <openssl/crypto.h>

void wipe(void* p, size_t n) {
  if (p && n) OPENSSL_cleanse(p, n);
}

void wipe(std::string* s) {
  if (!s) return;
  if (!s->empty()) OPENSSL_cleanse(s->data(), s->size());
  s->clear();
}

void wipe(std::vector<uint8_t>* v) {
  if (!v) return;
  if (!v->empty()) OPENSSL_cleanse(v->data(), v->size());
  v->clear();
}

void wipe(std::vector<std::string>* v) {
  if (!v) return;
  for (auto& s : *v) wipe(&s);
  v->clear();
}
