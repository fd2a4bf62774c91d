#!/usr/bin/env python3
"""Times the Linux window the way a user meets it, next to twinrake-find on the same tree.

The real `twinrake` runs on an X display (its own Xvfb unless --display is given) and is driven
through the XTEST extension, as a mouse and a keyboard would drive it: a click on "Pfad
hinzufügen", the folder typed into the folder dialog (xdotool), Enter; then a click on "Doppelte
Dateien suchen". Each step is timed from the moment the Enter or the button release reaches the
X server until the window shows the command's result: the first line of "Alle Dateien" after
the add, of "Dateien mit gleichem Inhalt" after the search, read from the X server's pixels.
Before the step those lines are empty, of one colour (and, for the add, covered by the folder
dialog, whose picture the window may keep after the dialog closes); the step ends at the first
picture of that line which is neither, once it has stayed while the window answered pings
promptly (a window that keeps a stale picture during a command does not answer them).

Meanwhile the window is pinged as desktops ping it (_NET_WM_PING, every COMMAND_PING_MS), and
the longest time a ping waited for its answer during each step is reported: a window that
keeps it under a few seconds is not offered to be force-quit. No hook in the program is needed and
the program is the one that ships.

Each round runs twinrake-find once and then every window program given (so that a "before" and
an "after" build can be compared side by side); the median of the rounds is reported. Peak
memory of both comes from GNU time (-f %M), which the window's process leaves when it is
closed the ordinary way (close request, then OK in the credits box). With --cold the page cache
is dropped (as root) before every twinrake-find run and right before the Enter of every add.

With --scroll the run also times what a user does in a long list after the search: a click on a
line of "Alle Dateien", End, Page Up ten times, Home, and ten turns of the wheel; each of those
ends once the window answers pings promptly again.
"""

import argparse
import collections
import ctypes
import ctypes.util
import hashlib
import os
import select
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import measure  # noqa: E402  (warm, machine)

PING_MS = 10  # while a scroll step is timed by the pings' answers
COMMAND_PING_MS = 50  # during a command; more often would only load the X server
LATE_S = 0.030  # an answer later than this was held up by a command
QUIET = 20  # prompt answers in a row that end a step (a command shows as a run of late ones)

# Client-area centres of the controls the user touches (the layout is fixed).
ADD_BUTTON = (97, 12)
SEARCH_BUTTON = (384, 12)
ALL_FILES_CAPTION = (0, 25, 195, 20)
GROUPS_CAPTION = (200, 25, 368, 20)
ALL_FILES_LINE = (60, 52)  # the first line of "Alle Dateien"
ALL_FILES_MIDDLE = (90, 157)
# Strips of the first lines of the two lists (x, y, width, height), inside their frames.
ALL_FILES_FIRST = (3, 47, 150, 12)
GROUPS_FIRST = (203, 47, 300, 12)
SAMPLE_S = 0.01  # how often a command's end is looked for
SETTLE_S = 0.3  # how long a step's result must stay, with pings answered promptly

# --- a little Xlib over ctypes --------------------------------------------------------------

DESTROY_NOTIFY, UNMAP_NOTIFY, MAP_NOTIFY = 17, 18, 19
SELECTION_NOTIFY, CLIENT_MESSAGE = 31, 33
STRUCTURE_NOTIFY_MASK = 1 << 17  # where Qt sends its answers to pings
SUBSTRUCTURE_NOTIFY_MASK = 1 << 19  # top-level windows mapped and unmapped


class XAnyEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("event", ctypes.c_ulong),
                ("window", ctypes.c_ulong), ("override_redirect", ctypes.c_int)]


class XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5)]


class XSelectionEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("requestor", ctypes.c_ulong),
                ("selection", ctypes.c_ulong), ("target", ctypes.c_ulong),
                ("property", ctypes.c_ulong), ("time", ctypes.c_ulong)]


class XEvent(ctypes.Union):
    # Map, unmap, destroy and create events all keep the window at the same place.
    _fields_ = [("type", ctypes.c_int), ("xstruct", XAnyEvent), ("xclient", XClientMessageEvent),
                ("xselection", XSelectionEvent), ("pad", ctypes.c_long * 24)]


class X:
    def __init__(self, display):
        self.lib = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        self.tst = ctypes.CDLL(ctypes.util.find_library("Xtst") or "libXtst.so.6")
        lib = self.lib
        lib.XOpenDisplay.restype = ctypes.c_void_p
        lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        lib.XDefaultRootWindow.restype = ctypes.c_ulong
        lib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        lib.XInternAtom.restype = ctypes.c_ulong
        lib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        lib.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
        lib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                   ctypes.POINTER(XEvent)]
        lib.XPending.argtypes = [ctypes.c_void_p]
        lib.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.POINTER(XEvent)]
        lib.XFlush.argtypes = [ctypes.c_void_p]
        lib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        lib.XConnectionNumber.argtypes = [ctypes.c_void_p]
        lib.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                   ctypes.POINTER(ctypes.c_char_p)]
        lib.XFree.argtypes = [ctypes.c_void_p]
        lib.XTranslateCoordinates.argtypes = [
            ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
            ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int),
            ctypes.POINTER(ctypes.c_ulong)]
        lib.XGetGeometry.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_void_p] * 7
        lib.XStringToKeysym.restype = ctypes.c_ulong
        lib.XStringToKeysym.argtypes = [ctypes.c_char_p]
        lib.XKeysymToKeycode.restype = ctypes.c_ubyte
        lib.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        lib.XSetErrorHandler.argtypes = [ctypes.c_void_p]
        lib.XGetImage.restype = ctypes.c_void_p
        lib.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                  ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        lib.XCreateSimpleWindow.restype = ctypes.c_ulong
        lib.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_int] * 2 + \
            [ctypes.c_uint] * 3 + [ctypes.c_ulong] * 2
        lib.XConvertSelection.argtypes = [ctypes.c_void_p] + [ctypes.c_ulong] * 5
        lib.XGetWindowProperty.argtypes = [
            ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long, ctypes.c_long,
            ctypes.c_int, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
            ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_ulong),
            ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_void_p)]
        self.tst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                                                  ctypes.c_int, ctypes.c_ulong]
        self.tst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                                  ctypes.c_ulong]
        self.tst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                               ctypes.c_ulong]
        # A window that vanishes between an event and a query is no reason to stop.
        self._ignore = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)(
            lambda d, e: 0)
        lib.XSetErrorHandler(ctypes.cast(self._ignore, ctypes.c_void_p))
        self.dpy = lib.XOpenDisplay(display.encode())
        if not self.dpy:
            raise RuntimeError("cannot open display %s" % display)
        self.root = lib.XDefaultRootWindow(self.dpy)
        self.protocols = lib.XInternAtom(self.dpy, b"WM_PROTOCOLS", 0)
        self.ping_atom = lib.XInternAtom(self.dpy, b"_NET_WM_PING", 0)
        self.delete_atom = lib.XInternAtom(self.dpy, b"WM_DELETE_WINDOW", 0)
        lib.XSelectInput(self.dpy, self.root, STRUCTURE_NOTIFY_MASK | SUBSTRUCTURE_NOTIFY_MASK)
        # An unmapped window of our own, to receive the text of a selection.
        self.own = lib.XCreateSimpleWindow(self.dpy, self.root, 0, 0, 1, 1, 0, 0, 0)
        self.primary = lib.XInternAtom(self.dpy, b"PRIMARY", 0)
        self.utf8 = lib.XInternAtom(self.dpy, b"UTF8_STRING", 0)
        self.received = lib.XInternAtom(self.dpy, b"TWINRAKE_BENCH_SELECTION", 0)
        self.selection = None  # the text of the latest selection received, or b"" for none
        lib.XSync(self.dpy, 0)
        self.fd = lib.XConnectionNumber(self.dpy)
        self.maps = []  # (window, override_redirect) of top-level windows mapped, in order
        self.gone = set()  # top-level windows unmapped or destroyed
        self.answers = {}  # ping serial -> arrival time
        self.serial = 0  # of the latest ping, unique for the whole run

    def name(self, window):
        text = ctypes.c_char_p()
        if self.lib.XFetchName(self.dpy, window, ctypes.byref(text)) and text.value is not None:
            value = text.value.decode("latin-1")
            self.lib.XFree(text)
            return value
        return ""

    def size(self, window):
        root, x, y = ctypes.c_ulong(), ctypes.c_int(), ctypes.c_int()
        width, height, border, depth = (ctypes.c_uint() for _ in range(4))
        if not self.lib.XGetGeometry(self.dpy, window, ctypes.byref(root), ctypes.byref(x),
                                     ctypes.byref(y), ctypes.byref(width), ctypes.byref(height),
                                     ctypes.byref(border), ctypes.byref(depth)):
            return (0, 0)
        return (width.value, height.value)

    def origin(self, window):
        x, y, child = ctypes.c_int(), ctypes.c_int(), ctypes.c_ulong()
        self.lib.XTranslateCoordinates(self.dpy, window, self.root, 0, 0, ctypes.byref(x),
                                       ctypes.byref(y), ctypes.byref(child))
        return x.value, y.value

    def pump(self, timeout):
        """Takes the events that arrive within `timeout` seconds (at least those queued)."""
        ready = select.select([self.fd], [], [], max(0.0, timeout))[0]
        now = time.perf_counter()
        event = XEvent()
        while ready or self.lib.XPending(self.dpy):
            ready = []
            while self.lib.XPending(self.dpy):
                self.lib.XNextEvent(self.dpy, ctypes.byref(event))
                if event.type == MAP_NOTIFY:
                    # The server hands out the identifiers of a program that ended again.
                    self.gone.discard(event.xstruct.window)
                    self.maps.append((event.xstruct.window, event.xstruct.override_redirect))
                elif event.type in (UNMAP_NOTIFY, DESTROY_NOTIFY):
                    self.gone.add(event.xstruct.window)
                elif event.type == SELECTION_NOTIFY and event.xselection.requestor == self.own:
                    self.selection = self._take_selection(event.xselection.property)
                elif (event.type == CLIENT_MESSAGE and
                      event.xclient.message_type == self.protocols and
                      event.xclient.data[0] == self.ping_atom):
                    self.answers.setdefault(event.xclient.data[1] & 0xFFFFFFFF, now)

    def pixels(self, window, box):
        """The pixels of `box` (x, y, width, height) of `window`, as bytes."""
        x, y, width, height = box
        image = self.lib.XGetImage(self.dpy, window, x, y, width, height, (1 << 32) - 1, 2)
        if not image:
            return b""
        data = ctypes.c_void_p.from_address(image + 16).value  # XImage.data
        stride = ctypes.c_int.from_address(image + 44).value  # XImage.bytes_per_line
        pixels = ctypes.string_at(data, stride * height)
        self.lib.XFree(ctypes.c_void_p(data))
        self.lib.XFree(ctypes.c_void_p(image))
        return pixels

    def _take_selection(self, prop):
        if prop == 0:
            return b""
        kind, fmt = ctypes.c_ulong(), ctypes.c_int()
        count, left, data = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.c_void_p()
        self.lib.XGetWindowProperty(self.dpy, self.own, prop, 0, 1 << 16, 1, 0,
                                    ctypes.byref(kind), ctypes.byref(fmt), ctypes.byref(count),
                                    ctypes.byref(left), ctypes.byref(data))
        if not data.value:
            return b""
        text = ctypes.string_at(data.value, count.value)
        self.lib.XFree(data)
        return text

    def primary_text(self, timeout=10):
        """The text selected (PRIMARY) in whichever program holds the selection now."""
        self.selection = None
        self.lib.XConvertSelection(self.dpy, self.primary, self.utf8, self.received, self.own, 0)
        self.lib.XFlush(self.dpy)
        self.wait_for(lambda: self.selection is not None, timeout, "the selected text")
        return self.selection.decode("utf-8", "replace")

    def wait_for(self, condition, timeout, what):
        end = time.perf_counter() + timeout
        while not condition():
            left = end - time.perf_counter()
            if left <= 0:
                raise RuntimeError("timed out waiting for %s" % what)
            self.pump(min(left, 0.05))

    def client_message(self, window, atom, serial):
        event = XEvent()
        event.xclient.type = CLIENT_MESSAGE
        event.xclient.window = window
        event.xclient.message_type = self.protocols
        event.xclient.format = 32
        event.xclient.data[0] = atom
        event.xclient.data[1] = serial
        event.xclient.data[2] = window
        self.lib.XSendEvent(self.dpy, window, 0, 0, ctypes.byref(event))
        self.lib.XFlush(self.dpy)

    def ping(self, window):
        """Sends a ping and gives its serial."""
        self.serial += 1
        self.client_message(window, self.ping_atom, self.serial)
        return self.serial

    def move(self, x, y):
        self.tst.XTestFakeMotionEvent(self.dpy, -1, x, y, 0)
        self.lib.XFlush(self.dpy)

    def button(self, number, press):
        self.tst.XTestFakeButtonEvent(self.dpy, number, 1 if press else 0, 0)
        self.lib.XFlush(self.dpy)

    def key(self, name, press):
        code = self.lib.XKeysymToKeycode(self.dpy, self.lib.XStringToKeysym(name.encode()))
        self.tst.XTestFakeKeyEvent(self.dpy, code, 1 if press else 0, 0)
        self.lib.XFlush(self.dpy)


class Pinger:
    """Pings a window and tells when a command has ended, and how long pings waited meanwhile."""

    def __init__(self, x, window):
        self.x = x
        self.window = window

    def responsive(self, timeout=30):
        serial = self.x.ping(self.window)
        self.x.wait_for(lambda: serial in self.x.answers, timeout, "an answer to a ping")

    def until_idle(self, start, timeout):
        """Seconds from `start` until the window answered again after being held up."""
        sent = collections.deque()  # (serial, time) of the pings not answered yet, in order
        next_at = time.perf_counter()
        prompt_run = 0
        last_late = None
        first_answer = None
        deadline = start + timeout
        while True:
            now = time.perf_counter()
            if now >= deadline:
                raise RuntimeError("the window did not become idle within %d s" % timeout)
            if now >= next_at:
                sent.append((self.x.ping(self.window), now))
                next_at = now + PING_MS / 1000.0
            self.x.pump(max(0.0, next_at - time.perf_counter()))
            # The window answers its pings in the order they came.
            while sent and sent[0][0] in self.x.answers:
                serial, at = sent.popleft()
                arrived = self.x.answers[serial]
                took = arrived - at
                if first_answer is None:
                    first_answer = arrived
                if took > LATE_S:
                    last_late = arrived
                    prompt_run = 0
                else:
                    prompt_run += 1
            if prompt_run >= QUIET:
                # A command shorter than one late answer shows as the first answer.
                return (last_late if last_late is not None else first_answer) - start

    def until_shown(self, start, box, before, timeout):
        """Pings from `start` until `box` of the window shows the command's result: a picture
        of more than one colour (an empty list is of one) that is not in `before` (a set of
        pixel strings) and stays while the window answers pings promptly for SETTLE_S (a
        window that holds a stale picture during a command does not answer them). Gives the
        seconds until that picture was first seen, and the longest any ping sent before then
        waited for its answer."""
        sent = collections.deque()  # (serial, time sent) of the pings not answered yet
        waits = []  # (time sent, seconds until answered)
        shown = None  # (picture, time first seen) of the latest picture not in `before`
        quiet_since = start  # since when every answer came promptly
        next_ping = start
        deadline = start + timeout
        while True:
            now = time.perf_counter()
            if now >= deadline:
                raise RuntimeError("the command did not end within %d s" % timeout)
            if now >= next_ping:
                sent.append((self.x.ping(self.window), now))
                next_ping = now + COMMAND_PING_MS / 1000.0
            while sent and sent[0][0] in self.x.answers:
                serial, at = sent.popleft()
                waits.append((at, self.x.answers[serial] - at))
                if waits[-1][1] > LATE_S:
                    quiet_since = self.x.answers[serial]
            if sent and now - sent[0][1] > LATE_S:
                quiet_since = now
            seen_at = time.perf_counter()
            picture = self.x.pixels(self.window, box)
            if picture in before or picture == picture[:4] * (len(picture) // 4):
                shown = None
            elif shown is None or shown[0] != picture:
                shown = (picture, seen_at)
            elif seen_at - max(shown[1], quiet_since) >= SETTLE_S:
                break
            self.x.pump(min(SAMPLE_S, max(0.0, next_ping - time.perf_counter())))
        end = shown[1]
        longest = max((took for at, took in waits if at <= end), default=0.0)
        return end - start, longest


def click(x, origin, point):
    x.move(origin[0] + point[0], origin[1] + point[1])
    x.pump(0.02)
    x.button(1, True)
    x.button(1, False)
    return time.perf_counter()


def press(x, key):
    x.key(key, True)
    x.key(key, False)
    return time.perf_counter()


def chord(x, held, key):
    x.key(held, True)
    press(x, key)
    x.key(held, False)


def free_display():
    for n in range(90, 160):
        if not os.path.exists("/tmp/.X11-unix/X%d" % n) and not os.path.exists("/tmp/.X%d-lock" % n):
            return n
    raise RuntimeError("no free X display number")


def start_xvfb():
    n = free_display()
    log = open(os.path.join(tempfile.gettempdir(), "twinrake-window-bench-xvfb.log"), "wb")
    server = subprocess.Popen(["Xvfb", ":%d" % n, "-screen", "0", "1280x1024x24", "-nolisten",
                               "tcp"], stdout=log, stderr=log, stdin=subprocess.DEVNULL)
    for _ in range(100):
        if os.path.exists("/tmp/.X11-unix/X%d" % n):
            return server, ":%d" % n
        if server.poll() is not None:
            break
        time.sleep(0.1)
    server.kill()
    raise RuntimeError("Xvfb did not start")


def screenshot(display, origin, path):
    """The window's client area as the user sees it (ImageMagick's import)."""
    subprocess.run(["import", "-display", display, "-window", "root", "-crop",
                    "600x300+%d+%d" % origin, "+repage", path], check=True)


def window_run(program, tree, display, x, workdir, scroll, timeout, shots=None, cold=False):
    """One session: start, add `tree`, search, (scroll), close. Gives the step times, the
    longest pings of the steps and the peak memory in KiB. With `shots` (a path without its
    ending), the window is photographed after the search and after scrolling. With `cold`, the
    page cache is dropped right before the Enter that adds the tree."""
    env = dict(os.environ, DISPLAY=display)
    env.pop("WAYLAND_DISPLAY", None)
    env.pop("QT_QPA_PLATFORM", None)
    peak_path = os.path.join(workdir, ".window-peak")
    seen = len(x.maps)
    child = subprocess.Popen(["/usr/bin/time", "-q", "-o", peak_path, "-f", TIME_FORMAT, program],
                             cwd=workdir, env=env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                             start_new_session=True)
    result = {}
    try:
        def new_window(after, name=None):
            # Qt maps a few tiny helper windows of its own besides the real ones.
            for window, override in x.maps[after:]:
                if (not override and window not in x.gone and x.size(window) > (10, 10) and
                        (name is None or x.name(window) == name)):
                    return window
            return None

        x.wait_for(lambda: new_window(seen, "Twinrake") is not None, 30, "the main window")
        main = new_window(seen, "Twinrake")
        if x.size(main) != (600, 300):
            raise RuntimeError("the main window measures %s" % (x.size(main),))
        origin = x.origin(main)
        pinger = Pinger(x, main)
        pinger.responsive()
        # Add: the button opens the folder dialog, the folder is typed, Enter chooses it.
        before_dialog = len(x.maps)
        click(x, origin, ADD_BUTTON)
        x.wait_for(lambda: new_window(before_dialog) is not None, 30, "the folder dialog")
        dialog = new_window(before_dialog)
        Pinger(x, dialog).responsive()
        dx, dy = x.origin(dialog)
        x.move(dx + 300, dy + 100)
        for attempt in range(3):
            # Typed over whatever the line holds; then read back, selected, as the user sees it.
            chord(x, "Control_L", "a")
            subprocess.run(["xdotool", "type", "--delay", "5", tree], env=env, check=True)
            Pinger(x, dialog).responsive()  # every typed key is taken
            time.sleep(0.3)  # the dialog's completion settles
            chord(x, "Control_L", "a")
            Pinger(x, dialog).responsive()
            typed = x.primary_text()
            press(x, "End")
            Pinger(x, dialog).responsive()
            if typed == tree:
                break
            print("  the folder dialog shows %r instead of %r; typing again" % (typed, tree),
                  file=sys.stderr, flush=True)
        else:
            raise RuntimeError("could not type the folder into the dialog")
        # What the dialog shows over that line (its caret blinks), which the window may keep a
        # moment after the dialog has gone.
        before = set()
        for _ in range(12):
            before.add(x.pixels(main, ALL_FILES_FIRST))
            x.pump(0.05)
        if cold:
            drop_caches()
        start = press(x, "Return")
        result["add"], result["add_ping"] = pinger.until_shown(start, ALL_FILES_FIRST, before,
                                                               timeout)
        if dialog not in x.gone:
            raise RuntimeError("the folder dialog is still open after Enter")
        x.move(origin[0] + 599, origin[1] + 299)  # no button under the pointer
        pinger.responsive()
        caption = x.pixels(main, ALL_FILES_CAPTION)

        # Search.
        x.move(origin[0] + SEARCH_BUTTON[0], origin[1] + SEARCH_BUTTON[1])
        pinger.responsive()
        start = click(x, origin, SEARCH_BUTTON)
        result["search"], result["search_ping"] = pinger.until_shown(start, GROUPS_FIRST,
                                                                     set(), timeout)
        x.move(origin[0] + 599, origin[1] + 299)
        pinger.responsive()
        # What the two captions show ("Alle Dateien (n)", "Dateien mit gleichem Inhalt (n)"),
        # so that rounds and programs can be checked to have done the same.
        caption += x.pixels(main, GROUPS_CAPTION)
        result["captions"] = hashlib.sha1(caption).hexdigest()[:10]
        if shots:
            screenshot(display, origin, shots + "-search.png")

        if scroll:
            steps = [("click a line", lambda: click(x, origin, ALL_FILES_LINE)),
                     ("End", lambda: press(x, "End"))]
            steps += [("Page Up", lambda: press(x, "Prior"))] * 10
            steps += [("Home", lambda: press(x, "Home"))]
            for name, act in steps:
                pinger.responsive()
                result.setdefault(name, []).append(pinger.until_idle(act(), timeout))
            x.move(origin[0] + ALL_FILES_MIDDLE[0], origin[1] + ALL_FILES_MIDDLE[1])
            for _ in range(10):
                pinger.responsive()
                x.button(5, True)
                x.button(5, False)
                result.setdefault("wheel", []).append(
                    pinger.until_idle(time.perf_counter(), timeout))
            if shots:
                x.move(origin[0] + 599, origin[1] + 299)
                pinger.responsive()
                screenshot(display, origin, shots + "-scroll.png")

        # Close as a user does; the credits box follows and OK ends the program.
        before_box = len(x.maps)
        x.client_message(main, x.delete_atom, 0)
        x.wait_for(lambda: new_window(before_box) is not None, 30, "the credits box")
        box = new_window(before_box)
        bx, by = x.origin(box)
        bw, bh = x.size(box)
        x.move(bx + bw // 2, by + bh // 2)  # without a window manager, the focus follows
        Pinger(x, box).responsive()
        press(x, "Return")
        child.wait(timeout=30)
    finally:
        if child.poll() is None:
            os.killpg(child.pid, signal.SIGKILL)
            child.wait()
    result["peak_kib"], result["cpu"] = read_time(peak_path)
    return result


TIME_FORMAT = "%M %U %S"


def read_time(path):
    """Peak RSS in KiB and CPU seconds (user + system) as GNU time wrote them."""
    with open(path) as f:
        peak, user, system = f.read().split()[-3:]
    return int(peak), float(user) + float(system)


def drop_caches():
    """Empties the page cache, so that the next reads come from the disk (root only)."""
    os.sync()
    with open("/proc/sys/vm/drop_caches", "w") as f:
        f.write("3\n")


def find_run(find, tree, workdir, timeout, cold=False):
    """twinrake-find on `tree`: wall seconds, peak RSS in KiB, CPU seconds."""
    path = os.path.join(workdir, ".find-time")
    if cold:
        drop_caches()
    start = time.perf_counter()
    subprocess.run(["/usr/bin/time", "-q", "-o", path, "-f", TIME_FORMAT, find, tree],
                   cwd=workdir, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=timeout, check=False)
    seconds = time.perf_counter() - start
    peak, cpu = read_time(path)
    return {"seconds": seconds, "peak_kib": peak, "cpu": cpu}


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program", action="append", required=True,
                        help="a twinrake (Qt) program; LABEL=PATH names it in the report; "
                             "repeat to compare builds side by side")
    parser.add_argument("--find", help="twinrake-find, run on the same tree every round")
    parser.add_argument("--tree", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--display", help="an X display to use instead of a fresh Xvfb")
    parser.add_argument("--scroll", action="store_true", help="also time scrolling the list")
    parser.add_argument("--timeout", type=int, default=600, help="seconds one step may take")
    parser.add_argument("--cold", action="store_true",
                        help="drop the page cache (as root) before each twinrake-find run and "
                             "right before each add")
    parser.add_argument("--shots", help="a folder for screenshots of each program's first "
                                        "round, after the search (and after scrolling)")
    args = parser.parse_args()
    for tool in ("xdotool", "Xvfb", "/usr/bin/time"):
        if not shutil.which(tool) and not (tool == "Xvfb" and args.display):
            sys.exit("window_bench: %s is missing (tools/install-deps.sh bench)" % tool)
    programs = []
    for given in args.program:
        label, _, path = given.rpartition("=")
        programs.append((label or os.path.basename(path), os.path.abspath(path)))
    tree = os.path.abspath(args.tree)
    if args.cold and os.geteuid() != 0:
        sys.exit("window_bench: --cold drops the page cache, which needs root")

    server = None
    display = args.display
    if display is None:
        server, display = start_xvfb()
    try:
        x = X(display)
        if not args.cold:
            measure.warm(tree)
        machine = measure.machine()  # with the load at the start
        finds, windows = [], {label: [] for label, _ in programs}
        with tempfile.TemporaryDirectory(prefix="twinrake-window-bench-") as workdir:
            for round_no in range(args.runs):
                if args.find:
                    if not args.cold and round_no > 0:
                        measure.warm(tree)  # what stayed untouched may have been paged out
                    r = find_run(os.path.abspath(args.find), tree, workdir, args.timeout,
                                 args.cold)
                    finds.append(r)
                    print("  round %d twinrake-find: %.3f s, %d KiB, CPU %.2f s" % (
                        round_no + 1, r["seconds"], r["peak_kib"], r["cpu"]),
                        file=sys.stderr, flush=True)
                for label, path in programs:
                    shots = None
                    if args.shots and round_no == 0:
                        os.makedirs(args.shots, exist_ok=True)
                        shots = os.path.join(args.shots, label)
                    if not args.cold and (round_no > 0 or args.find):
                        measure.warm(tree)
                    r = window_run(path, tree, display, x, workdir, args.scroll, args.timeout,
                                   shots, args.cold)
                    r["round"] = round_no
                    windows[label].append(r)
                    print("  round %d %s: add %.3f s (longest ping %.0f ms), search %.3f s "
                          "(longest ping %.0f ms), %d KiB, CPU %.2f s, captions %s" % (
                              round_no + 1, label, r["add"], r["add_ping"] * 1000, r["search"],
                              r["search_ping"] * 1000, r["peak_kib"], r["cpu"], r["captions"]),
                          file=sys.stderr, flush=True)
        report(args, tree, machine, programs, finds, windows)
    finally:
        if server is not None:
            server.terminate()
            server.wait()


def spread(values):
    return "%.3f-%.3f" % (min(values), max(values))


def check_captions(windows):
    """Rounds whose captions differ from what most rounds showed: they did something else (a
    folder typed wrongly, say) and are left out of the figures, with a note."""
    seen = [r["captions"] for runs in windows.values() for r in runs]
    usual = max(set(seen), key=seen.count)
    for label, runs in windows.items():
        odd = [i + 1 for i, r in enumerate(runs) if r["captions"] != usual]
        if odd:
            print("%s: rounds %s showed other captions than the rest and are left out" % (
                label, ", ".join(map(str, odd))))
            windows[label] = [r for r in runs if r["captions"] == usual]
    print("Captions after the add and the search (pixels): %d rounds alike" % seen.count(usual))


def report(args, tree, machine, programs, finds, windows):
    print("Window on %s, median of %d rounds, %s" % (
        tree, args.runs, "cold cache (dropped before each add and each twinrake-find run)"
        if args.cold else "warm cache"))
    check_captions(windows)
    print("Machine: %s; load at the end %.2f %.2f %.2f" % (machine, *os.getloadavg()))
    print()
    print("| program | add s | search s | add + search s (min-max) | ratio to twinrake-find "
          "| longest ping add ms (max) | longest ping search ms (max) | peak RSS MiB | CPU s |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    base = None
    if finds:
        base = statistics.median(r["seconds"] for r in finds)
        print("| twinrake-find | | | %.3f (%s) | 1.00 | | | %.1f | %.2f |" % (
            base, spread([r["seconds"] for r in finds]),
            statistics.median(r["peak_kib"] for r in finds) / 1024,
            statistics.median(r["cpu"] for r in finds)))
    for label, _ in programs:
        runs = windows[label]
        if not runs:
            print("| %s | every round left out | | | | | | | |" % label)
            continue
        total = [r["add"] + r["search"] for r in runs]
        pings = []
        for step in ("add_ping", "search_ping"):
            values = [r[step] * 1000 for r in runs]
            pings.append("%.0f (%.0f)" % (statistics.median(values), max(values)))
        print("| %s | %.3f | %.3f | %.3f (%s) | %s | %s | %s | %.1f | %.2f |" % (
            label, statistics.median(r["add"] for r in runs),
            statistics.median(r["search"] for r in runs), statistics.median(total),
            spread(total), "%.2f" % (statistics.median(total) / base) if base else "",
            pings[0], pings[1], statistics.median(r["peak_kib"] for r in runs) / 1024,
            statistics.median(r["cpu"] for r in runs)))
    if len(programs) > 1:
        # Rounds are alike in outside load, programs within a round nearly so: the ratio of two
        # programs round by round strays less than their medians do.
        first = programs[0][0]
        for label, _ in programs[1:]:
            base_rounds = {r["round"]: r for r in windows[first]}
            pairs = [(r["add"] + r["search"]) /
                     (base_rounds[r["round"]]["add"] + base_rounds[r["round"]]["search"])
                     for r in windows[label] if r["round"] in base_rounds]
            if pairs:
                print()
                print("%s / %s, add + search round by round: median %.2f (%.2f-%.2f)" % (
                    label, first, statistics.median(pairs), min(pairs), max(pairs)))
    print()
    print("Add: from Enter in the folder dialog until the first line of \"Alle Dateien\" shows; "
          "search: from the release of the button until the first line of the groups shows. "
          "Longest ping: the longest a _NET_WM_PING sent every %d ms during the step waited for "
          "its answer (median of the rounds, their max in brackets). CPU s: the whole process, "
          "user + system (the window's from start to close)." % COMMAND_PING_MS)
    if args.scroll:
        print()
        print("Scrolling \"Alle Dateien\" after the search (ms until the window answers again; "
              "median over rounds and repeats, max in brackets):")
        print()
        print("| program | click a line | End | Page Up | Home | wheel |")
        print("|---|---:|---:|---:|---:|---:|")
        for label, _ in programs:
            cells = []
            for step in ("click a line", "End", "Page Up", "Home", "wheel"):
                values = [v for r in windows[label] for v in r[step]]
                cells.append("%.0f (%.0f)" % (statistics.median(values) * 1000,
                                              max(values) * 1000))
            print("| %s | %s |" % (label, " | ".join(cells)))


if __name__ == "__main__":
    main()
