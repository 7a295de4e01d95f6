#include "support/extra_texts.h"

namespace {

const char* const kTexts[EXTRA_TEXT_COUNT] = {
    "The repository is not on the server.",
    ("The copy on the server is under another repository password (the password was changed after the "
     "repository was put on the server). The local data is kept: put the repository on the server again under a "
     "new name."),
    "Sign in to the sync server",
    "Server (host or host:port)",
    "Account number",
    "User name",
    "Password",
    "You are signed in.",
    "The server did not accept this account number, user name and password. Nothing was stored.",
    "The server could not be reached (%s). Nothing was stored.",
    "Sign out",
    ("Sign out of the sync account? Your repositories stay on this computer and on the server; sign in again to "
     "synchronise them."),
    "This installation cannot update itself. Please install the new version through your package manager.",
    "The downloaded update is not signed with the release key. Nothing was installed.",
    "The server offers no signature for this update. Nothing was installed.",
    "%s could not be read. Nothing was imported.",
    "%s holds nothing that can be imported. Nothing was imported.",
    "%s is not a valid file of this kind. Nothing was imported.",
    "The items could not be stored. Nothing was imported.",
    "%d items imported.",
    "%d items imported, %d skipped.",
    "%s could not be written.",
    "%s is in the profile folder or in a repository's folder; exports are not written there.",
    "%d items exported.",
    "%s saved.",
    "The user guide is not installed.",
};

}  // namespace

const char* extra_text(int id) {
  if (id < 0 || id >= EXTRA_TEXT_COUNT) return "";
  return kTexts[id];
}
