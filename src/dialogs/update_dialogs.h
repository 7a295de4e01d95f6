// SPDX-License-Identifier: GPL-3.0-or-later
// The update dialogs: the version request and the download under the
// progress dialog, and the offer. An update is installed only from a package
// signed with the release key built into the program, and only when the
// program's own file may be replaced by the user; otherwise the offer names
// the version and its notes and points to the package manager.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Asks the account server for a newer version (title STR_APP_NAME, label
// STR_CONTACTING_SERVER): 0 with the version in buf (empty: none) and its
// notes, or the failure.
int update_check(char* buf, size_t size, std::string* notes);

// True when an offered update could be installed here: a release key is
// given and the program file at exe_path is the user's to replace.
bool update_can_install(const uint8_t* release_key, const char* exe_path);

// Shows the offer. installable: buttons decline (STR_NOT_NOW) and accept
// (STR_UPDATE), true for accept. Otherwise the package-manager note and a close button,
// and always false.
bool update_offer(const char* version, const char* notes, bool installable);

// Downloads the package for this build into dir in fraction mode (title
// STR_APP_NAME, label STR_DOWNLOADING_UPDATE) and checks its signature with release_key. 0 with *file_name
// set; an UPDATE_ code of sync/update_trust.h or the download's failure,
// with nothing left behind.
int update_download(const uint8_t* release_key, const char* dir, std::string* file_name);

// The message for a failed update_download (title STR_APP_NAME):
// STR_MSG_UPDATE_NOT_DOWNLOADED or the reason the package was refused.
void update_download_failed(int rc);

// The update after a version was offered: the offer (installable when the
// built-in release key exists and the program file is the user's), then
// the download with its signature check, the script and the installer in
// dir. 0 when the installer was started (the caller saves and quits), 1
// when nothing was installed (declined or not installable here), else the
// failure, already shown to the user.
int update_run(const char* version, const char* notes, const char* dir);
