// SPDX-License-Identifier: GPL-3.0-or-later
// The synchronisation driver and its repository kind.
#include "sync/sync_driver.h"

#include "storage/repo.h"
#include "support/log.h"

namespace {

SyncStep end(SyncDriver* d, int result, SyncStep at) {
  if (d->release) d->release();
  d->summary.result = result;
  d->summary.failed_step = result == 0 ? SYNC_STEP_DONE : at;
  d->step = SYNC_STEP_DONE;
  const SyncSummary& s = d->summary;
  log_message(result == 0 ? LOG_INFO : LOG_ERROR,
              "sync_step: result %d at %d, attempts %d, fetched %d, sent %d, asked %d, settled %d, open %d", result,
              static_cast<int>(at), s.attempts, s.fetched, s.sent, s.asked, s.settled, s.left_open);
  return d->step;
}

// The conflict stage of a repository: every conflict is put to the resolver.
int resolve_repository(SyncSession* s, const SyncResolver& resolve, SyncSummary* sum) {
  if (sync_conflicts_begin(s) != 0) return -1;
  int rc = 0;
  for (;;) {
    SyncConflict k;
    int step = sync_conflicts_next(s, &k);
    if (step <= 0) {
      rc = step;
      break;
    }
    sum->asked++;
    int answer = resolve ? resolve(k) : -1;
    if (answer == SYNC_LEAVE_OPEN) {
      // Recorded only so that the next conflicts can be put; the sync ends
      // before the decisions are applied.
      sum->left_open++;
      answer = SYNC_KEEP_LOCAL;
    }
    if (sync_conflicts_decide(s, answer) != 0) {
      rc = -1;
      break;
    }
  }
  sync_conflicts_end(s);
  sum->settled += s->settled;
  return rc;
}

}  // namespace

void sync_begin(SyncDriver* d, SyncSession* s) {
  d->step = SYNC_STEP_FETCH;
  d->summary = SyncSummary();
  d->cancelled = false;
  s->cancel = false;
  d->fetch = [s](SyncSummary* sum) {
    int rc = recv_repo_list(s);
    sum->fetched += s->fetched;
    // A listing that brought no sets leaves nothing to merge with.
    return rc == 0 && !s->have_sets ? -1 : rc;
  };
  d->resolve = [s](const SyncResolver& resolve, SyncSummary* sum) { return resolve_repository(s, resolve, sum); };
  d->send = [s](SyncSummary* sum) {
    int rc = send_sync_objs(s);
    if (rc == 0) sum->sent += s->sent;
    return rc;
  };
  d->interrupt = [s] { s->cancel = true; };
  d->release = [s] { sync_free(s); };
}

bool sync_step_blocks(SyncStep step) { return step == SYNC_STEP_FETCH || step == SYNC_STEP_SEND; }

SyncStep sync_step(SyncDriver* d, const SyncResolver& resolve) {
  SyncStep at = d->step;
  if (at == SYNC_STEP_DONE) return at;
  if (d->cancelled) return end(d, -1, at);
  int rc = 0;
  switch (at) {
    case SYNC_STEP_FETCH:
      d->summary.attempts++;
      rc = d->fetch(&d->summary);
      break;
    case SYNC_STEP_RESOLVE:
      rc = d->resolve(resolve, &d->summary);
      if (rc == 0 && d->summary.left_open > 0) rc = SYNC_CONFLICTS_OPEN;
      break;
    case SYNC_STEP_SEND:
      rc = d->send(&d->summary);
      if (rc == SYNC_REMOTE_CHANGED && d->summary.attempts < kSyncAttempts) {
        if (d->cancelled) return end(d, -1, at);
        // The local changes are still recorded: fetch the newer state, merge
        // it and send them again.
        log_message(LOG_NOTICE, "sync_step: remote data changed, attempt %d of %d", d->summary.attempts + 1,
                    kSyncAttempts);
        if (d->release) d->release();
        d->step = SYNC_STEP_FETCH;
        return d->step;
      }
      if (rc == 0) return end(d, 0, at);
      break;
    case SYNC_STEP_DONE:
      break;
  }
  if (rc != 0) return end(d, rc, at);
  // A cancel while the stage ran (a conflict on screen, a transfer that
  // finished anyway) stops before the next one.
  if (d->cancelled) return end(d, -1, at);
  d->step = static_cast<SyncStep>(at + 1);
  return d->step;
}

void sync_cancel(SyncDriver* d) {
  d->cancelled = true;
  if (d->interrupt) d->interrupt();
}

int sync_drive(SyncDriver* d, const SyncResolver& resolve) {
  while (sync_step(d, resolve) != SYNC_STEP_DONE) {
  }
  return d->summary.result;
}

int sync_repository(int index, const SyncResolver& resolve, SyncSummary* summary) {
  if (index < 0 || static_cast<size_t>(index) >= repo_table().size()) return -1;
  SyncSession s;
  if (sync_session_setup(&s, repo_table()[static_cast<size_t>(index)], signed_in_account()) != 0) return -1;
  SyncDriver d;
  sync_begin(&d, &s);
  int rc = sync_drive(&d, resolve);
  if (summary) *summary = d.summary;
  log_message(rc == 0 ? LOG_INFO : LOG_ERROR, "sync_repository: %d %d", index, rc);
  return rc;
}
