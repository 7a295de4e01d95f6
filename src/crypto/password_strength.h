// SPDX-License-Identifier: GPL-3.0-or-later
// A password's strength as typed: an estimate in bits from its length and the
// character classes it draws from, for the editors to show.
#pragma once

// Bits of a password drawn at random from the union of the classes its
// characters belong to (capitals 26, small letters 26, digits 10, ASCII
// punctuation and space 33, anything else 100), times its length in
// characters; a run of one repeated character counts once. 0 for an empty
// or null text.
int password_bits(const char* text);
// 0 very weak (< 28 bits), 1 weak (< 36), 2 fair (< 60), 3 strong (< 128),
// 4 very strong.
int password_level(int bits);
