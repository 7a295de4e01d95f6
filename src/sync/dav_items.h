// SPDX-License-Identifier: GPL-3.0-or-later
// The members of a calendar or address book: what changed since the last
// sync, fetching them in batches, and conditional writes.
//
// Changes come from sync-collection (RFC 6578) where the collection has a
// sync token; a token the server no longer knows turns into a full listing.
// Elsewhere the collection's CTag says whether anything changed at all, and
// the members' ETags (PROPFIND Depth 1) what. Every write is conditional: an
// update only replaces the version it was made from (If-Match), a new member
// never replaces one that appeared meanwhile (If-None-Match: *), so a change
// made elsewhere comes back as DAV_ERR_PRECONDITION instead of being lost.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sync/dav_discover.h"

struct DavClient;

struct DavResource {
  std::string href;  // absolute URL
  std::string etag;  // as the server sent it, quotes included; "" for a new member
  std::string data;  // the iCalendar or vCard text
};

struct DavItemRef {
  std::string href, etag;
};

// What the caller kept from the last sync of a collection.
struct DavSyncState {
  std::string sync_token, ctag;
  std::map<std::string, std::string> etags;  // href → ETag of every member held
};

struct DavChanges {
  std::vector<DavItemRef> changed;   // new or changed members, by href
  std::vector<std::string> removed;  // members known before and gone now
  std::string sync_token, ctag;      // the state to keep for the next sync
  // The server listed the whole collection (first sync, a refused token, or
  // the ETag listing); members whose ETag equals the known one are left out
  // of `changed`.
  bool complete = false;
};

// Members per multiget request.
enum { DAV_MULTIGET_BATCH = 500 };

// The changes since `known`. 0 or an error (nothing of `known` is touched).
int dav_changes(DavClient* c, const DavCollection& col, const DavSyncState& known, DavChanges* out);

// The members at `hrefs` with their data, `batch` to a request (GET one by
// one where the server has no multiget). Members the server no longer holds
// go to *missing. progress(done, total) after each batch.
int dav_multiget(DavClient* c, const DavCollection& col, const std::vector<std::string>& hrefs,
                 std::vector<DavResource>* got, std::vector<std::string>* missing,
                 const std::function<void(size_t, size_t)>& progress = nullptr,
                 size_t batch = DAV_MULTIGET_BATCH);

// One member. 0 or an error (DAV_ERR_NOT_FOUND when it is gone).
int dav_get(DavClient* c, const std::string& href, DavResource* out);

// Creates (r->etag empty: If-None-Match: *) or replaces (If-Match: r->etag)
// the member at r->href. On success r->etag is the new version's: from the
// reply, else (the server changed what it stored, or did not say) a GET,
// which also puts the server's text in r->data. DAV_ERR_PRECONDITION when
// the member changed or appeared on the server meanwhile; another refusal
// leaves the precondition it named in c->condition ("no-uid-conflict": the
// collection holds the UID at another href).
int dav_put(DavClient* c, const DavCollection& col, DavResource* r);

// Deletes the member, only in version `etag` when one is given. A member
// that is already gone counts as deleted. DAV_ERR_PRECONDITION when it
// changed on the server meanwhile.
int dav_delete(DavClient* c, const std::string& href, const std::string& etag);

// The address for a new member: the collection's URL, the UID with every
// byte outside A-Z a-z 0-9 - _ . ~ escaped, and ".ics" or ".vcf".
std::string dav_new_href(const DavCollection& col, const std::string& uid);
