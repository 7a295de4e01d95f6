// SPDX-License-Identifier: GPL-3.0-or-later
// The change of the master password: one dialog with the current password,
// the new one (at least 10 characters of three classes) and its repetition;
// then the configuration database is re-created under it.
#pragma once

// 0 changed; 1 cancelled (a wrong current password keeps the dialog open
// with a message); -1 the change failed (STR_MSG_MASTER_PASSWORD_NOT_SET,
// the old password stays valid).
int master_password_change();
