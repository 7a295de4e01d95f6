// SPDX-License-Identifier: GPL-3.0-or-later
// The calendar and contacts account dialogs: their decisions and texts, and
// their states driven through their own modal loops against a real profile
// and, for discovery and the certificate question, a Radicale on loopback.
#include <deque>
#include <string>
#include <vector>

#include "dav/dav_fixture.h"
#include "dialog_script.h"
#include "dialogs/dav_dialogs.h"
#include "dialogs/layout.h"
#include "gtk_fixture.h"
#include "model/test_startup_fixture.h"
#include "storage/repo.h"
#include "support/strings.h"
#include "sync/dav_account.h"
#include "sync/dav_discover.h"
#include "sync/dav_http.h"
#include "sync/dav_sync.h"
#include "sync/dav_xml.h"

namespace {

// --- decisions and texts ---------------------------------------------------

TEST(DavTexts, DiscoveryOutcomeDecidesTheNextStep) {
  const std::string fp = "AB:CD";
  const struct {
    int rc;
    std::string fingerprint;
    size_t found;
    DavAddNext next;
  } cases[] = {
      {0, "", 3, DAV_NEXT_CHOOSE},
      {0, "", 0, DAV_NEXT_NOTHING_FOUND},
      {DAV_ERR_CANCELLED, "", 0, DAV_NEXT_FORM},
      {DAV_ERR_TLS_UNTRUSTED, fp, 0, DAV_NEXT_ASK_TRUST},
      {DAV_ERR_TLS_UNTRUSTED, "", 0, DAV_NEXT_ERROR},  // nothing the user could compare
      {DAV_ERR_AUTH, "", 0, DAV_NEXT_ERROR},
      {DAV_ERR_OTHER_HOST, fp, 0, DAV_NEXT_ERROR},
      {DAV_ERR_NO_SERVICE, "", 0, DAV_NEXT_ERROR},
  };
  for (const auto& c : cases) EXPECT_EQ(c.next, dav_add_next(c.rc, c.fingerprint, c.found)) << c.rc;
}

TEST(DavTexts, CollectionContentsFollowKindAndComponents) {
  ASSERT_EQ(1, strings_set_language(0));
  const struct {
    int kind, components;
    StrId label;
  } cases[] = {
      {DAV_KIND_CALENDAR, DAV_COMP_EVENT, STR_DAV_KIND_EVENTS},
      {DAV_KIND_CALENDAR, DAV_COMP_TODO, STR_DAV_KIND_TASKS},
      {DAV_KIND_CALENDAR, DAV_COMP_EVENT | DAV_COMP_TODO, STR_DAV_KIND_EVENTS_TASKS},
      {DAV_KIND_CALENDAR, DAV_COMP_EVENT | DAV_COMP_OTHER, STR_DAV_KIND_EVENTS},
      {DAV_KIND_ADDRESSBOOK, 0, STR_DAV_KIND_CONTACTS},
  };
  for (const auto& c : cases) {
    DavCollection col;
    col.kind = c.kind;
    col.components = c.components;
    EXPECT_EQ(c.label, dav_collection_label(col)) << c.kind << " " << c.components;
  }
}

TEST(DavTexts, SummaryCountsAndNamesConflictsUpToALimit) {
  ASSERT_EQ(1, strings_set_language(0));
  DavSyncSummary s;
  s.pulled = 3;
  s.pushed = 1;
  s.deleted_there = 2;
  std::string plain = dav_summary_text(s);
  EXPECT_NE(std::string::npos, plain.find("Received from the server: 3")) << plain;
  EXPECT_NE(std::string::npos, plain.find("Deleted on the server: 2")) << plain;
  EXPECT_EQ(std::string::npos, plain.find("history")) << "no conflict, no conflict line";

  s.conflicts = 3;
  s.names = {"Dentist", "Team lunch", "Ann Smith"};
  std::string all = dav_summary_text(s, 10);
  for (const char* name : {"Dentist", "Team lunch", "Ann Smith"}) EXPECT_NE(std::string::npos, all.find(name));
  std::string cut = dav_summary_text(s, 2);
  EXPECT_NE(std::string::npos, cut.find("Team lunch"));
  EXPECT_EQ(std::string::npos, cut.find("Ann Smith"));
  EXPECT_NE(std::string::npos, cut.find("…"));
}

TEST(DavTexts, LastSyncIsLocalTimeOrNever) {
  ASSERT_EQ(1, strings_set_language(0));
  ScopedTz tz{"Europe/Berlin"};
  EXPECT_EQ("Never", dav_last_sync_text(0));
  EXPECT_EQ("2026-12-08 14:30", dav_last_sync_text(1796736600));  // 13:30 UTC
}

TEST(DavTexts, TimerChoicesMapStoredMinutes) {
  const struct {
    int minutes, index;
  } cases[] = {{5, 0}, {15, 1}, {60, 3}, {0, 5}, {7, 1}, {-1, 1}};
  for (const auto& c : cases) EXPECT_EQ(c.index, dav_sync_minutes_index(c.minutes)) << c.minutes;
  EXPECT_EQ(15, kDavSyncMinutes[dav_sync_minutes_index(15)]);
}

TEST(DavTexts, MnemonicsAreDroppedFromAccessibleNames) {
  ASSERT_EQ(1, strings_set_language(0));
  EXPECT_EQ("Connect", mnemonic_plain(STR_DAV_BUTTON_CONNECT));
  EXPECT_EQ("Server address", mnemonic_plain(STR_DAV_FIELD_SERVER));
  ASSERT_EQ(1, strings_set_language(2));
  EXPECT_EQ("Contraseña", mnemonic_plain(STR_DAV_FIELD_PASSWORD));
  ASSERT_EQ(1, strings_set_language(0));
}

// --- the dialogs -------------------------------------------------------------

class DavDialogs : public ScriptedDialogTest {
 protected:
  static bool sensitive(GtkWindow* w, int response) {
    GtkWidget* b = gtk_dialog_get_widget_for_response(GTK_DIALOG(w), response);
    return b && gtk_widget_get_sensitive(b);
  }
  static bool is_default(GtkWindow* w, int response) {
    GtkWidget* b = gtk_dialog_get_widget_for_response(GTK_DIALOG(w), response);
    return b && gtk_widget_has_default(b);
  }
  static bool destructive(GtkWindow* w, int response) {
    GtkWidget* b = gtk_dialog_get_widget_for_response(GTK_DIALOG(w), response);
    return b && gtk_style_context_has_class(gtk_widget_get_style_context(b), GTK_STYLE_CLASS_DESTRUCTIVE_ACTION);
  }
  static std::string message_text(GtkWindow* w) {
    gchar* primary = nullptr;
    gchar* secondary = nullptr;
    g_object_get(w, "text", &primary, "secondary-text", &secondary, nullptr);
    std::string out = std::string(primary ? primary : "") + "\n" + (secondary ? secondary : "");
    g_free(primary);
    g_free(secondary);
    return out;
  }
  static void fill_form(GtkWindow* w, const std::string& server, const std::string& user, const std::string& pw) {
    gtk_entry_set_text(entry(w, "dav-server"), server.c_str());
    gtk_entry_set_text(entry(w, "dav-user"), user.c_str());
    gtk_entry_set_text(entry(w, "dav-password"), pw.c_str());
  }
};

constexpr int kConnect = 1, kTrust = GTK_RESPONSE_ACCEPT, kAddAccount = 3;
constexpr int kAdd = 1, kSync = 2, kRemove = 3;

TEST_F(DavDialogs, ConnectNeedsServerAndUser) {
  // A user name that is a mail address gives the server's domain itself.
  const struct {
    const char *server, *user;
    bool ready;
  } cases[] = {{"", "", false},           {"dav.example.org", "", false},       {"", "alice", false},
               {"dav.example.org", "alice", true}, {"", "alice@example.org", true}, {"", "alice@", false}};
  const size_t n = sizeof cases / sizeof cases[0];
  std::vector<bool> seen;
  bool connect_default = false;
  script({{STR_DAV_ADD_TITLE, false, [&](GtkWindow* w) {
             connect_default = is_default(w, kConnect);
             for (const auto& c : cases) {
               fill_form(w, c.server, c.user, "");
               seen.push_back(sensitive(w, kConnect));
             }
             respond(w, GTK_RESPONSE_CANCEL);
           }}});
  EXPECT_EQ(1, dav_add_account(nullptr));
  ASSERT_EQ(n, seen.size());
  for (size_t i = 0; i < n; i++) EXPECT_EQ(cases[i].ready, seen[i]) << cases[i].server << "/" << cases[i].user;
  EXPECT_TRUE(connect_default);
}

TEST_F(DavDialogs, ServerThatRefusesLeavesTheFormFilledForAnotherTry) {
  int port = dav_test::free_port();
  std::string server = "http://127.0.0.1:" + std::to_string(port) + "/";
  std::string error, kept;
  script({{STR_DAV_ADD_TITLE, false,
           [&](GtkWindow* w) {
             fill_form(w, server, "alice", "pw");
             respond(w, kConnect);
           }},
          {STR_DAV_ADD_TITLE, true,
           [&](GtkWindow* w) {
             error = message_text(w);
             respond(w, GTK_RESPONSE_OK);
           }},
          {STR_DAV_ADD_TITLE, false, [&](GtkWindow* w) {
             kept = gtk_entry_get_text(entry(w, "dav-server"));
             respond(w, GTK_RESPONSE_CANCEL);
           }}});
  EXPECT_EQ(1, dav_add_account(nullptr));
  EXPECT_NE(std::string::npos, error.find("No connection could be made")) << error;
  EXPECT_EQ(server, kept);
  std::vector<DavAccountRow> rows;
  ASSERT_EQ(0, dav_account_list(&rows));
  EXPECT_TRUE(rows.empty());
}

TEST_F(DavDialogs, AddressThatIsNoServerIsRefusedBeforeAnyRequest) {
  std::string error;
  script({{STR_DAV_ADD_TITLE, false,
           [&](GtkWindow* w) {
             fill_form(w, "ftp://dav.example.org", "alice", "pw");
             respond(w, kConnect);
           }},
          {STR_DAV_ADD_TITLE, true,
           [&](GtkWindow* w) {
             error = message_text(w);
             respond(w, GTK_RESPONSE_OK);
           }},
          {STR_DAV_ADD_TITLE, false, [&](GtkWindow* w) { respond(w, GTK_RESPONSE_CANCEL); }}});
  EXPECT_EQ(1, dav_add_account(nullptr));
  EXPECT_NE(std::string::npos, error.find("server address is not valid")) << error;
}

TEST_F(DavDialogs, AccountsDialogWithoutAccountsSaysHowToStart) {
  bool empty_shown = false, sync_on = true, remove_on = true, remove_red = false, close_default = false;
  script({{STR_DAV_ACCOUNTS, false, [&](GtkWindow* w) {
             each_widget(GTK_WIDGET(w), [&](GtkWidget* x) {
               if (GTK_IS_LABEL(x) && gtk_widget_get_visible(x) &&
                   std::string(gtk_label_get_text(GTK_LABEL(x))) == ui_string(STR_DAV_NO_ACCOUNTS))
                 empty_shown = true;
             });
             sync_on = sensitive(w, kSync);
             remove_on = sensitive(w, kRemove);
             remove_red = destructive(w, kRemove);
             close_default = is_default(w, GTK_RESPONSE_CLOSE);
             respond(w, GTK_RESPONSE_CLOSE);
           }}});
  EXPECT_FALSE(dav_accounts_dialog());
  EXPECT_TRUE(empty_shown);
  EXPECT_FALSE(sync_on);
  EXPECT_FALSE(remove_on);
  EXPECT_TRUE(remove_red);
  EXPECT_TRUE(close_default);
}

TEST_F(DavDialogs, RemovingAnAccountAsksFirstAndKeepsTheRepository) {
  int repo = -1;
  std::vector<DavBoundCollection> bound;
  ASSERT_EQ(0, dav_account_create("http://127.0.0.1:1/", "alice", "pw", "", {}, &repo, &bound));
  std::string name = repo_table()[static_cast<size_t>(repo)].name;
  bool remove_on = false, red = false, cancel_default = false, yes_default = true, empty_after = false;
  auto remove = [](GtkWindow* w) { respond(w, kRemove); };
  script({{STR_DAV_ACCOUNTS, false, [&](GtkWindow* w) {
             remove_on = sensitive(w, kRemove);
             respond(w, kRemove);
           }},
          {STR_DAV_ACCOUNTS, true,
           [&](GtkWindow* w) {
             red = destructive(w, GTK_RESPONSE_ACCEPT);
             cancel_default = is_default(w, GTK_RESPONSE_CANCEL);
             yes_default = is_default(w, GTK_RESPONSE_ACCEPT);
             respond(w, GTK_RESPONSE_CANCEL);
           }},
          {STR_DAV_ACCOUNTS, false, remove},
          {STR_DAV_ACCOUNTS, true, [](GtkWindow* w) { respond(w, GTK_RESPONSE_ACCEPT); }},
          {STR_DAV_ACCOUNTS, false, [&](GtkWindow* w) {
             empty_after = !sensitive(w, kRemove);
             respond(w, GTK_RESPONSE_CLOSE);
           }}});
  EXPECT_TRUE(dav_accounts_dialog());
  EXPECT_TRUE(remove_on);
  EXPECT_TRUE(red);
  EXPECT_TRUE(cancel_default);
  EXPECT_FALSE(yes_default);
  EXPECT_TRUE(empty_after);
  std::vector<DavAccountRow> rows;
  ASSERT_EQ(0, dav_account_list(&rows));
  EXPECT_TRUE(rows.empty());
  bool kept = false;
  for (const RepoEntry& e : repo_table()) kept = kept || e.name == name;
  EXPECT_TRUE(kept) << "the repository stays as a local one";
}

// Radicale over https with a certificate made for the run: the question
// shows its fingerprint with Cancel as the default; trusted, the chooser
// lists the collections, all chosen at first, and Add Account needs one.
class DavTrust : public DavDialogs {
 protected:
  void SetUp() override {
    DavDialogs::SetUp();
    if (!dav_test::have_module("radicale")) GTEST_SKIP() << "radicale missing";
    ASSERT_TRUE(radicale.start(true));
    DavClient c;
    DavAccount a{radicale.url(), "alice", "secret-alice", radicale.certificate().fingerprint};
    ASSERT_EQ(0, dav_open(&c, a));
    ASSERT_EQ(0, dav_test::make_collection(&c, radicale.url() + "alice/work/", true, "Work", "VEVENT", "#3366CC"));
    ASSERT_EQ(0, dav_test::make_collection(&c, radicale.url() + "alice/todo/", true, "Chores", "VTODO"));
    ASSERT_EQ(0, dav_test::make_collection(&c, radicale.url() + "alice/people/", false, "People"));
  }
  dav_test::Radicale radicale;
};

TEST_F(DavTrust, UntrustedCertificateIsTrustedOnlyByChoice) {
  std::string question;
  bool cancel_default = false, trust_default = true, add_all_off = true, add_one = false;
  std::vector<std::string> listed;
  auto form = [&](GtkWindow* w) {
    fill_form(w, radicale.url(), "alice", "secret-alice");
    respond(w, kConnect);
  };
  script({{STR_DAV_ADD_TITLE, false, form},
          {STR_DAV_UNTRUSTED_TITLE, true,
           [&](GtkWindow* w) {
             question = message_text(w);
             cancel_default = is_default(w, GTK_RESPONSE_CANCEL);
             trust_default = is_default(w, kTrust);
             respond(w, GTK_RESPONSE_CANCEL);  // refused: back to the form
           }},
          {STR_DAV_ADD_TITLE, false, form},
          {STR_DAV_UNTRUSTED_TITLE, true, [](GtkWindow* w) { respond(w, kTrust); }},
          {STR_DAV_CHOOSE_TITLE, false, [&](GtkWindow* w) {
             GtkTreeView* view = GTK_TREE_VIEW(named(w, "dav-collections"));
             GtkTreeModel* m = gtk_tree_view_get_model(view);
             GtkTreeIter it;
             for (bool ok = gtk_tree_model_get_iter_first(m, &it); ok; ok = gtk_tree_model_iter_next(m, &it)) {
               gchar *name = nullptr, *kind = nullptr;
               gtk_tree_model_get(m, &it, 2, &name, 3, &kind, -1);
               listed.push_back(std::string(name) + "/" + kind);
               g_free(name);
               g_free(kind);
             }
             // Every row off: nothing to add. Then the first one back on.
             int n = static_cast<int>(listed.size());
             for (int i = 0; i < n; i++) {
               GtkTreePath* p = gtk_tree_path_new_from_indices(i, -1);
               gtk_tree_view_row_activated(view, p, gtk_tree_view_get_column(view, 0));
               gtk_tree_path_free(p);
             }
             add_all_off = sensitive(w, kAddAccount);
             GtkTreePath* first = gtk_tree_path_new_first();
             gtk_tree_view_row_activated(view, first, gtk_tree_view_get_column(view, 0));
             gtk_tree_path_free(first);
             add_one = sensitive(w, kAddAccount);
             respond(w, kAddAccount);
           }}});
  int repo = -1;
  EXPECT_EQ(0, dav_add_account(&repo));
  EXPECT_NE(std::string::npos, question.find(radicale.certificate().fingerprint)) << question;
  EXPECT_TRUE(cancel_default);
  EXPECT_FALSE(trust_default);
  EXPECT_FALSE(add_all_off);
  EXPECT_TRUE(add_one);
  EXPECT_EQ((std::vector<std::string>{"Chores/Tasks", "Work/Events", "People/Contacts"}), listed);
  std::vector<DavAccountRow> rows;
  ASSERT_EQ(0, dav_account_list(&rows));
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ(repo, rows[0].repo);
  EXPECT_EQ("alice", rows[0].user);
  EXPECT_FALSE(rows[0].fingerprint.empty()) << "the trusted fingerprint is kept with the account";
}

}  // namespace
