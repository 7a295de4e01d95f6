#include "support/extra_texts.h"

#include "support/strings.h"

int extra_text_id(int id) {
  if (id < 0 || id >= EXTRA_TEXT_COUNT) return -1;
  return EXTRA_TEXT_FIRST_ID + id;
}

const char* extra_text(int id) {
  const char* text = ui_string(extra_text_id(id));
  return text ? text : "";
}
