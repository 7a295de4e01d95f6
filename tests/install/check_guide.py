#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Checks the installed user guide: every page is well-formed enough to
parse, declares the language of its directory and a title, and every link
inside the guide (page#anchor, #anchor) resolves. Prints one line per
fault and exits 1 when there is any."""

import html.parser
import os
import sys
import urllib.parse

VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "source", "track", "wbr"}


class Page(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.ids, self.links, self.lang, self.title, self.stack, self.errors = set(), [], None, "", [], []
        self._in_title = False

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == "html":
            self.lang = a.get("lang")
        if "id" in a:
            if a["id"] in self.ids:
                self.errors.append("duplicate id %r" % a["id"])
            self.ids.add(a["id"])
        if tag == "a" and "href" in a:
            self.links.append(a["href"])
        if tag == "title":
            self._in_title = True
        if tag not in VOID:
            self.stack.append(tag)

    def handle_endtag(self, tag):
        if tag == "title":
            self._in_title = False
        if tag in VOID:
            return
        # Optional end tags (p, li, td...) may be left out; anything else must nest.
        while self.stack and self.stack[-1] != tag and self.stack[-1] in ("p", "li", "td", "th", "tr", "dt", "dd"):
            self.stack.pop()
        if not self.stack or self.stack[-1] != tag:
            self.errors.append("unexpected </%s> (open: %s)" % (tag, "/".join(self.stack[-3:])))
            return
        self.stack.pop()

    def handle_data(self, data):
        if self._in_title:
            self.title += data


def main(root):
    faults = []
    pages = {}
    for lang in sorted(os.listdir(root)):
        d = os.path.join(root, lang)
        for name in sorted(os.listdir(d)) if os.path.isdir(d) else []:
            if name.endswith(".html"):
                p = Page()
                with open(os.path.join(d, name), encoding="utf-8") as f:
                    p.feed(f.read())
                p.close()
                pages[(lang, name)] = p
    for (lang, name), p in pages.items():
        where = "%s/%s" % (lang, name)
        faults += ["%s: %s" % (where, e) for e in p.errors]
        if p.lang != lang:
            faults.append("%s: <html lang=%r>, not %r" % (where, p.lang, lang))
        if not p.title.strip():
            faults.append("%s: no title" % where)
        for href in p.links:
            u = urllib.parse.urlparse(href)
            if u.scheme or u.netloc:
                continue
            target = (lang, u.path or name)
            if target not in pages:
                faults.append("%s: link to missing page %r" % (where, href))
            elif u.fragment and u.fragment not in pages[target].ids:
                faults.append("%s: link to missing anchor %r" % (where, href))
    for f in faults:
        print(f)
    return 1 if faults or not pages else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
