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

namespace {

bool same_reminder(const ItemForm& a, const ItemForm& b) {
  return a.remind_unit == b.remind_unit && a.remind_count == b.remind_count;
}

bool same_rule(const ItemForm& a, const ItemForm& b) {
  return a.freq == b.freq && a.interval_minus_one == b.interval_minus_one && a.by_day == b.by_day &&
         a.end_kind == b.end_kind && a.recur_count == b.recur_count && a.until == b.until;
}

}  // namespace

void form_take_changes(ItemForm* form, const ItemForm& shown, const ItemForm& now) {
  if (now.title != shown.title) form->title = now.title;
  if (now.body != shown.body) form->body = now.body;
  if (now.markup != shown.markup) form->markup = now.markup;
  if (now.due != shown.due) form->due = now.due;
  if (now.end != shown.end) form->end = now.end;
  if (now.flags != shown.flags) form->flags = now.flags;
  if (!same_reminder(now, shown)) {
    form->remind_unit = now.remind_unit;
    form->remind_count = now.remind_count;
  }
  if (!same_rule(now, shown)) {
    form->freq = now.freq;
    form->interval_minus_one = now.interval_minus_one;
    form->by_day = now.by_day;
    form->end_kind = now.end_kind;
    form->recur_count = now.recur_count;
    form->until = now.until;
  }
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
