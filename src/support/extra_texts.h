// Sentences that the window and the tool both show but for which the
// localized string table has no id yet. They are kept here, in English, in
// one place, so that each can move into the table (and be translated) by
// changing only its lookup.
#pragma once

enum ExtraText {
  // A synchronised repository that the server does not hold (any more).
  EXTRA_SYNC_NOT_ON_SERVER = 0,
  // The server's copy is under another repository password.
  EXTRA_SYNC_KEY_CHANGED,
  EXTRA_TEXT_COUNT,
};

// The English sentence; "" for an id outside the enum.
const char* extra_text(int id);
