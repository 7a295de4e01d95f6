// SPDX-License-Identifier: GPL-3.0-or-later
// How the window and the tool name a failure code of the server requests and
// of repository creation: the text that fills the "%s" of a failure message,
// and the string id of the message that explains a code.
#pragma once

#include <string>

#include "support/string_ids.h"

// The cause of a connection failure code in words of the current language
// (no server name, no sign-in details, user name too long, name not
// resolved, no socket, connection refused, no greeting, sign-in refused);
// any other code as "an unexpected failure (code N)".
std::string error_code_text(int code);

// Which layer a code comes from where two layers share its number.
enum ErrorContext { ERRORS_OF_REQUEST, ERRORS_OF_CLONE };

// The failure message of a code: 1 no host, 2 no user hash, 3 user name too
// long (a clone: the reply was not understood), 4 host not resolved, 5 no
// socket (a clone: the repository is already here), 11 repository path too
// long, 12 no repository root, 13 no free folder name, 14 wrong repository
// password; 6 to 10 and every other code the generic STR_MSG_REQUEST_FAILED.
StrId error_message_id(int code, ErrorContext context = ERRORS_OF_REQUEST);
