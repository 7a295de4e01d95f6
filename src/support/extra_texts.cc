#include "support/extra_texts.h"

namespace {

const char* const kTexts[EXTRA_TEXT_COUNT] = {
    "The repository is not on the server.",
    "The copy on the server is under another repository password (the password was changed after the "
    "repository was put on the server). The local data is kept: put the repository on the server again under a "
    "new name.",
};

}  // namespace

const char* extra_text(int id) {
  if (id < 0 || id >= EXTRA_TEXT_COUNT) return "";
  return kTexts[id];
}
