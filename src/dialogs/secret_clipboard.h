// SPDX-License-Identifier: GPL-3.0-or-later
// Passwords put on the clipboard do not stay there: a timer clears the
// clipboard once the delay has passed, when it still holds that password.
#pragma once

// Puts the text on the CLIPBOARD selection and arms the clearing timer
// (a later call replaces the pending one).
void clipboard_put_secret(const char* text);
// The delay in milliseconds (30 seconds unless changed, as tests do).
void clipboard_secret_set_delay(unsigned ms);
