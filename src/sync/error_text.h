// SPDX-License-Identifier: GPL-3.0-or-later
// How the window and the tool name a failure code of the server requests and
// of repository creation: the text that fills the "%s" of a failure message,
// and the string id of the message that explains a code.
#pragma once

#include <string>

#include "support/string_ids.h"

// Words in the current language for code 1 (no server host) and 4 (name not
// resolved), the decimal number for any other code.
std::string error_code_text(int code);

// The failure message of a code: 1 no host, 2 no user hash, 3 user name too
// long or unexpected clone reply, 4 host not resolved, 5 no socket or
// repository already present, 11 repository path too long, 12 no repository
// root, 13 no free folder name, 14 wrong repository password; 6 to 10 and
// every other code the generic STR_MSG_REQUEST_FAILED.
StrId error_message_id(int code);
