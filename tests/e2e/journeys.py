#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""End-to-end journeys of the ordika window, driven as a user would: real
pointer and key events, read back through the accessibility tree.

Run through run.sh, which provides the X server, the session bus and a
temporary HOME. Each journey is one CTest test."""

import json
import os
import signal
import subprocess
import sys
import time

ORDIKA = os.environ["ORDIKA_BIN"]
CLI = os.environ["ORDIKA_CLI"]
OUT = os.environ["ORDIKA_E2E_OUT"]
HOME = os.environ["HOME"]
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PASSWORD = "Correct9Horse9Battery"


# --- The string table (the window's labels, per language) -----------------

def load_strings():
    table = {}
    with open(os.path.join(SOURCE, "resources", "strings.txt"), encoding="utf-8") as f:
        entries = [l.rstrip("\n").replace("\r", "") for l in f]
    entries = [e for e in entries if e]
    for k, raw in enumerate(entries):
        g, within = divmod(k, 10)
        sid, lang = 2 * g + within // 5, within % 5
        out, i = [], 0
        while i < len(raw):
            c = raw[i]
            if c == "\\" and i + 1 < len(raw):
                out.append("\r\n" if raw[i + 1] == "n" else raw[i + 1])
                i += 2
                continue
            out.append("\n" if c == "|" else c)
            i += 1
        table[(sid, lang)] = "".join(out)
    return table


def load_names():
    """The string ids by name, from resources/strings/names.txt."""
    names = {}
    with open(os.path.join(SOURCE, "resources", "strings", "names.txt"), encoding="utf-8") as f:
        for line in f:
            words = line.split("#", 1)[0].split()
            if len(words) == 2 and words[0].isdigit():
                names[words[1]] = int(words[0])
    return names


STRINGS = load_strings()
NAMES = load_names()


def S(name, lang=0):
    """The text of the string id named (STR_...) in a language."""
    return STRINGS[(NAMES[name], lang)]


# --- Session: accessibility bus, settings, tray ---------------------------

class Session:
    def __init__(self, tray=False):
        self.procs = []
        self.spawn(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
        subprocess.run(["gsettings", "set", "org.gnome.desktop.interface", "toolkit-accessibility", "true"],
                       stderr=subprocess.DEVNULL, check=False)
        time.sleep(0.5)
        if tray:
            self.spawn(["trayer", "--edge", "bottom", "--align", "right", "--widthtype", "pixel", "--width", "64",
                        "--height", "32", "--SetDockType", "false", "--expand", "false"])
            time.sleep(0.5)

    def spawn(self, argv):
        p = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(p)
        return p

    def close(self):
        for p in reversed(self.procs):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(3)
                except subprocess.TimeoutExpired:
                    p.kill()


# dogtail reads the accessibility setting when imported.
SESSION = Session(tray=len(sys.argv) > 1 and sys.argv[1] in ("tray", "reminder"))

from dogtail import config, rawinput  # noqa: E402
from dogtail import tree  # noqa: E402
from dogtail.predicate import GenericPredicate  # noqa: E402

config.config.logDebugToStdOut = False
config.config.logDebugToFile = False
config.config.searchCutoffCount = 3
config.config.searchBackoffDuration = 0.2
config.config.defaultDelay = 0.2
config.config.actionDelay = 0.2
config.config.typingDelay = 0.02


class Failure(Exception):
    pass


def check(cond, what):
    if not cond:
        raise Failure(what)


def wait_for(fn, what, timeout=20.0):
    end = time.time() + timeout
    last = None
    while time.time() < end:
        try:
            v = fn()
            if v:
                return v
        except Exception as e:  # the tree changes under us
            last = e
        time.sleep(0.2)
    raise Failure("timed out waiting for %s (%s)" % (what, last))


def cli(*args, check_rc=True, env=None):
    e = dict(os.environ, ORDIKA_PASSWORD=PASSWORD)
    e.update(env or {})
    r = subprocess.run([CLI] + list(args), env=e, capture_output=True, text=True, timeout=60)
    if check_rc and r.returncode != 0:
        raise Failure("ordika-cli %s: %s" % (" ".join(args), r.stderr))
    return r.stdout


def seed_profile(profile=None, env=None):
    """A profile with a note, a task, and a key whose detail shows a password
    link, under the Work tag (the last default tag in other languages)."""
    def run(*args):
        return cli(*((["--profile", profile] if profile else []) + list(args)), env=env)
    run("init")
    tags = [l.split("\t") for l in run("tags").splitlines()]
    root = next(t for t in tags if t[3] == "0")
    children = [t for t in tags if t[3] == "1"]
    work = next((t for t in children if t[4] == "Work"), children[-1] if children else root)
    note_body = os.path.join(HOME, "note.txt")
    with open(note_body, "w") as f:
        f.write("Milk, **bread** and //olives//.\n")
    ids = {
        "note": run("add", "note", work[0], "--title", "Shopping list", "--body-file", note_body,
                    "--markup").strip(),
        "key": run("add", "key", work[0], "--title", "Webmail", "--url", "https://mail.example.org",
                   "--user", "ann", "--password", "s3cret-Pa55").strip(),
        "task": run("add", "task", work[0], "--title", "Call the plumber").strip(),
    }
    return root, work, ids


# --- The program ------------------------------------------------------------

RUNNING = []


class Ordika:
    def __init__(self, args=(), env=None, lang=0):
        self.lang = lang
        self.log = open(os.path.join(HOME, "ordika.stderr"), "a")
        e = dict(os.environ)
        e.update(env or {})
        self.proc = subprocess.Popen([ORDIKA] + list(args), env=e, stdout=self.log, stderr=self.log)
        RUNNING.append(self)
        self.app = wait_for(self.find_app, "the ordika application on the accessibility bus")

    def find_app(self):
        if self.proc.poll() is not None:
            raise Failure("ordika ended early with %d" % self.proc.returncode)
        for a in tree.root.children:
            if a.name == "ordika":
                return a
        return None

    def wait_exit(self, timeout=20):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            raise Failure("ordika did not end")

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()

    def find(self, role, name=None, within=None, showing=True):
        pred = GenericPredicate(roleName=role, name=name)
        for node in (within or self.app).findChildren(pred):
            if not showing or node.showing:
                return node
        return None

    def wait(self, role, name=None, within=None, timeout=20):
        return wait_for(lambda: self.find(role, name, within), "%s %r" % (role, name), timeout)

    def close_menu(self, item_name):
        """Escape until the popup holding the item has gone (a menu that is
        still taking its grab can miss the first key)."""
        for _ in range(4):
            time.sleep(0.3)
            rawinput.pressKey("Escape")
            try:
                self.gone("menu item", item_name, timeout=2)
                return
            except Failure:
                pass
        raise Failure("the menu with %r stayed open" % item_name)

    def gone(self, role, name=None, timeout=20):
        wait_for(lambda: self.find(role, name) is None, "%s %r to go" % (role, name), timeout)

    def main_frame(self, timeout=30):
        return wait_for(lambda: next((c for c in self.app.children if c.roleName == "frame" and c.showing), None),
                        "the main window", timeout)

    def prompt(self, headline):
        """The password prompt showing the headline string."""
        def find():
            for d in self.app.children:
                if d.roleName == "dialog" and d.showing and self.find("label", S(headline, self.lang), within=d):
                    return d
            return None
        return wait_for(find, "the prompt %s" % headline)

    def type_password(self, text, headline="STR_ENTER_MASTER_PASSWORD"):
        dlg = self.prompt(headline)
        entry = self.wait("password text", within=dlg)
        entry.click()
        rawinput.typeText(text)
        rawinput.pressKey("Return")
        wait_for(lambda: dlg.dead or not dlg.showing, "the prompt %s to close" % headline)

    def trees(self):
        frame = self.main_frame()
        tags = frame.findChild(GenericPredicate(roleName="tree table"), retry=False, requireResult=False)
        items = frame.findChild(GenericPredicate(roleName="table"), retry=False, requireResult=False)
        check(tags is not None and items is not None, "tag tree and item list")
        return tags, items

    def detail(self):
        frame = self.main_frame()
        texts = [t for t in frame.findChildren(GenericPredicate(roleName="text")) if t.showing]
        check(texts, "the detail view")
        return texts[-1]

    def detail_text(self):
        return self.detail().text or ""

    def shown(self, title):
        """The detail view shows the item (its accessible name is the title)."""
        wait_for(lambda: self.detail().name == title, "the detail of %r" % title)

    def row(self, table, name, timeout=10):
        return wait_for(lambda: next((c for c in table.findChildren(GenericPredicate(roleName="table cell"))
                                      if c.name == name and c.showing), None), "row %r" % name, timeout)

    def screenshot(self, name):
        frame = self.main_frame()
        x, y = frame.position
        w, h = frame.size
        return screen_shot(os.path.join(OUT, name), max(x, 0), max(y, 0), w, h)


def screen_shot(path, x=0, y=0, w=None, h=None):
    import gi
    gi.require_version("Gdk", "3.0")
    from gi.repository import Gdk
    os.makedirs(os.path.dirname(path), exist_ok=True)
    root = Gdk.get_default_root_window()
    pb = Gdk.pixbuf_get_from_window(root, x, y, w or root.get_width(), h or root.get_height())
    pb.savev(path, "png", [], [])
    return path


def unlock(o):
    o.type_password(PASSWORD)
    return o.main_frame()


def log_text():
    try:
        with open(os.path.join(HOME, ".config", "Ordika", "ordika.log"), encoding="utf-8", errors="replace") as f:
            return f.read()
    except OSError:
        return ""


# --- Journeys ------------------------------------------------------------------

def journey_first_start():
    o = Ordika()
    # A confirmation that differs is refused and the next attempt asked.
    o.type_password(PASSWORD, "STR_CHOOSE_MASTER_PASSWORD")           # the new master password
    o.type_password(PASSWORD + "x", "STR_REPEAT_MASTER_PASSWORD")     # a different confirmation
    box = o.wait("alert")
    o.wait("push button", S("STR_OK"), within=box).click()
    o.gone("alert")
    o.type_password(PASSWORD, "STR_CHOOSE_MASTER_PASSWORD")
    o.type_password(PASSWORD, "STR_REPEAT_MASTER_PASSWORD")
    frame = o.main_frame()
    check(frame.name == S("STR_APP_NAME"), "window title %r" % frame.name)
    tags, _ = o.trees()
    o.row(tags, S("STR_DEFAULT_REPO_NAME"))                       # the default repository
    check(os.path.isdir(os.path.join(HOME, "Ordika")), "the repository root")
    check(len(os.listdir(os.path.join(HOME, "Ordika"))) == 1, "one default repository")
    rawinput.keyCombo("<Control>q")
    check(o.wait_exit() == 0, "exit status")
    check(os.path.exists(os.path.join(HOME, ".config", "Ordika", "config")), "configuration database")


def journey_wrong_password():
    cli("init")
    o = Ordika()
    o.type_password("not the password")
    box = o.wait("alert")                     # wrong password
    o.wait("push button", S("STR_OK"), within=box).click()
    o.gone("alert")
    unlock(o)
    rawinput.keyCombo("<Control>q")
    check(o.wait_exit() == 0, "exit status")


def journey_cancel():
    cli("init")
    started = log_text().count("Started")
    o = Ordika()
    dlg = o.prompt("STR_ENTER_MASTER_PASSWORD")
    o.wait("push button", S("STR_CANCEL"), within=dlg).click()
    check(o.wait_exit() == 0, "cancel exits with 0")
    check(log_text().count("Started") == started, "nothing opened after a cancel")
    # SIGTERM at the prompt ends the program as a cancel does.
    o = Ordika()
    o.prompt("STR_ENTER_MASTER_PASSWORD")
    o.proc.send_signal(signal.SIGTERM)
    check(o.wait_exit() == 0, "SIGTERM at the prompt exits with 0")
    check(log_text().count("Started") == started, "nothing opened after SIGTERM at the prompt")


def journey_browse():
    _, work, _ = seed_profile()
    o = Ordika()
    unlock(o)
    tags, items = o.trees()
    o.row(tags, S("STR_ROW_TRASH")).click()                # the trash: empty
    wait_for(lambda: not [c for c in items.findChildren(GenericPredicate(roleName="table cell"))
                          if c.name == "Shopping list" and c.showing], "empty trash list")
    o.row(tags, work[4]).click()
    o.row(items, "Call the plumber").click()
    o.shown("Call the plumber")
    o.row(items, "Shopping list").click()
    wait_for(lambda: "bread" in o.detail_text(), "the note's detail")
    # Another place: the upcoming list, which shows the task. Back returns to
    # the note in its tag, forward to the task in the list.
    frame = o.main_frame()
    back = o.wait("push button", S("STR_BACK"), within=frame)
    fwd = o.find("push button", S("STR_FORWARD"), within=frame)
    check(not fwd.sensitive, "forward insensitive")
    first = [r for r in tags.findChildren(GenericPredicate(roleName="table cell")) if r.showing and r.name][0]
    first.click()
    o.shown("Call the plumber")
    wait_for(lambda: back.sensitive, "back sensitive")
    back.click()
    o.shown("Shopping list")
    wait_for(lambda: fwd.sensitive and not back.sensitive, "forward sensitive, back not")
    fwd.click()
    o.shown("Call the plumber")
    wait_for(lambda: not fwd.sensitive, "forward insensitive at the newest place")

    # Context menus: the list types on the first row (choosing "all" lists
    # every item), the tag menu on a tag.
    first.click(button=3)
    o.wait("menu item", S("STR_LIST_UPCOMING"))
    o.wait("menu item", S("STR_LIST_ALL")).click()
    o.row(items, "Webmail")
    o.row(tags, "%s: %s" % (S("STR_ROW_LISTS"), S("STR_LIST_ALL")))
    first.click(button=3)
    o.wait("menu item", S("STR_LIST_UPCOMING"))
    o.close_menu(S("STR_LIST_UPCOMING"))
    o.row(tags, work[4]).click(button=3)
    o.wait("menu item", S("STR_TAG_MENU_NEW_NOTE"))
    o.close_menu(S("STR_TAG_MENU_NEW_NOTE"))
    # The item popup by pointer and by keyboard (Shift+F10).
    o.row(items, "Call the plumber").click(button=3)
    o.wait("menu item", S("STR_EDIT"))
    o.close_menu(S("STR_EDIT"))
    rawinput.keyCombo("<Shift>F10")
    o.wait("menu item", S("STR_EDIT"))
    o.close_menu(S("STR_EDIT"))

    # The key's password link reveals its password.
    o.row(items, "Webmail").click()
    wait_for(lambda: "mail.example.org" in o.detail_text(), "the key's detail")
    click_password_link(o)
    box = o.wait("dialog", S("STR_PASSWORD_TITLE"))
    o.wait("label", "s3cret-Pa55", within=box)
    o.wait("push button", S("STR_CLOSE"), within=box).click()
    o.gone("dialog", S("STR_PASSWORD_TITLE"))
    rawinput.keyCombo("<Control>q")
    check(o.wait_exit() == 0, "exit status")


def click_password_link(o):
    frame = o.main_frame()
    view = [t for t in frame.findChildren(GenericPredicate(roleName="text")) if t.showing][-1]
    text = view.text
    # The password link is the line after the user name; its word follows the label.
    iface = view.queryText()
    import pyatspi
    for offset in range(len(text)):
        # a link's characters carry the "link" tag; the accessible text reports
        # it as an underline attribute.
        attrs, start, end = iface.getAttributeRun(offset, False)
        if any(a.startswith("underline:single") for a in attrs) and "mail.example.org" not in text[start:end]:
            x, y, w, h = iface.getCharacterExtents((start + end) // 2, pyatspi.DESKTOP_COORDS)
            rawinput.click(x + w // 2, y + h // 2)
            return
    raise Failure("no password link in %r" % text)


def journey_tray():
    cli("init")
    o = Ordika()
    frame = unlock(o)
    from Xlib import X, display, protocol
    d = display.Display()
    target = wait_tray_icon(d)
    wm_delete = d.intern_atom("WM_DELETE_WINDOW")
    wm_protocols = d.intern_atom("WM_PROTOCOLS")
    check(target is not None, "the main window on the X server")
    ev = protocol.event.ClientMessage(window=target, client_type=wm_protocols, data=(32, [wm_delete, X.CurrentTime, 0, 0, 0]))
    target.send_event(ev, event_mask=X.NoEventMask)
    d.flush()
    wait_for(lambda: not frame.showing, "the window hidden to the tray")
    check(o.proc.poll() is None, "still running in the tray")
    tray = find_x_window(d, None, wm_class="trayer")
    check(tray is not None, "the tray")
    g = tray.get_geometry()
    pos = tray.translate_coords(d.screen().root, 0, 0)
    # The icon is the right-most square of the right-aligned tray.
    rawinput.click(-pos.x + g.width - g.height // 2, -pos.y + g.height // 2)
    wait_for(lambda: o.main_frame(), "the window back from the tray")
    rawinput.keyCombo("<Control>q")
    check(o.wait_exit() == 0, "exit status")


def find_x_window(d, name, wm_class=None, under=None, prop=None, skip=None):
    stack = [under or d.screen().root]
    while stack:
        w = stack.pop()
        if skip is not None and w.id == skip.id:
            continue
        try:
            if name is not None and w.get_wm_name() == name and w.get_attributes().map_state != 0:
                return w
            if wm_class is not None:
                c = w.get_wm_class()
                if c and wm_class in c:
                    return w
            if prop is not None and w.get_full_property(d.intern_atom(prop), 0) is not None:
                return w
            stack.extend(w.query_tree().children)
        except Exception:
            pass
    return None


def wait_tray_icon(d):
    """Waits until the status icon is embedded in the tray (an XEmbed client
    inside the tray's window), for before that closing the window quits.
    Returns the main window, found outside the tray: the icon bears the
    program's name too."""
    def embedded():
        tray = find_x_window(d, None, wm_class="trayer")
        return tray if tray and find_x_window(d, None, under=tray, prop="_XEMBED_INFO") else None
    tray = wait_for(embedded, "the icon in the tray")
    return find_x_window(d, S("STR_APP_NAME"), skip=tray)


def journey_no_tray_close_quits():
    cli("init")
    o = Ordika()
    unlock(o)
    from Xlib import X, display, protocol
    d = display.Display()
    target = find_x_window(d, S("STR_APP_NAME"))
    ev = protocol.event.ClientMessage(window=target, client_type=d.intern_atom("WM_PROTOCOLS"),
                                      data=(32, [d.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0]))
    target.send_event(ev, event_mask=X.NoEventMask)
    d.flush()
    check(o.wait_exit() == 0, "closing without a tray quits")
    check("Finished" in log_text(), "normal shutdown")


def journey_sigterm():
    _, work, _ = seed_profile()
    o = Ordika()
    unlock(o)
    tags, items = o.trees()
    o.row(tags, work[4]).click()
    o.row(items, "Shopping list").click()
    wait_for(lambda: "bread" in o.detail_text(), "the note's detail")
    o.proc.send_signal(signal.SIGTERM)
    check(o.wait_exit() == 0, "SIGTERM ends through the quit path")
    check("Finished" in log_text(), "normal shutdown logged")
    # The selection was saved with the settings: the next start shows it.
    o = Ordika()
    unlock(o)
    wait_for(lambda: "bread" in o.detail_text(), "the saved selection restored")
    # A second start of the same profile brings the running one forward.
    r = subprocess.run([ORDIKA], capture_output=True, text=True, timeout=30)
    check(r.returncode == 0 and "already open" in r.stderr, "second instance: %r" % r.stderr)
    # SIGINT while a dialog runs: the dialog closes first, then the window.
    tags, items = o.trees()
    o.row(items, "Webmail").click()
    wait_for(lambda: "mail.example.org" in o.detail_text(), "the key's detail")
    click_password_link(o)
    o.wait("dialog", S("STR_PASSWORD_TITLE"))
    finished = log_text().count("Finished")
    o.proc.send_signal(signal.SIGINT)
    check(o.wait_exit() == 0, "SIGINT ends through the quit path")
    check(log_text().count("Finished") == finished + 1, "normal shutdown after the dialog")


def notifications(record):
    try:
        with open(record) as f:
            return [json.loads(line) for line in f if line.strip()]
    except OSError:
        return []


def journey_reminder():
    """A reminder that comes while the window is hidden in the tray reaches
    the desktop's notification service, with an "Open" action, and no box of
    the window's own besides; the notification's action brings the window
    back on the item."""
    _, work, _ = seed_profile()
    # The reminder time lies well after the start, on a minute boundary.
    remind_at = (int(time.time() + 25) // 60 + 1) * 60
    due = time.strftime("%Y-%m-%d %H:%M", time.localtime(remind_at + 60))
    cli("add", "task", work[0], "--title", "Water <the> plants", "--due", due, "--remind", "1m")
    record = os.path.join(HOME, "notifications.jsonl")
    trigger = os.path.join(HOME, "click")
    SESSION.spawn(["/usr/bin/python3", os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                    "fake_notifications.py"), record, trigger])
    wait_for(lambda: os.path.exists(record), "the notification service")
    o = Ordika()
    frame = unlock(o)
    from Xlib import X, display, protocol
    d = display.Display()
    target = wait_tray_icon(d)
    ev = protocol.event.ClientMessage(window=target, client_type=d.intern_atom("WM_PROTOCOLS"),
                                      data=(32, [d.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0]))
    target.send_event(ev, event_mask=X.NoEventMask)
    d.flush()
    wait_for(lambda: not frame.showing, "the window hidden to the tray")
    check(o.proc.poll() is None, "still running in the tray")
    check(time.time() < remind_at - 1, "hidden before the reminder time")
    wait_for(lambda: notifications(record), "the notification", timeout=remind_at - time.time() + 30)
    n = notifications(record)
    check(len(n) == 1, "one notification: %r" % n)
    check(n[0]["summary"] == "Water <the> plants", "the title: %r" % n[0])
    # The time as the window shows it in English ("Dec 8, 2026, 3:05 PM").
    t = time.localtime(remind_at + 60)
    shown = "%s %d, %d, %d:%02d %s" % ("Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()[t.tm_mon - 1], t.tm_mday,
                                        t.tm_year, (t.tm_hour + 11) % 12 + 1, t.tm_min, "AM" if t.tm_hour < 12 else "PM")
    check(n[0]["body"] == shown, "the time: %r" % n[0])
    check(n[0]["actions"][:2] == ["default", S("STR_OPEN")], "the default action says Open: %r" % n[0])
    # One alert, not two: the window shows no box of its own.
    time.sleep(2.0)
    check(o.find("label", S("STR_NEW_REMINDERS_DUE")) is None, "no box besides the notification")
    open(trigger, "w").close()
    frame = o.main_frame()
    o.shown("Water <the> plants")
    check(not os.path.exists(trigger), "the click was played")
    check(o.find("label", S("STR_NEW_REMINDERS_DUE")) is None, "no second alert")
    check("Water" not in log_text(), "the title stays out of the log")
    rawinput.keyCombo("<Control>q")
    check(o.wait_exit() == 0, "exit status")


LANGS = ["en", "fr", "es", "de", "ru"]
LOCALES = {"en": "C.UTF-8", "fr": "fr_FR.UTF-8", "es": "es_ES.UTF-8", "de": "de_DE.UTF-8", "ru": "ru_RU.UTF-8"}


def locale_env(lang):
    """The environment that runs the program in the language, its locale
    compiled into HOME when the system does not have it."""
    loc = LOCALES[lang]
    env = {"LC_ALL": loc, "LANG": loc}
    if lang != "en":
        locdir = os.path.join(HOME, "locale")
        os.makedirs(locdir, exist_ok=True)
        if not os.path.isdir(os.path.join(locdir, loc)):
            subprocess.run(["localedef", "-i", loc.split(".")[0], "-f", "UTF-8", os.path.join(locdir, loc)],
                           check=False, capture_output=True)
        env["LOCPATH"] = locdir
    return env


def journey_screenshots():
    for lang in LANGS:
        env = locale_env(lang)
        # A profile made in that language, so its settings name it too.
        profile = "shot-" + lang
        _, work, _ = seed_profile(profile, env)
        idx = LANGS.index(lang)
        o = Ordika(args=[profile], env=env, lang=idx)
        unlock(o)
        tags, items = o.trees()
        o.row(tags, work[4]).click()
        o.row(items, "Shopping list").click()
        wait_for(lambda: "bread" in o.detail_text(), "the note's detail")
        check(o.main_frame().name == S("STR_APP_NAME", idx), "title in %s" % lang)
        o.wait("menu", S("STR_MENU_FILE", idx))
        time.sleep(0.5)
        o.screenshot("screenshot-%s.png" % lang)
        rawinput.keyCombo("<Control>q")
        check(o.wait_exit() == 0, "exit status")


# --- Every dialog in every language, for review ------------------------------

class DialogTour:
    """Opens dialogs of a running window in its language and keeps a
    screenshot of each; every title is checked against the string table."""

    def __init__(self, o, lang):
        self.o, self.lang, self.L = o, lang, LANGS.index(lang)
        self.wrong_titles = []

    def s(self, sid):
        return S(sid, self.L)

    def frame(self):
        frame = self.o.main_frame()
        point_at(frame)
        return frame

    def keys(self, combo):
        self.frame()
        rawinput.keyCombo(combo)
        return top_dialog(self.o)

    def menu(self, menu_id, item_id):
        self.frame()
        self.o.wait("menu", self.s(menu_id)).click()
        self.o.wait("menu item", self.s(item_id)).click()
        return top_dialog(self.o)

    def popup(self, title, item_id):
        tags, items = self.o.trees()
        self.frame()
        self.o.row(items, title).click(button=3)
        self.o.wait("menu item", self.s(item_id)).click()
        return top_dialog(self.o)

    def button(self, dlg, label_id):
        self.o.wait("push button", self.s(label_id), within=dlg).click()
        return top_dialog(self.o, not_this=dlg)

    def x_title(self, x, y, w, h):
        """The window title (_NET_WM_NAME) of the mapped top-level window at
        the dialog's place: a message box's accessible name is its kind."""
        from Xlib import X, display
        d = display.Display()
        try:
            utf8, net_name = d.intern_atom("UTF8_STRING"), d.intern_atom("_NET_WM_NAME")
            for win in reversed(d.screen().root.query_tree().children):  # topmost first
                try:
                    if win.get_attributes().map_state != X.IsViewable:
                        continue
                    g = win.get_geometry()
                    if (g.x, g.y, g.width, g.height) != (x, y, w, h):
                        continue
                    prop = win.get_full_property(net_name, utf8)
                    return prop.value.decode("utf-8") if prop else None
                except Exception:
                    continue
            return None
        finally:
            d.close()

    def fill(self, dlg, label_id, text, role="text"):
        entry = self.o.wait(role, self.s(label_id), within=dlg)
        entry.click()
        rawinput.keyCombo("<Control>a")
        rawinput.typeText(text)
        wait_for(lambda: entry.text == text or (role != "text" and len(entry.text or "") == len(text)),
                 "%r typed" % text)

    def shoot(self, name, dlg, title_id):
        time.sleep(0.4)  # drawn after it was mapped
        x, y = dlg.position
        w, h = dlg.size
        title = self.x_title(x, y, w, h)
        if title != self.s(title_id):
            self.wrong_titles.append("%s: %r, not %r" % (name, title, self.s(title_id)))
        screen_shot(os.path.join(OUT, "dialog-%s-%s.png" % (self.lang, name)), max(x, 0), max(y, 0), w, h)

    def escape(self, dlg, what):
        point_at(dlg)
        rawinput.pressKey("Escape")
        wait_for(lambda: dlg.dead or not dlg.showing, "%s closed by Escape" % what, timeout=10)


def journey_dialogs(lang):
    """Each dialog opened from the keyboard or a menu, kept as a screenshot
    (dialog-LANG-NAME.png) and closed with Escape, so nothing is stored."""
    env = locale_env(lang)
    _, work, ids = seed_profile(None, env)
    cli("edit", ids["task"], "--title", "Call the plumber again", "--keep-history")
    before = (cli("items"), cli("repos"))
    o = Ordika(env=env, lang=LANGS.index(lang))
    unlock(o)
    t = DialogTour(o, lang)
    tags, items = o.trees()
    o.row(tags, work[4]).click()
    o.row(items, "Shopping list").click()
    wait_for(lambda: "bread" in o.detail_text(), "the note's detail")

    def nested(open_parent, label_id):
        """A dialog opened by a button of another: both are closed."""
        def run():
            parent = open_parent()
            return [parent, t.button(parent, label_id)]
        return run

    def manager():
        d = t.keys("<Control>o")
        # The manager asks for the master password first.
        if o.find("label", t.s("STR_ENTER_MASTER_PASSWORD"), within=d):
            rawinput.typeText(PASSWORD)
            rawinput.pressKey("Return")
            wait_for(lambda: d.dead or not d.showing, "the master password taken")
            d = top_dialog(o)
        return d

    # The progress of a sign-in to a server that takes the connection and
    # never answers: it stays up until cancelled, and the failure it reports
    # is closed with the form.
    import socket
    silent = socket.socket()
    silent.bind(("127.0.0.1", 0))
    silent.listen(4)

    def progress():
        form = t.menu("STR_MENU_FILE", "STR_SYNC_ACCOUNT_MENU")
        t.fill(form, "STR_SIGN_IN_SERVER", "127.0.0.1:%d" % silent.getsockname()[1])
        t.fill(form, "STR_SIGN_IN_NUMBER", "7")
        t.fill(form, "STR_SIGN_IN_USER", "tour")
        t.fill(form, "STR_SIGN_IN_PASSWORD", "tour-password", "password text")
        o.wait("push button", t.s("STR_SIGN_IN"), within=form).click()
        bar = wait_for(lambda: next((d for d in o.app.children if d.roleName == "dialog" and d.showing and d != form
                                     and o.find("progress bar", within=d)), None), "the progress dialog")
        point_at(bar)
        return [form, bar]

    def close_progress(dialogs):
        form, bar = dialogs
        t.escape(bar, "the progress")
        t.escape(top_dialog(o, not_this=form), "the failure")  # the server could not be reached
        t.escape(form, "the sign-in form")

    # (name, title id, how to open: the dialogs it leaves open, innermost
    # last; how to close them when Escape on each in turn does not)
    tour = [
        ("note", "STR_TYPE_NOTE", lambda: t.keys("<Control><Shift>n")),
        ("task", "STR_TYPE_TASK", lambda: t.keys("<Control><Shift>t")),
        ("event", "STR_TYPE_EVENT", lambda: t.keys("<Control><Shift>e")),
        ("key", "STR_TYPE_KEY", lambda: t.keys("<Control><Shift>a")),
        ("contact", "STR_TYPE_CONTACT", lambda: t.keys("<Control><Shift>c")),
        ("password-generator", "STR_PASSWORD_TITLE", nested(lambda: t.keys("<Control><Shift>a"), "STR_GENERATE")),
        ("set-tags", "STR_TAGS", lambda: t.popup("Shopping list", "STR_SET_TAGS")),
        ("history", "STR_HISTORY", lambda: t.popup("Call the plumber again", "STR_HISTORY")),
        ("delete", "STR_APP_NAME", lambda: t.popup("Shopping list", "STR_DELETE")),
        ("search", "STR_SEARCH", lambda: t.keys("<Control>f")),
        ("options", "STR_OPTIONS", lambda: t.menu("STR_MENU_EDIT", "STR_OPTIONS_MENU")),
        ("repositories", "STR_REPOSITORIES", manager),
        ("new-repository", "STR_NEW_REPOSITORY", nested(manager, "STR_NEW_REPOSITORY_BUTTON")),
        ("account", "STR_SYNC_ACCOUNT", lambda: t.menu("STR_MENU_FILE", "STR_SYNC_ACCOUNT_MENU")),
        ("master-password", "STR_CHANGE_MASTER_PASSWORD", lambda: t.menu("STR_MENU_FILE", "STR_CHANGE_MASTER_PASSWORD_MENU")),
        ("about", "STR_ABOUT_TITLE", lambda: t.menu("STR_MENU_HELP", "STR_ABOUT")),
        ("progress", "STR_SYNC_ACCOUNT", progress, close_progress),
    ]
    for name, title_id, open_dialogs, *close in tour:
        opened = open_dialogs()
        opened = opened if isinstance(opened, list) else [opened]
        t.shoot(name, opened[-1], title_id)
        if close:
            close[0](opened)
            continue
        for d in reversed(opened):
            t.escape(d, name)
    silent.close()
    t.frame()
    rawinput.keyCombo("<Control>q")
    check(o.wait_exit() == 0, "exit status")
    check(not t.wrong_titles, "titles in %s: %s" % (lang, "; ".join(t.wrong_titles)))
    check((cli("items"), cli("repos")) == before, "nothing stored by the tour")
    check(not cli("account", "show", check_rc=False).strip(), "no account stored")


def choose_in_file_chooser(o, title, path):
    """Types the path into GTK's own file chooser (Ctrl+L) and accepts it."""
    dlg = o.wait("file chooser", title)
    time.sleep(0.5)
    rawinput.keyCombo("<Control>l")
    # Typed key by key, the location entry's completion eats characters: the
    # text is set whole, then accepted from the keyboard.
    entry = wait_for(lambda: next((t for t in dlg.findChildren(GenericPredicate(roleName="text"))
                                   if t.showing and t.focused), None), "the location entry")
    entry.text = path
    time.sleep(0.5)
    rawinput.pressKey("Return")
    wait_for(lambda: dlg.dead or not dlg.showing, "the chooser %r to close" % title)


def tag_menu_item(o, tags, tag_name, submenu, item):
    o.row(tags, tag_name).click(button=3)
    o.wait("menu", S(submenu)).click()
    o.wait("menu item", S(item)).click()


def journey_import_undo():
    """A real calendar and a real address book imported through GTK's own
    file chooser into a tag; each import is one undo step (the journal is
    emptied when the program ends, so the steps are taken in the window);
    the tool checks what is stored at the end."""
    _, work, _ = seed_profile()
    ics = os.path.join(SOURCE, "tests", "data", "corpora", "ics", "icalendar-example.ics")
    vcf = os.path.join(SOURCE, "tests", "data", "corpora", "vcf", "ezvcard-John_Doe_IPHONE.vcf")
    contact = "Mr. John Richter James Doe Sr."
    o = Ordika()
    unlock(o)
    tags, items = o.trees()
    tag_menu_item(o, tags, work[4], "STR_IMPORT", "STR_IMPORT_CALENDAR_MENU")
    choose_in_file_chooser(o, S("STR_IMPORT_CALENDAR"), ics)
    o.row(items, "New Year's Day", timeout=20)
    tag_menu_item(o, tags, work[4], "STR_IMPORT", "STR_IMPORT_CONTACTS_MENU")
    choose_in_file_chooser(o, S("STR_IMPORT_CONTACTS"), vcf)
    o.row(items, contact, timeout=20)

    # The list is rebuilt after an undo: its cells are looked up afresh, in
    # the tag (which the undo may leave).
    def shown(name):
        o.row(o.trees()[0], work[4]).click()
        return [c for c in o.trees()[1].findChildren(GenericPredicate(roleName="table cell"))
                if c.name == name and c.showing]

    def step(keys, what, present, absent):
        rawinput.keyCombo(keys)
        wait_for(lambda: all(shown(n) for n in present) and not any(shown(n) for n in absent), what)

    step("<Control>z", "the address book undone in one step", ["New Year's Day", "Shopping list"], [contact])
    step("<Control>z", "the calendar undone in one step", ["Shopping list"], ["New Year's Day", "Orthodox Christmas"])
    step("<Control>y", "the calendar redone", ["New Year's Day", "Orthodox Christmas"], [contact])
    rawinput.keyCombo("<Control>q")
    check(o.wait_exit() == 0, "exit status")
    listed = cli("items", "tag:" + work[0])
    check("New Year's Day" in listed and "Orthodox Christmas" in listed and "International Women's Day" in listed,
          "the calendar stored: %s" % listed)
    check("John Richter" not in listed, "the address book not stored")
    check("Shopping list" in listed and "Call the plumber" in listed, "the earlier items stay")

def has_focus(node):
    import pyatspi
    return node.getState().contains(pyatspi.STATE_FOCUSED)


def point_at(node):
    """The test's X server runs no window manager: the keyboard goes to the
    window under the pointer, so the pointer rests on the window that a
    window manager would have focused. Nothing is clicked."""
    x, y = node.position
    w, h = node.size
    rawinput.absoluteMotion(x + w // 2, y + min(h // 2, 20))
    time.sleep(0.3)


def top_dialog(o, not_this=None):
    """The dialog now on top (an editor or a question)."""
    def find():
        for d in o.app.children:
            if d.roleName in ("dialog", "alert") and d.showing and d != not_this:
                return d
        return None
    d = wait_for(find, "a dialog")
    point_at(d)
    return d


def item_line(title, env=None):
    """The tool's line for the item with the title, or None."""
    for line in cli("items", env=env).splitlines():
        parts = line.split("\t")
        if len(parts) >= 5 and parts[4] == title:
            return parts
    return None


def keyboard_to_tag(o, tag, title):
    """Keyboard only: the master password, the list focused at start, Tab to
    the tag tree and its type-ahead to the tag, whose item `title` is then
    listed. Returns the tag tree and the item list."""
    point_at(o.prompt("STR_ENTER_MASTER_PASSWORD"))
    rawinput.typeText(PASSWORD)               # the entry has the focus
    rawinput.pressKey("Return")
    point_at(o.main_frame())
    tags, items = o.trees()
    wait_for(lambda: has_focus(items), "the item list focused at start")
    rawinput.pressKey("Tab")
    wait_for(lambda: has_focus(tags), "Tab to the tag tree")
    rawinput.typeText(tag)
    rawinput.pressKey("Escape")
    o.row(items, title)
    return tags, items


def journey_keyboard():
    """Keyboard only, from the password to the undo: reach a tag with the
    tree's type-ahead, write a note, change it and keep editing after Escape,
    save, delete it and take the delete back. The tool checks each store."""
    _, work, _ = seed_profile()
    o = Ordika()
    tags, items = keyboard_to_tag(o, work[4], "Shopping list")

    rawinput.keyCombo("<Control><Shift>n")
    editor = top_dialog(o)
    rawinput.typeText("Keyboard note")        # the title has the focus
    body = o.wait("text", S("STR_NOTES"), within=editor)
    for _ in range(4):                        # past the two check boxes
        rawinput.pressKey("Tab")
        time.sleep(0.2)
        if has_focus(body):
            break
    check(has_focus(body), "Tab reaches the body")
    rawinput.typeText("typed without a mouse")
    rawinput.keyCombo("<Control><Shift>Tab")  # out of the text, back to the title
    rawinput.pressKey("Return")               # the default: save
    wait_for(lambda: editor.dead or not editor.showing, "the editor closed by Return")
    point_at(o.main_frame())
    line = wait_for(lambda: item_line("Keyboard note"), "the note stored")
    check("typed without a mouse" in cli("show", line[0]), "the note's body stored")

    # Enter on the row edits it; Escape with a change asks, and Escape on the
    # question keeps editing with everything typed.
    if not has_focus(items):
        rawinput.pressKey("Tab")
    wait_for(lambda: has_focus(items), "the item list focused")
    rawinput.typeText("Keyboard note")
    rawinput.pressKey("Escape")
    wait_for(lambda: o.detail().name == "Keyboard note", "the note selected by type-ahead")
    rawinput.pressKey("Return")
    editor = top_dialog(o)
    rawinput.keyCombo("<Control>a")
    rawinput.typeText("Keyboard note, edited")
    rawinput.pressKey("Escape")
    question = top_dialog(o, not_this=editor)
    rawinput.pressKey("Escape")
    wait_for(lambda: question.dead or not question.showing, "the question answered by Escape")
    check(editor.showing, "still editing after the question")
    point_at(editor)
    rawinput.pressKey("Return")
    wait_for(lambda: editor.dead or not editor.showing, "the edit saved by Return")
    point_at(o.main_frame())
    wait_for(lambda: item_line("Keyboard note, edited"), "the new title stored")

    # Delete asks; Return takes the safe answer and keeps the note, the
    # Delete button deletes it, and Ctrl+Z brings it back.
    wait_for(lambda: has_focus(items), "the item list focused after the editor")
    wait_for(lambda: o.detail().name == "Keyboard note, edited", "the edited note selected")
    rawinput.pressKey("Delete")
    question = top_dialog(o)
    rawinput.pressKey("Return")
    wait_for(lambda: question.dead or not question.showing, "the delete question answered")
    point_at(o.main_frame())
    check(item_line("Keyboard note, edited"), "Return keeps the note")
    wait_for(lambda: has_focus(items), "the item list focused after the question")
    rawinput.pressKey("Delete")
    question = top_dialog(o)
    tab_to(o.wait("push button", S("STR_DELETE"), within=question), "the delete answer")
    rawinput.pressKey("Return")
    wait_for(lambda: question.dead or not question.showing, "the delete question answered")
    point_at(o.main_frame())
    wait_for(lambda: item_line("Keyboard note, edited") is None, "the note deleted")
    rawinput.keyCombo("<Control>z")
    wait_for(lambda: item_line("Keyboard note, edited"), "the delete undone")
    rawinput.keyCombo("<Control>q")
    check(o.wait_exit() == 0, "exit status")
    check(item_line("Keyboard note, edited") and item_line("Shopping list"), "everything stored after the end")


def journey_keyboard_kinds():
    """Keyboard only: one item of each kind from its accelerator, saved with
    Return from its first field; an unchanged editor closes on Escape without
    a question; the search finds an item by its body text."""
    _, work, _ = seed_profile()
    o = Ordika()
    tags, items = keyboard_to_tag(o, work[4], "Shopping list")
    kinds = [("<Control><Shift>t", "Keyboard task", "task"), ("<Control><Shift>e", "Keyboard event", "event"),
             ("<Control><Shift>a", "Keyboard key", "key"), ("<Control><Shift>c", "Keyboard", "contact")]
    for keys, title, kind in kinds:
        rawinput.keyCombo(keys)
        editor = top_dialog(o)
        rawinput.typeText(title)
        rawinput.pressKey("Return")
        wait_for(lambda: editor.dead or not editor.showing, "the editor for %r saved by Return" % title)
        point_at(o.main_frame())
        line = wait_for(lambda: next((l for l in cli("items").splitlines()
                                      if l.split("\t")[1:2] == [kind] and title in l), None),
                        "%r stored as kind %s" % (title, kind))
        check(line, title)

    # Unchanged: Escape closes at once, no question, nothing stored.
    before = cli("items")
    rawinput.keyCombo("<Control><Shift>n")
    editor = top_dialog(o)
    rawinput.pressKey("Escape")
    wait_for(lambda: editor.dead or not editor.showing, "the unchanged editor closed by Escape")
    time.sleep(0.5)
    check(not [d for d in o.app.children if d.roleName in ("dialog", "alert") and d.showing], "no question")
    point_at(o.main_frame())
    check(cli("items") == before, "nothing stored by the cancel")

    # The search finds the seeded note by a word of its body.
    rawinput.keyCombo("<Control>f")
    search = top_dialog(o)
    rawinput.typeText("olives")
    rawinput.pressKey("Return")
    wait_for(lambda: search.dead or not search.showing, "the search run by Return")
    point_at(o.main_frame())
    o.row(o.trees()[1], "Shopping list")
    check(not [c for c in o.trees()[1].findChildren(GenericPredicate(roleName="table cell"))
               if c.showing and c.name == "Call the plumber"], "only the matching item listed")
    rawinput.keyCombo("<Control>q")
    check(o.wait_exit() == 0, "exit status")


def tab_to(node, what, limit=30):
    for _ in range(limit):
        if has_focus(node):
            return
        rawinput.pressKey("Tab")
        time.sleep(0.15)
    check(has_focus(node), "Tab reaches %s" % what)


def menu_to(o, name, limit=20):
    """Down through the open popup menu until the item named is selected."""
    import pyatspi
    item = o.wait("menu item", name)
    for _ in range(limit):
        rawinput.pressKey("Down")
        time.sleep(0.15)
        if item.getState().contains(pyatspi.STATE_SELECTED):
            return item
    raise Failure("the menu item %r not reached" % name)


def journey_keyboard_tags():
    """Keyboard only: every item of a tag selected, tagged with a second tag
    at once through the popup menu and the set-tags dialog."""
    _, work, _ = seed_profile()
    personal = next(t for t in (l.split("\t") for l in cli("tags").splitlines())
                    if t[3] == "1" and t[0] != work[0] and t[4] == "Personal")
    o = Ordika()
    tags, items = keyboard_to_tag(o, work[4], "Shopping list")
    rawinput.pressKey("Tab")
    wait_for(lambda: has_focus(items), "Tab to the item list")
    rawinput.keyCombo("<Control>a")
    rawinput.keyCombo("<Shift>F10")
    menu_to(o, S("STR_SET_TAGS"))
    rawinput.pressKey("Return")
    dialog = top_dialog(o)
    box = o.wait("check box", "Personal", within=dialog)
    tab_to(box, "the Personal tag")
    rawinput.pressKey("space")
    tab_to(o.wait("push button", S("STR_ACCEPT"), within=dialog), "the OK button")
    rawinput.pressKey("Return")
    wait_for(lambda: dialog.dead or not dialog.showing, "the set-tags dialog closed")
    point_at(o.main_frame())
    listed = wait_for(lambda: (lambda t: t if all(n in t for n in ("Shopping list", "Webmail", "Call the plumber"))
                               else None)(cli("items", "tag:" + personal[0])), "all three tagged Personal")
    check("Shopping list" in cli("items", "tag:" + work[0]), "still under Work")
    rawinput.keyCombo("<Control>q")
    check(o.wait_exit() == 0, "exit status")
    check(listed, "tagged")


def journey_keyboard_history():
    """Keyboard only: the history of an edited note opened from the popup
    menu, its older version deleted after the question."""
    _, work, ids = seed_profile()
    cli("edit", ids["note"], "--title", "Shopping list, revised", "--keep-history")
    check("Shopping list" in cli("history", ids["note"]), "a stored version to start with")
    o = Ordika()
    tags, items = keyboard_to_tag(o, work[4], "Shopping list, revised")
    rawinput.pressKey("Tab")
    wait_for(lambda: has_focus(items), "Tab to the item list")
    rawinput.typeText("Shopping list, revised")
    rawinput.pressKey("Escape")
    wait_for(lambda: o.detail().name == "Shopping list, revised", "the note selected by type-ahead")
    rawinput.keyCombo("<Shift>F10")
    menu_to(o, S("STR_HISTORY"))
    rawinput.pressKey("Return")
    dialog = top_dialog(o)
    versions = o.wait("table", within=dialog)
    tab_to(versions, "the list of versions")
    rawinput.pressKey("Home")
    o.row(versions, "Shopping list")
    tab_to(o.wait("push button", S("STR_DELETE"), within=dialog), "the delete button")
    rawinput.pressKey("Return")
    question = top_dialog(o, not_this=dialog)
    # Enter alone keeps the version: the safe answer is the default.
    tab_to(o.wait("push button", S("STR_DELETE"), within=question), "the delete answer")
    rawinput.pressKey("Return")
    wait_for(lambda: question.dead or not question.showing, "the question answered")
    point_at(dialog)
    wait_for(lambda: "Shopping list" not in cli("history", ids["note"]), "the version deleted")
    rawinput.pressKey("Escape")
    wait_for(lambda: dialog.dead or not dialog.showing, "the history closed")
    point_at(o.main_frame())
    rawinput.keyCombo("<Control>q")
    check(o.wait_exit() == 0, "exit status")
    check("Shopping list, revised" in cli("items", "tag:" + work[0]), "the note itself stays")


# --- The account server ------------------------------------------------------

ACCOUNT_PASSWORD = "Alice123pw"


class Server:
    """An ordika-server on a free port of 127.0.0.1 with one account."""

    def __init__(self):
        binary = os.environ.get("ORDIKA_SERVER_BIN", "")
        if not binary:
            print("e2e: no ordika-server given")
            sys.exit(77)
        self.binary = binary
        self.data = os.path.join(HOME, "server")
        os.makedirs(self.data, exist_ok=True)
        env = dict(os.environ, ORDIKA_ACCOUNT_PASSWORD=ACCOUNT_PASSWORD)
        r = subprocess.run([binary, "useradd", "alice", "--data", self.data], env=env, capture_output=True,
                           text=True, timeout=30)
        check(r.returncode == 0 and r.stdout.strip(), "useradd: %s" % r.stderr)
        self.number = r.stdout.strip()
        import socket
        # A port found free can be taken before the server binds it: the
        # server then ends, and another port is tried.
        for _ in range(5):
            with socket.socket() as s:
                s.bind(("127.0.0.1", 0))
                port = s.getsockname()[1]
            proc = SESSION.spawn([binary, "serve", "--listen", "127.0.0.1:%d" % port, "--data", self.data])

            def up():
                if proc.poll() is not None:
                    return "ended"
                with socket.socket() as c:
                    return "up" if c.connect_ex(("127.0.0.1", port)) == 0 else None
            state = wait_for(up, "the server listening", timeout=10)
            time.sleep(0.3)
            if state == "up" and proc.poll() is None:
                self.host = "127.0.0.1:%d" % port
                return
        raise Failure("the server did not start")

    def users(self):
        """The server's own records: NUMBER, NAME, REPOSITORY COUNT per account."""
        r = subprocess.run([self.binary, "users", "--data", self.data], capture_output=True, text=True, timeout=30)
        check(r.returncode == 0, "ordika-server users: %s" % r.stderr)
        return [l.split("\t") for l in r.stdout.splitlines()]

    def account(self, profile=None):
        """Stores the account in a profile through the tool."""
        cli(*((["--profile", profile] if profile else []) + ["account", "set", self.number, "alice", self.host]),
            env={"ORDIKA_ACCOUNT_PASSWORD": ACCOUNT_PASSWORD})


def menu_command(o, menu, item):
    point_at(o.main_frame())
    o.wait("menu", S(menu)).click()
    o.wait("menu item", S(item)).click()


def answer(o, dlg, button):
    """Presses a button of a dialog with the pointer and waits for it to go."""
    o.wait("push button", S(button), within=dlg).click()
    wait_for(lambda: dlg.dead or not dlg.showing, "the dialog answered by %r" % S(button))


def message_with(o, text, timeout=30, prefix=False):
    """The message box showing the text (or a text starting with it), with
    the pointer on it."""
    def shows(d):
        if not prefix:
            return o.find("label", text, within=d)
        return any(l.showing and (l.name or "").startswith(text)
                   for l in d.findChildren(GenericPredicate(roleName="label")))

    def find():
        for d in o.app.children:
            if d.roleName in ("dialog", "alert") and d.showing and shows(d):
                return d
        return None
    d = wait_for(find, "the message %r" % text, timeout)
    point_at(d)
    return d


def fill_entry(o, dlg, name, text, role="text"):
    entry = o.wait(role, name, within=dlg)
    entry.click()
    rawinput.keyCombo("<Control>a")
    rawinput.typeText(text)
    # A password entry shows only as many bullets as there are characters.
    wait_for(lambda: entry.text == text or (role != "text" and len(entry.text or "") == len(text)),
             "%r typed into %r" % (text, name))


def journey_sign_in():
    """A fresh profile signs in to the sync account through the account
    form, after an unreachable server and a refused password; the tool reads
    the stored account; the same command then signs out."""
    server = Server()
    o = Ordika()
    o.type_password(PASSWORD, "STR_CHOOSE_MASTER_PASSWORD")
    o.type_password(PASSWORD, "STR_REPEAT_MASTER_PASSWORD")
    o.main_frame()
    menu_command(o, "STR_MENU_FILE", "STR_SYNC_ACCOUNT_MENU")
    form = top_dialog(o)
    ok = o.wait("push button", S("STR_SIGN_IN"), within=form)
    check(not ok.sensitive, "OK waits for the form")
    # A server that cannot be reached stores nothing.
    fill_entry(o, form, S("STR_SIGN_IN_SERVER"), "127.0.0.1:1")
    fill_entry(o, form, S("STR_SIGN_IN_NUMBER"), server.number)
    fill_entry(o, form, S("STR_SIGN_IN_USER"), "alice")
    fill_entry(o, form, S("STR_SIGN_IN_PASSWORD"), ACCOUNT_PASSWORD, "password text")
    wait_for(lambda: ok.sensitive, "OK sensitive once the form is filled")
    ok.click()
    answer(o, message_with(o, S("STR_SIGN_IN_UNREACHABLE").split("%s")[0], prefix=True), "STR_OK")
    check(not cli("account", "show", check_rc=False).strip(), "nothing stored when unreachable")
    point_at(form)
    fill_entry(o, form, S("STR_SIGN_IN_SERVER"), server.host)
    # A wrong password is refused and stores nothing.
    fill_entry(o, form, S("STR_SIGN_IN_PASSWORD"), "not the password", "password text")
    ok.click()
    refused = message_with(o, S("STR_SIGN_IN_REFUSED"))
    answer(o, refused, "STR_OK")
    check(not cli("account", "show", check_rc=False).strip(), "nothing stored after a refusal")
    point_at(form)
    fill_entry(o, form, S("STR_SIGN_IN_PASSWORD"), ACCOUNT_PASSWORD, "password text")
    ok.click()
    answer(o, message_with(o, S("STR_SIGN_IN_DONE")), "STR_OK")
    wait_for(lambda: form.dead or not form.showing, "the form closed")
    check(refused is not None, "refused")
    shown = cli("account", "show").strip()
    check(shown == "%s\talice\t%s" % (server.number, server.host), "the stored account: %r" % shown)
    # Signed in, the same command asks for the master password and offers
    # to sign out, after a question.
    menu_command(o, "STR_MENU_FILE", "STR_SYNC_ACCOUNT_MENU")
    point_at(o.prompt("STR_ENTER_MASTER_PASSWORD"))
    o.type_password(PASSWORD)
    account = wait_for(lambda: next((d for d in o.app.children if d.roleName == "dialog" and d.showing
                                     and o.find("push button", S("STR_SIGN_OUT"), within=d)), None),
                       "the account dialog")
    point_at(account)
    o.wait("push button", S("STR_SIGN_OUT"), within=account).click()
    answer(o, message_with(o, S("STR_SIGN_OUT_QUESTION")), "STR_SIGN_OUT")
    wait_for(lambda: account.dead or not account.showing, "the account dialog closed")
    check(not cli("account", "show", check_rc=False).strip(), "signed out")
    point_at(o.main_frame())
    rawinput.keyCombo("<Control>q")
    check(o.wait_exit() == 0, "exit status")
    check(ACCOUNT_PASSWORD not in log_text(), "the account password stays out of the log")

def repo_row_menu(o, manager, name, item):
    o.row(o.wait("table", within=manager), name).click(button=3)
    o.wait("menu item", S(item)).click()


def edit_title(o, work, old, new, env=None):
    """Opens the item's editor from its row with Return and saves a new title
    (env: the tool's environment for the check)."""
    frame = o.main_frame()
    point_at(frame)
    tags, items = o.trees()
    o.row(tags, work[4]).click()
    o.row(items, old).click()
    o.shown(old)
    rawinput.pressKey("Return")
    editor = top_dialog(o)
    rawinput.keyCombo("<Control>a")
    rawinput.typeText(new)
    rawinput.pressKey("Return")
    wait_for(lambda: editor.dead or not editor.showing, "the editor saved")
    point_at(o.main_frame())
    wait_for(lambda: item_line(new, env), "%r stored" % new)


def sync_with_conflict(o, button):
    """Synchronise All; the conflict is answered with the button."""
    point_at(o.main_frame())
    rawinput.keyCombo("<Control><Shift>s")
    conflict = wait_for(lambda: o.find("dialog", S("STR_SYNC_CONFLICT")), "the conflict dialog", timeout=40)
    point_at(conflict)
    o.wait("label", S("STR_THIS_COMPUTER"), within=conflict)
    answer(o, conflict, button)
    # A sync that succeeded closes its dialog by itself.
    o.gone("dialog", S("STR_SYNCHRONISE"), timeout=40)
    point_at(o.main_frame())


def sync_cancelled_at_conflict(o):
    """Synchronise All; the conflict dialog is cancelled, which fails the
    sync: its dialog stays to say so until closed."""
    point_at(o.main_frame())
    rawinput.keyCombo("<Control><Shift>s")
    conflict = wait_for(lambda: o.find("dialog", S("STR_SYNC_CONFLICT")), "the conflict dialog", timeout=40)
    point_at(conflict)
    answer(o, conflict, "STR_CANCEL")
    run = message_with(o, S("STR_SYNC_FAILED").split("%s")[0], prefix=True)
    answer(o, run, "STR_CLOSE")
    point_at(o.main_frame())


def journey_put_sync_conflict():
    """The default repository put on the server from the repository manager,
    cloned on a second device by the tool; the same note changed on both,
    and the conflict settled in the window's dialog one way, then the other."""
    server = Server()
    _, work, ids = seed_profile()
    server.account()
    o = Ordika()
    unlock(o)
    menu_command(o, "STR_MENU_FILE", "STR_REPOSITORIES")
    manager = top_dialog(o)
    repo_row_menu(o, manager, S("STR_DEFAULT_REPO_NAME"), "STR_UPLOAD_TO_SERVER")
    answer(o, message_with(o, S("STR_MSG_REPO_ON_SERVER")), "STR_OK")
    point_at(manager)
    server_id = cli("repos").splitlines()[0].split("\t")[3]
    check(server_id and server_id in cli("server", "ls"), "the repository on the server: %r" % server_id)
    check(server.users() == [[server.number, "alice", "1"]], "the server's records: %r" % server.users())
    o.row(o.wait("table", within=manager), server_id)
    # The repository password, as the user reads it for the other device.
    repo_row_menu(o, manager, S("STR_DEFAULT_REPO_NAME"), "STR_SHOW_PASSWORD")
    shown = wait_for(lambda: o.find("dialog", S("STR_PASSWORD_TITLE")), "the repository password")
    point_at(shown)
    labels = [l.name for l in shown.findChildren(GenericPredicate(roleName="label"))
              if l.showing and l.name and l.name not in (S("STR_COPY"), S("STR_CLOSE"))]
    check(len(labels) == 1, "one password shown: %d" % len(labels))
    answer(o, shown, "STR_CLOSE")
    point_at(manager)
    answer(o, manager, "STR_CLOSE")

    laptop = ("--profile", "laptop")
    cli(*laptop, "init")
    server.account("laptop")
    cli(*laptop, "server", "clone", server_id, env={"ORDIKA_REPO_PASSWORD": labels[0]})

    def laptop_title():
        for line in cli(*laptop, "items").splitlines():
            if line.split("\t")[0] == ids["note"]:
                return line.split("\t")[4]
        return None
    check(laptop_title() == "Shopping list", "the note cloned: %r" % laptop_title())

    # The server's version wins: the window takes the laptop's title.
    cli(*laptop, "edit", ids["note"], "--title", "Shopping list, laptop")
    cli(*laptop, "sync")
    edit_title(o, work, "Shopping list", "Shopping list, desktop")
    # Cancelled, the conflict changes nothing on either side.
    sync_cancelled_at_conflict(o)
    check(item_line("Shopping list, desktop"), "the local title kept after the cancel")
    cli(*laptop, "sync")
    check(laptop_title() == "Shopping list, laptop", "the server unchanged by the cancel: %r" % laptop_title())
    sync_with_conflict(o, "STR_KEEP_SERVER_VERSION")
    wait_for(lambda: item_line("Shopping list, laptop"), "the server's title taken")
    check(item_line("Shopping list, desktop") is None, "the local title gone")
    cli(*laptop, "sync")
    check(laptop_title() == "Shopping list, laptop", "the laptop keeps its title: %r" % laptop_title())

    # This computer's version wins: the laptop receives it.
    cli(*laptop, "edit", ids["note"], "--title", "Shopping list, laptop again")
    cli(*laptop, "sync")
    edit_title(o, work, "Shopping list, laptop", "Shopping list, desktop again")
    sync_with_conflict(o, "STR_KEEP_LOCAL_VERSION")
    check(item_line("Shopping list, desktop again"), "the local title kept")
    cli(*laptop, "sync")
    check(laptop_title() == "Shopping list, desktop again", "the laptop receives it: %r" % laptop_title())
    rawinput.keyCombo("<Control>q")
    check(o.wait_exit() == 0, "exit status")
    check(item_line("Shopping list, desktop again") and item_line("Webmail"), "everything stored after the end")
class Relay:
    """A relay on 127.0.0.1 between the window and the server that runs
    another device's work before it passes a given connection on: that work
    then falls exactly between two requests of the window."""

    def __init__(self, upstream):
        import socket
        import threading
        host, port = upstream.rsplit(":", 1)
        self.upstream = (host, int(port))
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(16)
        self.host = "127.0.0.1:%d" % self.sock.getsockname()[1]
        self.lock = threading.Lock()
        self.count = 0
        self.active = 0
        self.hooks = {}
        self.failures = []
        threading.Thread(target=self.accept_loop, daemon=True).start()

    def arm(self, hooks):
        """Numbers the connections from 0 again; hooks maps a number to the
        work to run before that connection reaches the server."""
        with self.lock:
            self.count = 0
            self.hooks = dict(hooks)

    def idle(self):
        with self.lock:
            return self.active == 0

    def accept_loop(self):
        import socket
        import threading
        while True:
            client, _ = self.sock.accept()
            with self.lock:
                hook = self.hooks.pop(self.count, None)
                self.count += 1
                self.active += 1
            if hook:
                try:
                    hook()
                except Exception as e:  # reported by the journey
                    self.failures.append(e)
            up = socket.create_connection(self.upstream)
            threading.Thread(target=self.pipe, args=(client, up), daemon=True).start()

    def pipe(self, a, b):
        import select
        import socket
        peer = {a: b, b: a}
        try:
            while peer:
                ready, _, _ = select.select(list(peer), [], [], 30)
                if not ready:
                    break
                for s in ready:
                    data = s.recv(65536)
                    if data:
                        peer[s].sendall(data)
                        continue
                    try:
                        peer[s].shutdown(socket.SHUT_WR)
                    except OSError:
                        pass
                    del peer[s]
        except OSError:
            pass
        finally:
            a.close()
            b.close()
            with self.lock:
                self.active -= 1


def journey_sync_overtaken():
    """The window's sync is overtaken by the laptop between its "get list"
    and its "put sync": the dialog fetches the newer state, merges it, sends
    its own change and closes by itself, as the tool does. A repository
    cloned in the window then starts as one cloned by the tool: the same
    earlier versions, nothing to undo."""
    server = Server()
    relay = Relay(server.host)
    _, work, ids = seed_profile()
    cli("account", "set", server.number, "alice", relay.host, env={"ORDIKA_ACCOUNT_PASSWORD": ACCOUNT_PASSWORD})
    server_id = cli("server", "create", "0").strip()
    export = {"ORDIKA_EXPORT_PASSWORD": "Export123pw"}
    shared = os.path.join(HOME, "shared.repo")
    cli("repo-export", "0", shared, env=export)
    laptop = ("--profile", "laptop")
    cli(*laptop, "init")
    server.account("laptop")
    cli(*laptop, "repo-import", shared, env=export)

    def laptop_titles():
        return {l.split("\t")[0]: l.split("\t")[4] for l in cli(*laptop, "items").splitlines()}
    cli(*laptop, "edit", ids["task"], "--title", "Call the plumber, laptop")
    cli("edit", ids["note"], "--title", "Shopping list, desktop")

    o = Ordika()
    unlock(o)
    # The update check at start-up goes through the relay first.
    wait_for(lambda: relay.count >= 1 and relay.idle(), "the update check done")
    relay.arm({1: lambda: cli(*laptop, "sync")})  # before the window's "put sync"
    point_at(o.main_frame())
    rawinput.keyCombo("<Control><Shift>s")
    o.wait("dialog", S("STR_SYNCHRONISE"))
    o.gone("dialog", S("STR_SYNCHRONISE"), timeout=60)  # closed by itself: the sync succeeded
    check(not relay.failures, "the laptop's sync in between: %r" % relay.failures)
    check(relay.count == 5, "get list, put sync refused, get list, get sync, put sync: %d" % relay.count)
    wait_for(lambda: item_line("Call the plumber, laptop"), "the laptop's change merged")
    check(item_line("Shopping list, desktop"), "the local change kept")
    cli(*laptop, "sync")
    check(laptop_titles()[ids["note"]] == "Shopping list, desktop", "the laptop receives the window's change")

    # The laptop shares a second repository with an earlier version of its
    # note; the tablet clones it with the tool, the window from the file.
    cli(*laptop, "repo-add", "Travel")
    travel = next(t for t in (l.split("\t") for l in cli(*laptop, "tags").splitlines())
                  if t[3] == "0" and t[4] == "Travel")
    passport = cli(*laptop, "add", "note", travel[0], "--title", "Passport").strip()
    cli(*laptop, "edit", passport, "--title", "Passport, renewed", "--keep-history")
    cli(*laptop, "server", "create", travel[2])
    travel_file = os.path.join(HOME, "travel.repo")
    cli(*laptop, "repo-export", travel[2], travel_file, env=export)
    earlier = cli(*laptop, "history", passport)
    check(len(earlier.splitlines()) == 1, "one earlier version: %r" % earlier)
    tablet = ("--profile", "tablet")
    cli(*tablet, "init")
    server.account("tablet")
    cli(*tablet, "repo-import", travel_file, env=export)

    menu_command(o, "STR_MENU_FILE", "STR_REPOSITORIES")
    manager = top_dialog(o)
    o.wait("push button", S("STR_IMPORT"), within=manager).click()
    imp = top_dialog(o, not_this=manager)
    fill_entry(o, imp, S("STR_IMPORT"), travel_file)
    o.wait("push button", S("STR_IMPORT"), within=imp).click()
    o.type_password(export["ORDIKA_EXPORT_PASSWORD"], "STR_REPOSITORY_FILE")
    answer(o, message_with(o, S("STR_MSG_REPO_ADDED")), "STR_OK")
    wait_for(lambda: imp.dead or not imp.showing, "the import dialog closed")
    point_at(manager)
    answer(o, manager, "STR_CLOSE")
    rawinput.keyCombo("<Control>q")
    check(o.wait_exit() == 0, "exit status")
    for who in ((), tablet):
        index = next(l.split("\t")[0] for l in cli(*who, "repos").splitlines() if l.split("\t")[1] == "Travel")
        check(cli(*who, "history", passport) == earlier, "%r: the same earlier version" % (who,))
        undo = subprocess.run([CLI, *who, "undo", index], env=dict(os.environ, ORDIKA_PASSWORD=PASSWORD),
                              capture_output=True, text=True, timeout=60)
        check(undo.returncode == 1 and "nothing to undo" in undo.stderr, "%r: nothing to undo: %r" % (who, undo.stderr))


def expand_repos(o, tags, names):
    """With more than one repository the tree starts folded: each root is
    opened from the keyboard."""
    for name in names:
        o.row(tags, name).click()
        rawinput.pressKey("plus")
        time.sleep(0.3)


def calendar_in(tag_uuid):
    """(kind, list time, title) of each event and task under the tag."""
    return sorted((p[1], p[3], p[4]) for p in (l.split("\t") for l in cli("items", "tag:" + tag_uuid).splitlines())
                  if len(p) >= 5 and p[1] in ("event", "task"))


def journey_export_reimport():
    """A repository's calendar written through the save chooser and read
    into a tag of a second repository: the same events and tasks, at the
    same times, arrive there and nothing else does."""
    _, work, _ = seed_profile()
    cli("repo-add", "Archive")
    root = next(t for t in (l.split("\t") for l in cli("tags").splitlines()) if t[3] == "0" and t[4] == "Archive")
    target = cli("tag-add", root[0], "Old calendar").strip()
    cli("add", "event", work[0], "--title", "Dentist, upstairs; 2nd floor", "--due", "2031-03-04 09:30", "--end",
        "2031-03-04 10:15")
    cli("add", "event", work[0], "--title", "Team meeting", "--due", "2031-03-02 14:00", "--end",
        "2031-03-02 15:00", "--rrule", "FREQ=WEEKLY;BYDAY=MO")
    want = calendar_in(work[0])
    check(len(want) == 3 and not calendar_in(target), "two events and a task to start with: %r" % want)
    path = os.path.join(HOME, "exported calendar.ics")
    o = Ordika()
    unlock(o)
    tags, items = o.trees()
    expand_repos(o, tags, ["Archive", S("STR_DEFAULT_REPO_NAME")])
    tag_menu_item(o, tags, work[4], "STR_EXPORT", "STR_EXPORT_CALENDAR_MENU")
    choose_in_file_chooser(o, S("STR_EXPORT_CALENDAR"), path)
    wait_for(lambda: os.path.exists(path) and "END:VCALENDAR" in open(path).read(), "the calendar written")
    point_at(o.main_frame())
    tag_menu_item(o, tags, "Old calendar", "STR_IMPORT", "STR_IMPORT_CALENDAR_MENU")
    choose_in_file_chooser(o, S("STR_IMPORT_CALENDAR"), path)
    o.row(items, "Team meeting", timeout=20)
    o.row(items, "Dentist, upstairs; 2nd floor")
    rawinput.keyCombo("<Control>q")
    check(o.wait_exit() == 0, "exit status")
    got = calendar_in(target)
    check(got == want, "the same events and tasks: %r, %r" % (got, want))
    check(len(cli("items", "tag:" + target).splitlines()) == 3, "nothing but the calendar imported")
    check(calendar_in(work[0]) == want, "the exported tag unchanged")
    def detail(tag, title):
        return cli("show", next(l.split("\t")[0] for l in cli("items", "tag:" + tag).splitlines() if title in l))
    for title in ("Team meeting", "Dentist, upstairs; 2nd floor"):
        check(detail(target, title) == detail(work[0], title), "%r: start, end, reminder, recurrence" % title)

def journey_paste_between():
    """Items copied from the popup menu and pasted into a tag of a second
    repository arrive there whole; one Ctrl+Z takes the paste back."""
    _, work, ids = seed_profile()
    cli("repo-add", "Archive")
    root = next(t for t in (l.split("\t") for l in cli("tags").splitlines()) if t[3] == "0" and t[4] == "Archive")
    target = cli("tag-add", root[0], "Copies").strip()
    titles = ["Shopping list", "Webmail", "Call the plumber"]
    o = Ordika()
    unlock(o)
    tags, items = o.trees()
    expand_repos(o, tags, ["Archive", S("STR_DEFAULT_REPO_NAME")])
    o.row(tags, work[4]).click()
    o.row(items, "Shopping list").click()
    rawinput.keyCombo("<Control>a")
    o.row(items, "Webmail").click(button=3)
    o.wait("menu item", S("STR_MOVE_TO_TRASH"))
    o.wait("menu item", S("STR_COPY")).click()
    o.gone("menu item", S("STR_MOVE_TO_TRASH"))
    o.row(tags, "Copies").click(button=3)
    o.wait("menu item", S("STR_PASTE")).click()
    o.gone("menu item", S("STR_PASTE"))

    def in_target():
        return sorted(p[4] for p in (l.split("\t") for l in cli("items", "tag:" + target).splitlines()) if len(p) >= 5)
    wait_for(lambda: in_target() == sorted(titles), "the three items pasted")
    o.row(items, "Webmail")
    copies = {p[4]: p[0] for p in (l.split("\t") for l in cli("items", "tag:" + target).splitlines())}
    for kind, title in (("note", "Shopping list"), ("key", "Webmail"), ("task", "Call the plumber")):
        check(copies[title] != ids[kind], "%r is a copy, not the same item" % title)
        check(cli("show", copies[title]) == cli("show", ids[kind]), "%r copied whole" % title)
    point_at(o.main_frame())
    rawinput.keyCombo("<Control>z")
    wait_for(lambda: not in_target(), "the paste undone in one step")
    time.sleep(0.5)
    check(not in_target(), "nothing of the paste comes back")
    rawinput.keyCombo("<Control>q")
    check(o.wait_exit() == 0, "exit status")
    check(not in_target(), "the undo stored")
    left = cli("items", "tag:" + work[0])
    check(all(t in left for t in titles), "the originals stay: %s" % left)


def journey_move_due():
    """A task's due time moved through the popup menu: to the half hour at
    least 30 minutes on when it lies before, to a later day at the same hour
    and minute, and left alone by the half-hour entry when it lies after;
    Ctrl+Z puts the last move back."""
    _, work, ids = seed_profile()
    cli("edit", ids["task"], "--due", "2020-01-06 09:15")
    later = cli("add", "task", work[0], "--title", "Renew the passport", "--due", "2039-05-01 16:45").strip()

    def due(uuid):
        return next(p[3] for p in (l.split("\t") for l in cli("items").splitlines()) if p[0] == uuid)

    def move(title, entry):
        o.row(items, title).click()
        o.shown(title)
        o.row(items, title).click(button=3)
        o.wait("menu", S("STR_LATER")).click()
        o.wait("menu item", S(entry)).click()
        o.gone("menu item", S(entry))

    o = Ordika()
    unlock(o)
    tags, items = o.trees()
    o.row(tags, work[4]).click()
    start = time.time()
    move("Call the plumber", "STR_TODAY")
    half = wait_for(lambda: (lambda d: d if d != "2020-01-06 09:15" else None)(due(ids["task"])),
                    "the due on the next half hour")
    t = time.mktime(time.strptime(half, "%Y-%m-%d %H:%M"))
    check(half[-2:] in ("00", "30") and start + 1800 - 60 < t <= time.time() + 3600,
          "the half hour at least 30 minutes on: %r" % half)

    days = [time.strftime("%Y-%m-%d", time.localtime(time.time() + 2 * 86400))]
    move("Call the plumber", "STR_IN_2_DAYS")
    days.append(time.strftime("%Y-%m-%d", time.localtime(time.time() + 2 * 86400)))
    moved = wait_for(lambda: (lambda d: d if d != half else None)(due(ids["task"])), "the due two days on")
    check(moved in [d + half[10:] for d in days], "two days on at %s: %r" % (half[11:], moved))

    move("Renew the passport", "STR_TODAY")
    time.sleep(1.0)
    check(due(later) == "2039-05-01 16:45", "a later due stays where it is: %r" % due(later))
    move("Renew the passport", "STR_TOMORROW")
    wait_for(lambda: due(later) != "2039-05-01 16:45", "the later due moved to tomorrow")
    tomorrow = [time.strftime("%Y-%m-%d", time.localtime(time.time() + d)) for d in (86400, 86400 - 120)]
    check(due(later) in [d + " 16:45" for d in tomorrow], "tomorrow at 16:45: %r" % due(later))

    point_at(o.main_frame())
    rawinput.keyCombo("<Control>z")
    wait_for(lambda: due(later) == "2039-05-01 16:45", "the move undone")
    check(due(ids["task"]) == moved, "the other task keeps its move")
    rawinput.keyCombo("<Control>q")
    check(o.wait_exit() == 0, "exit status")
    check(due(later) == "2039-05-01 16:45" and due(ids["task"]) == moved, "the dues stored")


# --- Passwords and options ---------------------------------------------------

NEW_PASSWORD = "Fresh7Lantern7Orbit"


def opens_with(password):
    """The tool opens the profile with this master password."""
    r = subprocess.run([CLI, "items"], env=dict(os.environ, ORDIKA_PASSWORD=password), capture_output=True,
                       text=True, timeout=60)
    return r.returncode == 0


def master_password_dialog(o, current, new, repeat):
    """The change dialog from the File menu with its three fields filled."""
    menu_command(o, "STR_MENU_FILE", "STR_CHANGE_MASTER_PASSWORD_MENU")
    dlg = top_dialog(o)
    fill_entry(o, dlg, S("STR_CURRENT_PASSWORD"), current, "password text")
    fill_entry(o, dlg, S("STR_NEW_PASSWORD"), new, "password text")
    fill_entry(o, dlg, S("STR_REPEAT_NEW_PASSWORD"), repeat, "password text")
    return dlg


def journey_master_password():
    """The master password changed in one dialog from the File menu: a wrong
    current password is said and changes nothing, a weak or differing new
    password keeps Change Password insensitive; the real change holds after a
    restart, where the old password is refused and everything is still
    there."""
    _, work, ids = seed_profile()
    o = Ordika()
    unlock(o)
    dlg = master_password_dialog(o, "not the password", NEW_PASSWORD, NEW_PASSWORD)
    rawinput.pressKey("Return")
    answer(o, message_with(o, S("STR_MSG_WRONG_PASSWORD")), "STR_OK")
    check(dlg.showing, "the dialog stays after a wrong current password")
    answer(o, dlg, "STR_CANCEL")
    check(opens_with(PASSWORD) and not opens_with(NEW_PASSWORD), "a wrong current password changes nothing")

    dlg = master_password_dialog(o, PASSWORD, "short", "short")
    check(not o.find("push button", S("STR_CHANGE_PASSWORD"), within=dlg).sensitive, "a weak password refused")
    fill_entry(o, dlg, S("STR_NEW_PASSWORD"), NEW_PASSWORD, "password text")
    fill_entry(o, dlg, S("STR_REPEAT_NEW_PASSWORD"), NEW_PASSWORD + "x", "password text")
    o.wait("label", S("STR_MSG_PASSWORDS_DIFFER"), within=dlg)
    check(not o.find("push button", S("STR_CHANGE_PASSWORD"), within=dlg).sensitive, "a differing repetition refused")
    answer(o, dlg, "STR_CANCEL")
    check(opens_with(PASSWORD) and not opens_with(NEW_PASSWORD), "a differing confirmation changes nothing")

    menu_command(o, "STR_MENU_FILE", "STR_REPOSITORIES")
    manager = top_dialog(o)
    repo_pw = shown_repo_password(o, manager, S("STR_DEFAULT_REPO_NAME"))
    answer(o, manager, "STR_CLOSE")
    dlg = master_password_dialog(o, PASSWORD, NEW_PASSWORD, NEW_PASSWORD)
    rawinput.pressKey("Return")
    wait_for(lambda: dlg.dead or not dlg.showing, "the change dialog closed by Return")
    point_at(o.main_frame())
    wait_for(lambda: opens_with(NEW_PASSWORD), "the new master password stored")
    check(not opens_with(PASSWORD), "the old master password refused by the tool")

    # In the same run: the new password is the current one, the repository
    # keeps its password and the window keeps storing.
    answer(o, master_password_dialog(o, NEW_PASSWORD, "", ""), "STR_CANCEL")
    menu_command(o, "STR_MENU_FILE", "STR_REPOSITORIES")
    manager = top_dialog(o)
    check(shown_repo_password(o, manager, S("STR_DEFAULT_REPO_NAME")) == repo_pw, "the repository password kept")
    answer(o, manager, "STR_CLOSE")
    new = {"ORDIKA_PASSWORD": NEW_PASSWORD}
    edit_title(o, work, "Call the plumber", "Call the plumber today", env=new)
    rawinput.keyCombo("<Control>q")
    check(o.wait_exit() == 0, "exit status")

    o = Ordika()
    o.type_password(PASSWORD)
    box = o.wait("alert")
    o.wait("push button", S("STR_OK"), within=box).click()
    o.gone("alert")
    o.type_password(NEW_PASSWORD)
    check_reopened(o, work, "Webmail", "mail.example.org", repo_pw)
    listed = cli("items", "tag:" + work[0], env=new)
    check(all(t in listed for t in ("Shopping list", "Webmail", "Call the plumber today")),
          "all items kept: %s" % listed)
    check("s3cret-Pa55".encode().hex() in cli("show", ids["key"], env=new), "the key's password readable")
    check("bread" in cli("show", ids["note"], env=new), "the note's body readable")
    check(PASSWORD not in log_text() and NEW_PASSWORD not in log_text(), "no password in the log")


NEW_REPO_PASSWORD = "Blue-Harbour-42-Quiet-Lamp"


def check_reopened(o, work, title, word, repo_pw):
    """After a restart: the seeded items listed in their tag, one of them
    readable, the manager showing the repository password; then quit."""
    tags, items = o.trees()
    o.row(tags, work[4]).click()
    for t in ("Shopping list", "Webmail", "Call the plumber today"):
        o.row(items, t)
    o.row(items, title).click()
    wait_for(lambda: word in o.detail_text(), "%s readable" % title)
    menu_command(o, "STR_MENU_FILE", "STR_REPOSITORIES")
    manager = top_dialog(o)
    check(shown_repo_password(o, manager, S("STR_DEFAULT_REPO_NAME")) == repo_pw,
          "the repository password after a restart")
    answer(o, manager, "STR_CLOSE")
    point_at(o.main_frame())
    rawinput.keyCombo("<Control>q")
    check(o.wait_exit() == 0, "exit status")


def shown_repo_password(o, manager, name):
    """The password the manager's "show password" displays for the row."""
    repo_row_menu(o, manager, name, "STR_SHOW_PASSWORD")
    shown = wait_for(lambda: o.find("dialog", S("STR_PASSWORD_TITLE")), "the repository password")
    point_at(shown)
    labels = [l.name for l in shown.findChildren(GenericPredicate(roleName="label"))
              if l.showing and l.name and l.name not in (S("STR_COPY"), S("STR_CLOSE"))]
    answer(o, shown, "STR_CLOSE")
    point_at(manager)
    check(len(labels) == 1, "one password shown: %d" % len(labels))
    return labels[0]


def undo_item(o):
    """The Edit menu's undo item, read without opening the menu."""
    undo = o.wait("menu", S("STR_MENU_EDIT")).children[0]
    check(undo.name == S("STR_UNDO"), "the first Edit item is undo: %r" % undo.name)
    return undo


def first_block(path):
    with open(os.path.join(path, "data"), "rb") as f:
        return f.read(1024)


def journey_repo_password():
    """A repository's password changed from its row in the repository
    manager: a weak one is not taken, "show password" then shows the new
    one, the window keeps working on the repository, and after a restart
    it still mounts under the new password with every item readable."""
    _, work, ids = seed_profile()
    path = cli("repos").splitlines()[0].split("\t")[2]
    o = Ordika()
    unlock(o)
    edit_title(o, work, "Call the plumber", "Call the plumber soon")
    wait_for(lambda: undo_item(o).sensitive, "undo sensitive after the edit")
    before = first_block(path)
    menu_command(o, "STR_MENU_FILE", "STR_REPOSITORIES")
    manager = top_dialog(o)
    old = shown_repo_password(o, manager, S("STR_DEFAULT_REPO_NAME"))
    check(old and old != NEW_REPO_PASSWORD, "a generated password to start with")

    # Cancelled, the dialog changes nothing.
    repo_row_menu(o, manager, S("STR_DEFAULT_REPO_NAME"), "STR_CHANGE_PASSWORD_MENU")
    dlg = wait_for(lambda: o.find("dialog", S("STR_CHANGE_PASSWORD")), "the change password dialog")
    point_at(dlg)
    fill_entry(o, dlg, S("STR_PASSWORD_TITLE"), NEW_REPO_PASSWORD, "password text")
    answer(o, dlg, "STR_CANCEL")
    point_at(manager)
    check(shown_repo_password(o, manager, S("STR_DEFAULT_REPO_NAME")) == old, "the password kept after a cancel")
    check(first_block(path) == before, "the file untouched by a cancel")

    repo_row_menu(o, manager, S("STR_DEFAULT_REPO_NAME"), "STR_CHANGE_PASSWORD_MENU")
    dlg = wait_for(lambda: o.find("dialog", S("STR_CHANGE_PASSWORD")), "the change password dialog")
    point_at(dlg)
    ok = o.wait("push button", S("STR_CHANGE_PASSWORD"), within=dlg)
    fill_entry(o, dlg, S("STR_PASSWORD_TITLE"), "Short-Pass-1", "password text")
    wait_for(lambda: not ok.sensitive, "Change Password insensitive for a weak password")
    fill_entry(o, dlg, S("STR_PASSWORD_TITLE"), NEW_REPO_PASSWORD, "password text")
    wait_for(lambda: ok.sensitive, "Change Password sensitive for a strong password")
    o.wait("push button", S("STR_SHOW"), within=dlg).click()
    entry = o.wait("text", S("STR_PASSWORD_TITLE"), within=dlg)
    check(entry.text == NEW_REPO_PASSWORD, "the typed password shown: %r" % entry.text)
    answer(o, dlg, "STR_CHANGE_PASSWORD")
    point_at(manager)
    check(shown_repo_password(o, manager, S("STR_DEFAULT_REPO_NAME")) == NEW_REPO_PASSWORD, "the new password shown")
    answer(o, manager, "STR_CLOSE")
    check(first_block(path) != before, "the file re-encoded")

    # The change began a new history: the edit before it is no undo step.
    point_at(o.main_frame())
    wait_for(lambda: not undo_item(o).sensitive, "undo insensitive after the change")
    rawinput.keyCombo("<Control>z")
    time.sleep(1.0)
    check(item_line("Call the plumber soon"), "Ctrl+Z takes nothing back after the change")
    check(not [d for d in o.app.children if d.roleName in ("dialog", "alert") and d.showing], "no message")

    # The window remounted the repository: it lists and stores as before.
    edit_title(o, work, "Call the plumber soon", "Call the plumber today")
    rawinput.keyCombo("<Control>q")
    check(o.wait_exit() == 0, "exit status")

    o = Ordika()
    unlock(o)
    check_reopened(o, work, "Shopping list", "bread", NEW_REPO_PASSWORD)
    check(cli("repos").splitlines()[0].split("\t")[4] == "em", "enabled and mounted: %r" % cli("repos"))
    listed = cli("items", "tag:" + work[0])
    check(all(t in listed for t in ("Shopping list", "Webmail", "Call the plumber today")), "all items: %s" % listed)
    check("s3cret-Pa55".encode().hex() in cli("show", ids["key"]), "the key's password readable")
    check("bread" in cli("show", ids["note"]), "the note's body readable")
    check(NEW_REPO_PASSWORD not in log_text() and old not in log_text(), "no repository password in the log")


# The menu bar: each menu's label and its items' labels, separators left out
# (completed tasks shown and hidden repositories not: the default labels of
# their toggles).
MENU_BAR = [
    ("STR_MENU_FILE", ["STR_CHECK_FOR_UPDATES", "STR_SYNC_ACCOUNT_MENU", "STR_CHANGE_MASTER_PASSWORD_MENU",
                       "STR_REPOSITORIES", "STR_DAV_ACCOUNTS_MENU", "STR_SYNCHRONISE_ALL", "STR_QUIT"]),
    ("STR_MENU_EDIT", ["STR_UNDO", "STR_REDO", "STR_NEW_NOTE", "STR_NEW_TASK", "STR_NEW_EVENT", "STR_NEW_CONTACT",
                       "STR_NEW_KEY", "STR_NEW_TAG", "STR_COPY_USER_NAME", "STR_COPY_PASSWORD", "STR_SEARCH_MENU",
                       "STR_HIDE_COMPLETED", "STR_SHOW_HIDDEN_REPOS", "STR_OPTIONS_MENU"]),
    ("STR_MENU_HELP", ["STR_USER_GUIDE", "STR_SEND_LOG", "STR_ABOUT"]),
]
GERMAN = 3


def menu_bar_labels(o):
    """The menus and their items as read from the accessibility tree, no
    menu opened."""
    bar = o.wait("menu bar", within=o.main_frame())
    return [(m.name, [c.name for c in m.children if c.roleName == "menu item"])
            for m in bar.children if m.roleName == "menu"]


def check_language(o, lang):
    want = [(S(m, lang), [S(i, lang) for i in items]) for m, items in MENU_BAR]
    got = []

    def same():
        got[:] = menu_bar_labels(o)
        return got == want
    try:
        wait_for(same, "the menus in language %d" % lang, timeout=10)
    except Failure:
        raise Failure("the menus in language %d: %r, expected %r" % (lang, got, want))
    frame = o.main_frame()
    check(frame.name == S("STR_APP_NAME", lang), "the window title %r" % frame.name)
    o.wait("push button", S("STR_OPTIONS", lang), within=frame)
    tags, _ = o.trees()
    check(any(c.showing and (c.name or "").startswith(S("STR_ROW_LISTS", lang))
              for c in tags.findChildren(GenericPredicate(roleName="table cell"))), "the list row relabelled")


def choose(o, dlg, combo_name, entry):
    """Picks the combo box's entry from its popup with the pointer."""
    o.wait("combo box", combo_name, within=dlg).click()
    o.wait("menu item", entry).click()
    o.gone("menu item", entry)
    point_at(dlg)


def options(o, lang=0):
    point_at(o.main_frame())
    o.wait("push button", S("STR_OPTIONS", lang), within=o.main_frame()).click()
    dlg = wait_for(lambda: o.find("dialog", S("STR_OPTIONS", lang)), "the options dialog")
    point_at(dlg)
    return dlg


def options_ok(o, dlg, lang=0):
    o.wait("push button", S("STR_OK", lang), within=dlg).click()
    wait_for(lambda: dlg.dead or not dlg.showing, "the options dialog closed")
    point_at(o.main_frame())


def upcoming_titles():
    return [p[4] for p in (l.split("\t") for l in cli("items", "upcoming").splitlines()) if len(p) >= 5]


def journey_options():
    """The options dialog: the language relabels every menu and menu item,
    holds after a restart, and goes back; more upcoming days bring a later
    event into the upcoming list and fewer take it out again; a folder that
    does not exist is refused as the repository folder, an existing one is
    where the next repository goes, and the dialog shows it after a restart."""
    _, work, _ = seed_profile()
    later = time.strftime("%Y-%m-%d", time.localtime(time.time() + 10 * 86400))
    cli("add", "event", work[0], "--title", "Dentist in ten days", "--due", later + " 12:00", "--end", later + " 13:00")
    check(upcoming_titles() == ["Call the plumber"], "the default upcoming days: %r" % upcoming_titles())
    elsewhere = os.path.join(HOME, "Elsewhere")
    os.makedirs(elsewhere)
    o = Ordika()
    unlock(o)
    check_language(o, 0)

    # The toolbar button opens the dialog; its menu twin sits in the Edit menu.
    menu_command(o, "STR_MENU_EDIT", "STR_OPTIONS_MENU")
    dlg = wait_for(lambda: o.find("dialog", S("STR_OPTIONS")), "the options dialog from the menu")
    point_at(dlg)
    answer(o, dlg, "STR_CANCEL")
    # A choice cancelled changes nothing.
    dlg = options(o)
    choose(o, dlg, S("STR_LANGUAGE"), S("STR_LANGUAGE_LIST").split("\n")[GERMAN])
    answer(o, dlg, "STR_CANCEL")
    point_at(o.main_frame())
    check_language(o, 0)
    dlg = options(o)
    choose(o, dlg, S("STR_LANGUAGE"), S("STR_LANGUAGE_LIST").split("\n")[GERMAN])
    options_ok(o, dlg)
    check_language(o, GERMAN)
    de = GERMAN
    # The popup menus built at the start follow too.
    tags, _ = o.trees()
    o.row(tags, work[4]).click(button=3)
    o.wait("menu", S("STR_IMPORT", de))
    o.wait("menu", S("STR_EXPORT", de))
    o.close_menu(S("STR_TAG_MENU_NEW_NOTE", de))
    [r for r in tags.findChildren(GenericPredicate(roleName="table cell")) if r.showing and r.name][0].click(button=3)
    o.wait("menu item", S("STR_LIST_NOTES", de))
    o.close_menu(S("STR_LIST_ALL", de))

    # The upcoming list, shown in the first row of the tag tree.
    tags, items = o.trees()

    def listed(title):
        return any(c.showing and c.name == title for c in o.trees()[1].findChildren(
            GenericPredicate(roleName="table cell")))
    first = [r for r in tags.findChildren(GenericPredicate(roleName="table cell")) if r.showing and r.name][0]
    first.click()
    o.row(items, "Call the plumber")
    check(not listed("Dentist in ten days"), "ten days ahead not upcoming in five days")
    dlg = options(o, de)
    choose(o, dlg, S("STR_UPCOMING_DAYS", de), S("STR_UPCOMING_DAYS_LIST", de).split("\n")[7])
    options_ok(o, dlg, de)
    o.row(o.trees()[1], "Dentist in ten days")
    check(upcoming_titles() == ["Call the plumber", "Dentist in ten days"], "14 days stored: %r" % upcoming_titles())
    dlg = options(o, de)
    choose(o, dlg, S("STR_UPCOMING_DAYS", de), S("STR_UPCOMING_DAYS_LIST", de).split("\n")[5])
    options_ok(o, dlg, de)
    wait_for(lambda: not listed("Dentist in ten days"), "ten days ahead gone from seven upcoming days")
    check(listed("Call the plumber"), "the task stays upcoming")
    check(upcoming_titles() == ["Call the plumber"], "7 days stored: %r" % upcoming_titles())

    # The repository folder: one that does not exist is refused and the
    # dialog stays; an existing one is taken.
    dlg = options(o, de)
    fill_entry(o, dlg, S("STR_REPOSITORY_FOLDER", de), os.path.join(HOME, "Nowhere"))
    o.wait("push button", S("STR_OK", de), within=dlg).click()
    refused = message_with(o, S("STR_MSG_REPO_ROOT_MISSING", de))
    o.wait("push button", S("STR_OK", de), within=refused).click()
    wait_for(lambda: refused.dead or not refused.showing, "the refusal answered")
    check(dlg.showing, "the options dialog stays after a refused folder")
    point_at(dlg)
    fill_entry(o, dlg, S("STR_REPOSITORY_FOLDER", de), elsewhere)
    options_ok(o, dlg, de)
    rawinput.keyCombo("<Control>q")
    check(o.wait_exit() == 0, "exit status")

    check(not os.path.exists(os.path.join(HOME, "Nowhere")), "no folder made for the refused one")
    cli("repo-add", "Travel")
    repos = [l.split("\t") for l in cli("repos").splitlines()]
    travel = next(r for r in repos if r[1] == "Travel")
    check(os.path.dirname(travel[2]) == elsewhere, "the new repository in the new folder: %r" % travel)
    check(os.path.dirname(repos[0][2]) == os.path.join(HOME, "Ordika"), "the first one stays: %r" % repos[0])
    check(upcoming_titles() == ["Call the plumber"], "7 days kept: %r" % upcoming_titles())

    # After a restart: still German, the folder shown; then back to English.
    o = Ordika()
    unlock(o)
    check_language(o, de)
    tags, _ = o.trees()
    o.row(tags, "Travel")
    dlg = options(o, de)
    check(o.wait("text", S("STR_REPOSITORY_FOLDER", de), within=dlg).text == elsewhere,
          "the folder shown after a restart")
    choose(o, dlg, S("STR_LANGUAGE", de), S("STR_LANGUAGE_LIST", de).split("\n")[0])
    options_ok(o, dlg, de)
    check_language(o, 0)
    rawinput.keyCombo("<Control>q")
    check(o.wait_exit() == 0, "exit status")
    o = Ordika()
    unlock(o)
    check_language(o, 0)
    rawinput.keyCombo("<Control>q")
    check(o.wait_exit() == 0, "exit status")

# --- Calendar and contacts accounts ------------------------------------------

def SM(name, lang=0):
    """A label with a mnemonic as the accessibility tree names it (no "_")."""
    text = S(name, lang)
    out, i = [], 0
    while i < len(text):
        if text[i] == "_" and i + 1 < len(text):
            i += 1
        elif text[i] == "_":
            i += 1
            continue
        out.append(text[i])
        i += 1
    return "".join(out)


class DavServer:
    """Radicale on a free port of 127.0.0.1 with the user alice, and a second,
    independent client of it (python3-caldav) for the other device's side."""

    USER, PASSWORD = "alice", "Dav-secret-9"

    def __init__(self):
        import socket
        if subprocess.run(["/usr/bin/python3", "-c", "import radicale, caldav"], capture_output=True).returncode:
            print("e2e: radicale or python3-caldav missing (tools/deps.sh)")
            sys.exit(77)
        root = os.path.join(HOME, "radicale")
        os.makedirs(root, exist_ok=True)
        with open(os.path.join(root, "users"), "w") as f:
            f.write("%s:%s\n" % (self.USER, self.PASSWORD))
        for _ in range(5):
            with socket.socket() as s:
                s.bind(("127.0.0.1", 0))
                port = s.getsockname()[1]
            with open(os.path.join(root, "config"), "w") as f:
                f.write("[server]\nhosts = 127.0.0.1:%d\n[auth]\ntype = htpasswd\nhtpasswd_filename = %s\n"
                        "htpasswd_encryption = plain\ndelay = 0\n[storage]\nfilesystem_folder = %s\n"
                        "[rights]\ntype = owner_only\n[web]\ntype = none\n[logging]\nlevel = warning\n"
                        % (port, os.path.join(root, "users"), os.path.join(root, "collections")))
            proc = SESSION.spawn(["/usr/bin/python3", "-m", "radicale", "-C", os.path.join(root, "config")])

            def up():
                if proc.poll() is not None:
                    return "ended"
                with socket.socket() as c:
                    return "up" if c.connect_ex(("127.0.0.1", port)) == 0 else None
            if wait_for(up, "radicale listening", timeout=15) == "up":
                self.host = "127.0.0.1:%d" % port
                self.url = "http://%s/" % self.host
                return
        raise Failure("radicale did not start")

    def client(self):
        import caldav
        return caldav.DAVClient(self.url, username=self.USER, password=self.PASSWORD)

    def calendar(self, name, color=None):
        """Makes the calendar (events) and returns it."""
        principal = self.client().principal()
        cal = principal.make_calendar(name=name, supported_calendar_component_set=["VEVENT"])
        if color:
            from caldav.elements import ical
            cal.set_properties([ical.CalendarColor(color)])
        return cal

    @staticmethod
    def event(cal, uid, summary):
        cal.save_event("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Peer//E2E//EN\r\nBEGIN:VEVENT\r\nUID:%s\r\n"
                       "DTSTAMP:20260101T000000Z\r\nDTSTART:20300106T090000Z\r\nDTEND:20300106T100000Z\r\n"
                       "SUMMARY:%s\r\nATTENDEE;CN=Bob:mailto:bob@example.org\r\nX-PEER-NOTE:keep me\r\n"
                       "END:VEVENT\r\nEND:VCALENDAR\r\n" % (uid, summary))

    def summary(self, cal_url, uid):
        import caldav
        cal = self.client().calendar(url=cal_url)
        ev = cal.event_by_uid(uid)
        return ev.vobject_instance.vevent.summary.value, ev.data

    def set_summary(self, cal_url, uid, summary):
        cal = self.client().calendar(url=cal_url)
        ev = cal.event_by_uid(uid)
        ev.vobject_instance.vevent.summary.value = summary
        ev.save()


def add_dav_account(o, dav):
    """File > Calendar and Contacts Accounts… > Add: the form filled from the
    keyboard (Return is Connect), the chooser answered with Add Account; the
    first sync closes its dialog by itself. Returns the accounts dialog."""
    menu_command(o, "STR_MENU_FILE", "STR_DAV_ACCOUNTS_MENU")
    accounts = top_dialog(o)
    o.wait("label", S("STR_DAV_NO_ACCOUNTS"), within=accounts)
    check(not o.wait("push button", SM("STR_DAV_BUTTON_REMOVE"), within=accounts).sensitive,
          "Remove waits for an account")
    o.wait("push button", SM("STR_DAV_BUTTON_ADD"), within=accounts).click()
    form = wait_for(lambda: o.find("dialog", S("STR_DAV_ADD_TITLE")), "the add form")
    point_at(form)
    # The server field has the focus; the mnemonics reach the others. The
    # test server speaks plain http, which a bare host would not try.
    rawinput.typeText(dav.url)
    rawinput.keyCombo("<Alt>u")
    rawinput.typeText(dav.USER)
    rawinput.keyCombo("<Alt>p")
    rawinput.typeText(dav.PASSWORD)
    screenshot_dialog(form, "dav-add-form.png")
    rawinput.pressKey("Return")
    chooser = wait_for(lambda: o.find("dialog", S("STR_DAV_CHOOSE_TITLE")), "the collections", timeout=40)
    point_at(chooser)
    o.row(o.wait("table", within=chooser), "Work")
    screenshot_dialog(chooser, "dav-choose.png")
    o.wait("push button", SM("STR_DAV_BUTTON_ADD_ACCOUNT"), within=chooser).click()
    wait_for(lambda: chooser.dead or not chooser.showing, "the chooser closed")
    o.gone("dialog", S("STR_SYNCHRONISE"), timeout=60)  # the first sync closed by itself
    point_at(accounts)
    wait_for(lambda: o.find("table cell", dav.USER, within=accounts), "the account listed")
    check(not o.find("table cell", S("STR_DAV_NEVER_SYNCED"), within=accounts), "the first sync recorded")
    screenshot_dialog(accounts, "dav-accounts.png")
    return accounts


def screenshot_dialog(d, name):
    x, y = d.position
    w, h = d.size
    screen_shot(os.path.join(OUT, name), max(x, 0), max(y, 0), w, h)


def dav_repo_row(o, tags):
    """The account's repository in the tag tree (named after user and host)."""
    return wait_for(lambda: next((c for c in tags.findChildren(GenericPredicate(roleName="table cell"))
                                  if c.showing and (c.name or "").startswith(DavServer.USER + " ")), None),
                    "the account's repository")


def sync_all(o):
    point_at(o.main_frame())
    rawinput.keyCombo("<Control><Shift>s")


def dav_started(uid, summary, color=None):
    """A Radicale whose calendar "Work" holds one event, and a window that
    added the account and shows its repository opened. Returns the server,
    the calendar's address, the window and its tag tree."""
    dav = DavServer()
    cal = dav.calendar("Work", color)
    dav.event(cal, uid, summary)
    cli("init")
    o = Ordika()
    unlock(o)
    accounts = add_dav_account(o, dav)
    o.wait("push button", SM("STR_DAV_BUTTON_CLOSE"), within=accounts).click()
    wait_for(lambda: accounts.dead or not accounts.showing, "the accounts dialog closed")
    wait_for(lambda: item_line(summary), "the event pulled")
    tags, _ = o.trees()
    expand_repos(o, tags, [dav_repo_row(o, tags).name])
    return dav, str(cal.url), o, tags


def journey_dav_account():
    """A Radicale account added in the window; an event from the server is
    edited here and the other client sees the change with the rest of the
    event kept; a note is refused in the account's repository."""
    dav, cal_url, o, tags = dav_started("dentist-1", "Dentist", "#3366CC")
    check(dav.PASSWORD not in log_text(), "the password stays out of the log")
    o.row(tags, "Work").click()
    work = ["", "", "", "", "Work"]
    edit_title(o, work, "Dentist", "Dentist at 10")
    o.screenshot("dav-edited.png")
    sync_all(o)
    o.gone("dialog", S("STR_SYNCHRONISE"), timeout=60)
    title, text = dav.summary(cal_url, "dentist-1")
    check(title == "Dentist at 10", "the other client sees the new title: %r" % title)
    check("X-PEER-NOTE:keep me" in text and "mailto:bob@example.org" in text,
          "what the window does not show is kept: %r" % text)

    # Notes have no place on a calendar server: the command says why.
    point_at(o.main_frame())
    o.row(tags, "Work").click()
    before = len(cli("items").splitlines())
    rawinput.keyCombo("<Control><Shift>n")
    refusal = message_with(o, S("STR_DAV_REFUSES_NOTES_KEYS").split("%s")[0], prefix=True)
    answer(o, refusal, "STR_OK")
    check(len(cli("items").splitlines()) == before, "no note stored")
    point_at(o.main_frame())
    rawinput.keyCombo("<Control>q")
    check(o.wait_exit() == 0, "exit status")


def journey_dav_conflict():
    """The same event changed here and on the server: the sync takes the
    server's version, names the conflict in its summary, and the history
    dialog shows this computer's version."""
    dav, cal_url, o, tags = dav_started("review-1", "Review")
    work = ["", "", "", "", "Work"]
    edit_title(o, work, "Review", "Review, here")
    dav.set_summary(cal_url, "review-1", "Review, there")
    sync_all(o)
    run = wait_for(lambda: o.find("dialog", S("STR_SYNCHRONISE")), "the sync dialog", timeout=40)
    point_at(run)
    wait_for(lambda: o.find("label", None, within=run) and any(
        "Review" in (l.name or "") for l in run.findChildren(GenericPredicate(roleName="label"))),
        "the conflict named in the summary", timeout=60)
    screenshot_dialog(run, "dav-conflict-summary.png")
    answer(o, run, "STR_CLOSE")
    point_at(o.main_frame())
    wait_for(lambda: item_line("Review, there"), "the server's version current")
    tags, items = o.trees()
    o.row(tags, "Work").click()
    o.row(items, "Review, there").click(button=3)
    o.wait("menu item", S("STR_HISTORY")).click()
    history = top_dialog(o)
    versions = o.wait("table", within=history)
    o.row(versions, "Review, here")
    screenshot_dialog(history, "dav-conflict-history.png")
    rawinput.pressKey("Escape")
    wait_for(lambda: history.dead or not history.showing, "the history closed")
    point_at(o.main_frame())
    rawinput.keyCombo("<Control>q")
    check(o.wait_exit() == 0, "exit status")


JOURNEYS = {
    "first_start": journey_first_start,
    "wrong_password": journey_wrong_password,
    "cancel": journey_cancel,
    "browse": journey_browse,
    "tray": journey_tray,
    "no_tray_close": journey_no_tray_close_quits,
    "sigterm": journey_sigterm,
    "screenshots": journey_screenshots,
    "import_undo": journey_import_undo,
    "reminder": journey_reminder,
    "keyboard": journey_keyboard,
    "keyboard_kinds": journey_keyboard_kinds,
    "keyboard_tags": journey_keyboard_tags,
    "keyboard_history": journey_keyboard_history,
    "sign_in": journey_sign_in,
    "put_sync_conflict": journey_put_sync_conflict,
    "sync_overtaken": journey_sync_overtaken,
    "export_reimport": journey_export_reimport,
    "paste_between": journey_paste_between,
    "move_due": journey_move_due,
    "master_password": journey_master_password,
    "repo_password": journey_repo_password,
    "options": journey_options,
    "dav_account": journey_dav_account,
    "dav_conflict": journey_dav_conflict,
}
for _lang in LANGS:
    JOURNEYS["dialogs_" + _lang] = (lambda lang: lambda: journey_dialogs(lang))(_lang)


def main():
    name = sys.argv[1]
    rc = 0
    try:
        JOURNEYS[name]()
        print("journey %s: passed" % name)
    except Failure as e:
        print("journey %s: FAILED: %s" % (name, e))
        rc = 1
        try:
            screen_shot(os.path.join(OUT, "failed-%s.png" % name))
        except Exception as shot:
            print("no screenshot: %s" % shot)
        try:
            with open(os.path.join(HOME, "ordika.stderr")) as f:
                sys.stdout.write(f.read()[-3000:])
            sys.stdout.write(log_text()[-3000:])
        except OSError:
            pass
        print("journey %s: FAILED: %s" % (name, e))
    finally:
        for o in RUNNING:
            o.kill()
        SESSION.close()
    sys.exit(rc)


if __name__ == "__main__":
    main()
