// SPDX-License-Identifier: GPL-3.0-or-later
// The password prompt: master password at start and on change, repository
// and export-file passwords.
#pragma once

#include <string>

#include "support/string_ids.h"

// Asks for a password (title string, headline and text strings or -1). OK is
// sensitive while the text passes password_check(min_length, classes); it
// starts sensitive until the first change. Returns 0 with the text in *out,
// or 1 when cancelled (*out emptied). The caller wipes *out after use.
int password_prompt(StrId title_id, StrId headline_id, StrId text_id, int min_length, int classes,
                    std::string* out);
// The same with minimum length 1 and no classes.
int password_prompt_simple(StrId title_id, StrId headline_id, StrId text_id, std::string* out);
