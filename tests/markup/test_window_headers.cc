// SPDX-License-Identifier: GPL-3.0-or-later
// The headers the window includes leave SQLite out: a window file reaches the
// databases only through the model.
#include "interchange/accounts_json.h"
#include "interchange/content_line.h"
#include "interchange/ical.h"
#include "interchange/interchange.h"
#include "interchange/vcard.h"
#include "interchange/vcard_edit.h"
#include "markup/detail_text.h"
#include "markup/markup.h"
#include "model/app_core.h"
#include "model/clipboard.h"
#include "model/forms.h"
#include "model/item.h"
#include "model/list.h"
#include "model/list_order.h"
#include "model/model.h"
#include "model/mount.h"
#include "model/ops.h"
#include "model/recur.h"
#include "model/search.h"
#include "model/settings.h"
#include "model/tag.h"
#include "model/tag_ops.h"
#include "model/view_dates.h"
#include "storage/repo.h"
#include "support/files.h"
#include "support/log.h"
#include "support/slot_array.h"
#include "support/strings.h"
#include "support/text.h"
#include "support/thread.h"
#include "support/version.h"
#include "sync/error_text.h"
#include "sync/requests.h"
#include "sync/sync.h"

#ifdef SQLITE_VERSION
#error "a header the window includes pulls in SQLite"
#endif

#include <gtest/gtest.h>

namespace {

TEST(WindowHeaders, ModelStateNeedsNoDatabaseTypes) {
  // RepoRef carries the connection as an opaque pointer.
  RepoRef ref;
  EXPECT_EQ(ref.store.db, nullptr);
  EXPECT_EQ(ref.store.key, nullptr);
}

}  // namespace
