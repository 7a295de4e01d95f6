// SPDX-License-Identifier: GPL-3.0-or-later
// Ed25519 through libcrypto's one-shot verify (Ed25519 takes the whole
// message, no separate digest).
#include "crypto/signature.h"

#include <openssl/evp.h>

#include <memory>

#include "support/log.h"

namespace {
struct PkeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
}  // namespace

int ed25519_verify(const uint8_t public_key[32], const uint8_t* msg, size_t len, const uint8_t sig[64]) {
  if (!public_key || !sig || (!msg && len)) return -1;
  std::unique_ptr<EVP_PKEY, PkeyFree> key(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, public_key, 32));
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
  if (!key || !ctx) {
    log_message(LOG_ERROR, "ed25519_verify: key");
    return -1;
  }
  static const uint8_t empty = 0;
  if (EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1) return -1;
  return EVP_DigestVerify(ctx.get(), sig, 64, msg ? msg : &empty, len) == 1 ? 0 : -1;
}
