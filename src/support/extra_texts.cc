#include "support/extra_texts.h"

#include "support/strings.h"

int extra_text_id(int id) {
  if (id < 0 || id >= EXTRA_TEXT_COUNT) return -1;
  return id < EXTRA_TEXT_FIRST_BLOCK ? EXTRA_TEXT_FIRST_ID + id : EXTRA_TEXT_SECOND_ID + (id - EXTRA_TEXT_FIRST_BLOCK);
}

const char* extra_text(int id) {
  const char* text = ui_string(extra_text_id(id));
  return text ? text : "";
}
