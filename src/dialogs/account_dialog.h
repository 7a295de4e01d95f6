// SPDX-License-Identifier: GPL-3.0-or-later
// The sync account: without one, the sign-in form; with one, the change of
// its password (after the master password) and the offer to sign out.
#pragma once

#include <gtk/gtk.h>

// Runs the dialog that fits the account state. Returns 0 when the account
// changed (signed in, password changed or signed out), 1 when nothing
// changed.
int account_dialog();

// The two forms on their own.
int sign_in_dialog();
int account_password_dialog();

// Response id of the sign-out button of the password form.
enum { ACCOUNT_RESPONSE_SIGN_OUT = 3 };
