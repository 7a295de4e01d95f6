#include "model/forms.h"

#include "model/item.h"
#include "support/text.h"

int form_set_rule(ItemForm* f, const RuleFields& r) {
  if (r.freq < FREQ_DAILY || r.freq > FREQ_YEARLY) return -1;
  if (r.end_kind == RECUR_UNTIL && r.until < 0) return -1;  // every occurrence before 1970
  form_clear_rule(f);
  f->freq = r.freq;
  // The record holds intervals 1..128.
  int interval = r.interval < 1 ? 1 : r.interval > 128 ? 128 : r.interval;
  f->interval_minus_one = interval - 1;
  if (r.freq == FREQ_WEEKLY) f->by_day = r.by_day & 0x7F;
  else if (r.freq == FREQ_MONTHLY) f->by_day = r.by_day ? 1 : 0;
  if (r.end_kind == RECUR_COUNT) {
    f->end_kind = RECUR_COUNT;
    f->recur_count = r.count < 1 ? 1 : r.count > kRecurCountMax ? kRecurCountMax : r.count;
  } else if (r.end_kind == RECUR_UNTIL) {
    f->end_kind = RECUR_UNTIL;
    f->until = r.until;
  }
  return 0;
}

void form_clear_rule(ItemForm* f) {
  f->freq = f->interval_minus_one = f->by_day = f->end_kind = f->recur_count = 0;
  f->until = 0;
}

void key_form_set_expiry(ItemForm* f, int64_t expiry) {
  if (expiry < 0) expiry = 0;
  f->due = expiry;
  f->remind_unit = expiry ? 3 : 0;  // days
  f->remind_count = expiry ? 3 : 0;
}

std::string contact_default_body(const std::string& name) {
  return "BEGIN:VCARD\nVERSION:3.0\nN:;\nFN:" + vcard_escape(name.c_str()) + "\nEND:VCARD\n";
}
