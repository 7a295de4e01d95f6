#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A second, independent client of a calendar and contacts server.

Changes things on the server side between the tested client's requests,
through Debian's python3-caldav, the way another device of the user would.

    peer.py URL USER PASSWORD -- OP ARGS... [-- OP ARGS...]

Ops (one output line each, "ok ..." on success):
    put-event CALENDAR_URL UID SUMMARY   create the event, or change its summary
    delete-event CALENDAR_URL UID        delete the event found by its UID
    put URL CONTENT_TYPE TEXT            PUT the text as it is, unconditionally
    delete URL                           DELETE, unconditionally
    count CALENDAR_URL                   the number of events
Exit status 1 (with the reason on stderr) as soon as an op fails.
"""
import sys

import caldav


def event_text(uid, summary):
    return ("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Peer//Tests//EN\r\nBEGIN:VEVENT\r\n"
            f"UID:{uid}\r\nDTSTAMP:20260101T000000Z\r\nDTSTART:20260106T090000Z\r\n"
            f"DTEND:20260106T100000Z\r\nSUMMARY:{summary}\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n")


def run(client, op, args):
    if op == "put-event":
        cal = client.calendar(url=args[0])
        try:
            ev = cal.event_by_uid(args[1])
            ev.data = event_text(args[1], args[2])
            ev.save()
        except caldav.error.NotFoundError:
            ev = cal.save_event(event_text(args[1], args[2]))
        return str(ev.url)
    if op == "delete-event":
        cal = client.calendar(url=args[0])
        cal.event_by_uid(args[1]).delete()
        return args[1]
    if op == "put":
        r = client.put(args[0], args[2], {"Content-Type": args[1]})
        if r.status >= 300:
            raise RuntimeError(f"PUT {r.status}")
        return str(r.status)
    if op == "delete":
        r = client.delete(args[0])
        if r.status >= 300 and r.status != 404:
            raise RuntimeError(f"DELETE {r.status}")
        return str(r.status)
    if op == "count":
        return str(len(client.calendar(url=args[0]).events()))
    raise RuntimeError(f"unknown op {op}")


def main():
    if len(sys.argv) < 5 or sys.argv[4] != "--":
        sys.exit(__doc__)
    url, user, password = sys.argv[1:4]
    ops, cur = [], None
    for word in sys.argv[4:]:
        if word == "--":
            cur = []
            ops.append(cur)
        else:
            cur.append(word)
    client = caldav.DAVClient(url, username=user or None, password=password or None)
    for op in ops:
        try:
            print("ok", run(client, op[0], op[1:]), flush=True)
        except Exception as e:  # the test reads the reason from stderr
            print(f"peer.py: {' '.join(op)}: {e!r}", file=sys.stderr)
            sys.exit(1)


if __name__ == "__main__":
    main()
