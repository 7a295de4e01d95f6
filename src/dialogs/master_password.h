// SPDX-License-Identifier: GPL-3.0-or-later
// The change of the master password: the current password, the new one
// (at least 10 characters of three classes) and its confirmation, then the
// configuration database is re-created under it.
#pragma once

// 0 changed; 1 cancelled or refused (a message said why); -1 the change
// failed (STR_MSG_MASTER_PASSWORD_NOT_SET, the old password stays valid).
int master_password_change();
