// SPDX-License-Identifier: GPL-3.0-or-later
// The password prompt: master password at start and on change, repository
// and export-file passwords.
#pragma once

#include <string>

#include "support/string_ids.h"

// Asks for a password (title string, headline and text strings or -1). The
// accept button (labelled accept_id) is sensitive while the text passes
// password_check(min_length, classes); it starts sensitive until the first
// change. Returns 0 with the text in *out, or 1 when cancelled (*out
// emptied). The caller wipes *out after use.
int password_prompt(StrId title_id, StrId headline_id, StrId text_id, int min_length, int classes,
                    std::string* out, StrId accept_id = STR_OK);
// The password that opens something: minimum length 1, no classes, and an
// Unlock button.
int password_prompt_simple(StrId title_id, StrId headline_id, StrId text_id, std::string* out);
