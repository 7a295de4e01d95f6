// Sentences that the window and the tool both show, named by role. Their
// texts live in the localized string table in the order of the enum: the
// first EXTRA_TEXT_FIRST_BLOCK from string id EXTRA_TEXT_FIRST_ID on, the
// rest from EXTRA_TEXT_SECOND_ID on. The import and export counts are plural
// texts (ui_plural_format with the id).
#pragma once

enum ExtraText {
  // A synchronised repository that the server does not hold (any more).
  EXTRA_SYNC_NOT_ON_SERVER = 0,
  // The server's copy is under another repository password.
  EXTRA_SYNC_KEY_CHANGED,
  // Signing in to the sync account from the window.
  EXTRA_SIGN_IN_HEADLINE,
  EXTRA_SIGN_IN_SERVER,
  EXTRA_SIGN_IN_NUMBER,
  EXTRA_SIGN_IN_USER,
  EXTRA_SIGN_IN_PASSWORD,
  EXTRA_SIGN_IN_DONE,
  EXTRA_SIGN_IN_REFUSED,
  EXTRA_SIGN_IN_UNREACHABLE,  // %s: the connection's error code text
  EXTRA_SIGN_OUT,
  EXTRA_SIGN_OUT_QUESTION,
  // Updates that the program may not or cannot install itself.
  EXTRA_UPDATE_PACKAGE_MANAGER,
  EXTRA_UPDATE_BAD_SIGNATURE,
  EXTRA_UPDATE_NO_SIGNATURE,
  // Imports and exports of files (%s: a file name, %d: a count).
  EXTRA_IMPORT_UNREADABLE,
  EXTRA_IMPORT_NOTHING,
  EXTRA_IMPORT_MALFORMED,
  EXTRA_IMPORT_NOT_STORED,
  EXTRA_IMPORT_DONE,
  EXTRA_IMPORT_DONE_SKIPPED,
  EXTRA_EXPORT_FAILED,
  EXTRA_EXPORT_REFUSED,
  EXTRA_EXPORT_DONE,
  EXTRA_SAVE_DONE,
  EXTRA_GUIDE_MISSING,
  EXTRA_TEXT_COUNT,
};

enum { EXTRA_TEXT_FIRST_ID = 368, EXTRA_TEXT_FIRST_BLOCK = 15, EXTRA_TEXT_SECOND_ID = 386 };

// The string id of a sentence (-1 outside the enum).
int extra_text_id(int id);
// Its text in the current language; "" outside the enum or without a table.
const char* extra_text(int id);
