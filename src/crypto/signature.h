// SPDX-License-Identifier: GPL-3.0-or-later
// Ed25519 signature checks, for release packages signed with the project's
// release key.
#pragma once

#include <cstddef>
#include <cstdint>

// 0 when sig (64 bytes) is a valid Ed25519 signature of msg under the public
// key (32 bytes), else -1.
int ed25519_verify(const uint8_t public_key[32], const uint8_t* msg, size_t len, const uint8_t sig[64]);
