#!/usr/bin/env python3
"""Drives the real program in the X session scripts/soak.sh and scripts/instances.sh start.

  soak.py soak MINUTES SEED PROGRAM       random use of one window, with periodic checks
  soak.py instances COUNT SEED PROGRAM    copy and paste between two instances, one of them
                                          killed at random moments

Everything random comes from SEED. The program runs with a settings file, HOME and XDG folders
of its own under a temporary folder, which is kept when a check fails. Exits 1 when a check
failed, 0 otherwise.
"""

import os
import random
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import urllib.parse
import zlib

# A window that has not answered in this time is taken as hung.
ANSWER_SECONDS = 20
# Loads and saves of the small boards here take a second or two; a job still running after this
# is taken as stuck.
JOB_SECONDS = 120
RSS_BOUND = 1.10


def log(message):
    print(time.strftime("%H:%M:%S ") + message, flush=True)


class CheckFailed(Exception):
    pass


def run(args, timeout=ANSWER_SECONDS, check=False):
    try:
        done = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              timeout=timeout, text=True)
    except subprocess.TimeoutExpired:
        raise CheckFailed("no answer within %ds: %s" % (timeout, " ".join(args)))
    if check and done.returncode != 0:
        raise CheckFailed("failed: %s" % " ".join(args))
    return done.stdout


def xdo(*args):
    return run(["xdotool"] + [str(a) for a in args])


def png_bytes(width, height, rnd):
    """A PNG of soft gradients and a few hard blocks: compresses like a photo would not, but
    its pixels tell one picture from another."""
    base = [rnd.randrange(256) for _ in range(3)]
    blocks = [(rnd.randrange(width), rnd.randrange(height), rnd.randrange(1, width // 2 + 2),
               rnd.randrange(1, height // 2 + 2), bytes(rnd.randrange(256) for _ in range(3)))
              for _ in range(4)]
    rows = []
    for y in range(height):
        row = bytearray(b"\0")
        g = (base[1] + y * 255 // max(1, height - 1)) & 0xff
        for x in range(width):
            row += bytes(((base[0] + x) & 0xff, g, (base[2] + x + y) & 0xff))
        for bx, by, bw, bh, colour in blocks:
            if by <= y < by + bh:
                end = min(width, bx + bw)
                row[1 + 3 * bx:1 + 3 * end] = colour * (end - bx)
        rows.append(bytes(row))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff))

    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(b"".join(rows), 1)) + chunk(b"IEND", b""))


class Clipboard:
    """What the driver itself puts on the clipboard, served by processes it started."""

    def __init__(self):
        self.server = None

    def offer(self, args, data):
        self.release()
        self.server = subprocess.Popen(["xclip", "-quiet", "-selection", "clipboard"] + args,
                                       stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
        self.server.stdin.write(data)
        self.server.stdin.close()
        # xclip owns the selection once it has read its input.
        for _ in range(50):
            if "TARGETS" in run(["xclip", "-o", "-selection", "clipboard", "-t", "TARGETS"]):
                return
            time.sleep(0.05)

    def release(self):
        if self.server:
            if self.server.poll() is None:
                self.server.terminate()
            self.server.wait()
            self.server = None


class Instance:
    """One running program: its process, main window and log."""

    def __init__(self, name, program, workdir, env, settings, place=(20, 1200)):
        self.name = name
        self.place = place
        self.program = program
        self.workdir = workdir
        self.env = env
        self.settings = settings
        self.process = None
        self.window = None
        self.starts = 0
        # Ended by the driver on purpose (SIGKILL): its exit status tells nothing.
        self.killed = False
        # Closed, and how it ended told, by Session.close.
        self.closed = False

    def start(self, files=()):
        self.starts += 1
        self.killed = False
        self.closed = False
        logfile = open(os.path.join(self.workdir, self.logname()), "w")
        self.process = subprocess.Popen([self.program, "-s", self.settings] + list(files),
                                        env=self.env, stdout=logfile, stderr=subprocess.STDOUT,
                                        cwd=self.workdir)
        logfile.close()
        self.window = None
        deadline = time.time() + JOB_SECONDS
        while time.time() < deadline:
            self.check_alive()
            windows = self.windows()
            if windows:
                self.window = max(windows, key=lambda w: w[1][2] * w[1][3])[0]
                geometry = dict(windows)[self.window]
                if geometry[2] >= 300:
                    break
            time.sleep(0.2)
        if not self.window:
            raise CheckFailed("%s: no window after %ds" % (self.name, JOB_SECONDS))
        # The same place and size every start, so that every run sees the same view.
        self.put_in_place()
        time.sleep(0.5)
        self.activate()

    def logname(self):
        """The log of the current start, in the temporary folder that a failed run keeps."""
        return "%s-%d.log" % (self.name, self.starts)

    def put_in_place(self):
        """Moves and sizes the window to its place. The program's own frame moves it on a right
        drag and resizes it on a drag at its border, which gestures may start on."""
        xdo("windowsize", self.window, self.place[1], 760)
        xdo("windowmove", self.window, self.place[0], 40)

    def windows(self):
        """Visible windows of the process with their geometry."""
        found = []
        for line in run(["xdotool", "search", "--onlyvisible", "--pid",
                         str(self.process.pid)]).split():
            info = run(["xwininfo", "-id", line])
            values = {}
            for row in info.splitlines():
                row = row.strip()
                for key in ("Absolute upper-left X:", "Absolute upper-left Y:", "Width:",
                            "Height:"):
                    if row.startswith(key):
                        values[key] = int(row.split(":")[1])
            if len(values) == 4:
                found.append((line, (values["Absolute upper-left X:"],
                                     values["Absolute upper-left Y:"], values["Width:"],
                                     values["Height:"])))
        return found

    def geometry(self):
        # The xdotool of Debian 12 (3.20160805) ends with a BadWindow error when a window is
        # destroyed while its search looks at it (a menu or a notice closing), listing nothing:
        # only a window missing from several searches is gone.
        for _ in range(5):
            for window, geometry in self.windows():
                if window == self.window:
                    return geometry
            self.check_alive()
            time.sleep(0.2)
        raise CheckFailed("%s: main window gone" % self.name)

    def dialogs(self):
        """Visible windows besides the main one that take input: dialogs, menus."""
        result = []
        for window, geometry in self.windows():
            if window == self.window:
                continue
            title = run(["xdotool", "getwindowname", window]).strip()
            result.append((window, title, geometry))
        return result

    def alive(self):
        if self.process is None or self.process.poll() is not None:
            return False
        try:
            with open("/proc/%d/stat" % self.process.pid) as stat:
                return stat.read().rsplit(")", 1)[1].split()[0] not in ("Z", "X")
        except OSError:
            return False

    def check_alive(self):
        if not self.alive():
            code = self.process.poll() if self.process else None
            raise CheckFailed("%s: process ended (%s)" % (self.name, exit_status(code)))

    def rss_kb(self):
        with open("/proc/%d/status" % self.process.pid) as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return 0

    def memory_kb(self):
        """Resident memory in kB from one reading of smaps_rollup: Rss (all of it, with the pages
        of mapped files), Anonymous (heap and pixels) and LazyFree, the anonymous pages given back
        lazily (MADV_FREE): the kernel takes those whenever it needs them, and until then they
        still count as resident."""
        found = {"Rss": 0, "Anonymous": 0, "LazyFree": 0}
        with open("/proc/%d/smaps_rollup" % self.process.pid) as rollup:
            for line in rollup:
                key = line.split(":", 1)[0]
                if key in found:
                    found[key] = int(line.split()[1])
        return found

    def activate(self):
        run(["xdotool", "windowactivate", "--sync", self.window])

    def title(self):
        return run(["xdotool", "getwindowname", self.window]).strip()

    def answers(self):
        """Whether the program's own event loop handles input: a key press makes the toolkit
        stamp the window's user time, which the X server alone never changes."""
        self.check_alive()
        target = self.user_time_window()
        before = self.user_time(target)
        self.activate()
        deadline = time.time() + ANSWER_SECONDS
        while time.time() < deadline:
            # Shift alone changes nothing on the board.
            xdo("key", "shift")
            time.sleep(0.2)
            if self.user_time(target) != before:
                return True
            self.check_alive()
        raise CheckFailed("%s: window did not answer a key press within %ds"
                          % (self.name, ANSWER_SECONDS))

    def user_time_window(self):
        out = run(["xprop", "-id", self.window, "_NET_WM_USER_TIME_WINDOW"])
        if "window id #" in out:
            return out.split("#")[1].strip().split()[0]
        return self.window

    @staticmethod
    def user_time(window):
        return run(["xprop", "-id", window, "_NET_WM_USER_TIME"]).strip()

    def kill(self):
        self.killed = True
        if self.alive():
            os.kill(self.process.pid, signal.SIGKILL)
        self.process.wait()

    def stop(self):
        """Ends the instance as a user would, and by force when it does not go. Returns how it
        ended: None when it had ended already, else its exit status, the name of the signal
        that ended it, or what went wrong closing it."""
        if not self.alive():
            return None
        try:
            self.activate()
            # A note being edited takes Ctrl+X as cut.
            xdo("key", "Escape", "Escape", "ctrl+x")
            self.process.wait(timeout=ANSWER_SECONDS)
        except (CheckFailed, subprocess.TimeoutExpired):
            self.kill()
            return "did not close within %ds, killed" % ANSWER_SECONDS
        return exit_status(self.process.returncode)


def exit_status(code):
    if code is None:
        return "running"
    if code < 0:
        try:
            return signal.Signals(-code).name
        except ValueError:
            return "signal %d" % -code
    return "exit %d" % code


class Session:
    """The common ground of both runs: folders, pictures, instances, checks."""

    # The program's own clipboard format: the copier's process id and the item count lead it.
    MIME = "velkora/binary"

    def __init__(self, program, seed):
        self.program = os.path.abspath(program)
        self.dump = os.path.join(os.path.dirname(self.program), "velkora_board_dump")
        if not os.access(self.dump, os.X_OK):
            raise SystemExit("soak: %s is missing (build the tests' tools)" % self.dump)
        self.rnd = random.Random(seed)
        self.root = tempfile.mkdtemp(prefix="velkora-soak-")
        self.failed = False
        self.env = dict(os.environ)
        for name, sub in (("HOME", "home"), ("XDG_CONFIG_HOME", "home/.config"),
                          ("XDG_CACHE_HOME", "home/.cache"), ("XDG_STATE_HOME", "home/.state"),
                          ("XDG_DATA_HOME", "home/.local/share"), ("XDG_RUNTIME_DIR", "runtime")):
            path = os.path.join(self.root, sub)
            os.makedirs(path, mode=0o700, exist_ok=True)
            self.env[name] = path
        self.env.pop("QT_QPA_PLATFORM", None)
        # A GUI thread that stops answering for 3 s writes its stack into the instance's log,
        # and every clipboard request it answers is logged: a paste that found no copy can then
        # be followed to what the copier was doing.
        self.env["VELKORA_STALL_MS"] = "3000"
        self.settings = os.path.join(self.root, "Velkora.ini")
        with open(self.settings, "w") as ini:
            # Asked already; autosaves every minute; no question about unsaved changes, no
            # network.
            ini.write("[General_Settings]\nFirstTimeSetup=true\nAuto_Save=true\n"
                      "AutoSaveInterval=1\nHide_Unsaved_Warning=true\nCheckForUpdates=false\n")
        self.pictures = []
        os.makedirs(os.path.join(self.root, "pictures"))
        for i in range(10):
            width = self.rnd.choice([64, 120, 300, 480, 640, 900])
            height = self.rnd.choice([48, 100, 240, 400, 700])
            path = os.path.join(self.root, "pictures", "p%02d-%dx%d.png" % (i, width, height))
            with open(path, "wb") as out:
                out.write(png_bytes(width, height, self.rnd))
            self.pictures.append(path)
        self.boards = os.path.join(self.root, "boards")
        os.makedirs(self.boards)
        self.clipboard = Clipboard()
        self.instances = []
        self.counts = {}
        # What failed, in the words of the log, for the summary.
        self.problems = []
        # Windows by id: what they were judged at first sight (their type and title do not
        # change while they live) and when.
        self.window_kinds = {}
        self.unclassified = {}

    def diagnose(self):
        """Says, after a failed check, where the keyboard goes and whether a click on each
        window brings its keys back: the difference between a hung program and lost focus."""
        focus = run(["xdotool", "getwindowfocus"]).strip()
        log("diagnosis: the X focus is on window %s" % focus)
        for instance in self.instances:
            if not instance.alive() or not instance.window:
                continue
            states = []
            for window, geometry in instance.windows():
                title = run(["xdotool", "getwindowname", window]).strip()
                states.append("%s %r %dx%d" % (window, title, geometry[2], geometry[3]))
            log("diagnosis: %s (pid %d) main window %s, visible windows %s"
                % (instance.name, instance.process.pid, instance.window, ", ".join(states)))
            if os.environ.get("SOAK_GDB"):
                os.system("gdb -p %d -batch -x %s > %s/gdb-%s.txt 2>&1"
                          % (instance.process.pid, os.environ["SOAK_GDB"], self.root,
                             instance.name))
            try:
                instance.answers()
                log("diagnosis: %s answers keys" % instance.name)
                continue
            except CheckFailed:
                pass
            x, y, w, h = instance.geometry()
            xdo("mousemove", x + w // 2, y + 10)
            xdo("click", 1)
            try:
                instance.answers()
                log("diagnosis: %s answers keys only after a click on it" % instance.name)
            except CheckFailed:
                log("diagnosis: %s answers no keys, not even after a click" % instance.name)

    def count(self, what, n=1):
        self.counts[what] = self.counts.get(what, 0) + n

    def instance(self, name, place=(20, 1200)):
        made = Instance(name, self.program, self.root, self.env, self.settings, place)
        self.instances.append(made)
        return made

    def fail(self, problem):
        """A check failed without ending the run: later checks still tell something."""
        self.failed = True
        self.problems.append(problem)
        log("FAIL " + problem)

    def close(self, instance):
        """Closes an instance as a user would; a crash while closing (a signal, an exit status
        other than 0) or a window that does not close fails the run."""
        if instance.closed:
            return
        instance.closed = True
        ended = instance.stop()
        if ended is None:
            # Ended already: a crash the checks have not seen yet is told here.
            code = instance.process.returncode if instance.process else 0
            if code != 0 and not instance.killed:
                self.fail("%s: had ended in %s before it was closed (log %s)"
                          % (instance.name, exit_status(code), instance.logname()))
            return
        self.count("closes")
        if ended != "exit 0":
            self.count("closes not clean")
            self.fail("%s: closing ended in %s (log %s)" % (instance.name, ended,
                                                           instance.logname()))

    def finish(self):
        self.clipboard.release()
        for instance in self.instances:
            self.close(instance)
        if self.failed:
            log("kept for inspection: %s" % self.root)
        else:
            shutil.rmtree(self.root, ignore_errors=True)

    def private_data(self):
        try:
            return subprocess.run(["xclip", "-o", "-selection", "clipboard", "-t", self.MIME],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                  timeout=ANSWER_SECONDS).stdout
        except subprocess.TimeoutExpired:
            raise CheckFailed("the clipboard's owner did not answer within %ds"
                              % ANSWER_SECONDS)

    def private_header(self):
        data = self.private_data()
        if len(data) < 12:
            return None
        return struct.unpack(">qi", data[:12])

    def copy_whole_board(self, instance, may_be_empty=False):
        """Selects everything in instance and copies it; returns the program's own format of
        the copy. The clipboard is someone else's first, so that an older copy of the same
        instance is not taken for this one. Copies are refused while a job runs: the keys go
        again until the copy comes. An empty board copies nothing: with may_be_empty, None
        says that no copy came, for the caller to tell an empty board from a fault."""
        self.clipboard.offer(["-t", "UTF8_STRING", "-i"], b"soak")
        deadline = time.time() + JOB_SECONDS
        pressed = 0
        while time.time() < deadline:
            if time.time() >= pressed + 10:
                instance.activate()
                # A note being edited takes Ctrl+A and Ctrl+C as its own.
                xdo("key", "Escape")
                xdo("key", "ctrl+a")
                xdo("key", "ctrl+c")
                pressed = time.time()
            instance.check_alive()
            data = self.private_data()
            if len(data) >= 12 and struct.unpack(">q", data[:8])[0] == instance.process.pid:
                return data
            self.dismiss_unexpected(instance)
            time.sleep(0.2)
        if may_be_empty:
            return None
        raise CheckFailed("%s: Ctrl+A Ctrl+C put no copy on the clipboard within %ds"
                          % (instance.name, JOB_SECONDS))

    @staticmethod
    def copied_items(data):
        """The items of a copy in the program's own format, as kinds() gives them for a board:
        after the header (process id, count of top-level records, bounds) come the records,
        each its end offset in the data and then its body, which starts with the item's type
        name and, for a note, its text. Attached items follow their parent's record."""
        def string(at):
            (length,) = struct.unpack(">I", data[at:at + 4])
            if length == 0xffffffff:
                return "", at + 4
            return data[at + 4:at + 4 + length].decode("utf-16-be"), at + 4 + length

        header = 8 + 4 + 4 * 8
        (top_level,) = struct.unpack(">i", data[8:12])
        items = []
        at = header
        try:
            while at < len(data):
                (end,) = struct.unpack(">q", data[at:at + 8])
                if end <= at + 8 or end > len(data):
                    raise ValueError("a record ends at %d" % end)
                kind, body = string(at + 8)
                if kind == "GraphicsTextItem":
                    items.append("note text=" + urllib.parse.quote(string(body)[0].encode(),
                                                                    safe="-._~"))
                elif kind == "GraphicsImageItem":
                    items.append("picture")
                else:
                    raise ValueError("a record of type %r" % kind)
                at = end
        except (struct.error, UnicodeDecodeError, ValueError) as error:
            raise CheckFailed("the copy on the clipboard does not read: %s" % error)
        if len(items) < top_level:
            raise CheckFailed("the copy on the clipboard has %d records, its header says %d"
                              % (len(items), top_level))
        return sorted(items)

    @staticmethod
    def kinds(lines):
        """What the live board is compared by: each item's kind, and a note's text, sorted."""
        items = []
        for line in lines[1:]:
            fields = line.split(" ")
            if fields[0] == "note":
                items.append("note " + [f for f in fields if f.startswith("text=")][0])
            elif fields[0] == "picture":
                items.append("picture")
        return sorted(items)

    # Dialogs --------------------------------------------------------------------------------

    def wait_dialog(self, instance, titles, seconds=ANSWER_SECONDS):
        deadline = time.time() + seconds
        while time.time() < deadline:
            instance.check_alive()
            for window, title, _ in instance.dialogs():
                if title in titles:
                    return window
            time.sleep(0.2)
        return None

    # Types of the windows that come and go with a gesture: menus, tooltips, a completer's list,
    # the picture a drag carries.
    PASSING_TYPES = ("_NET_WM_WINDOW_TYPE_POPUP_MENU", "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
                     "_NET_WM_WINDOW_TYPE_TOOLTIP", "_NET_WM_WINDOW_TYPE_COMBO",
                     "_NET_WM_WINDOW_TYPE_DND")
    # The file dialogs the driver opens; one that comes after the driver stopped waiting for it
    # is closed and asked for again.
    FILE_DIALOGS = ("Save Scene", "Load Scene", "Load images", "Load Images", "Open images",
                    "Load Image", "Open")

    # The progress display and the error dialog are both dialogs named after the program, and
    # nothing the window manager sees tells them apart (both are modal, both take the focus).
    # The display goes when its jobs end, which here takes a second or two; an error dialog
    # stays until it is answered. One that stays this long is either, and both fail the run.
    PROGRESS_SECONDS = 30

    SETTLING_WINDOW_SECONDS = 2

    def window_kind(self, window, title):
        """What a window besides the main one is: "passing" (a menu, a tooltip), "file dialog",
        "named" (named after the program: the progress display or an error dialog) or
        "unexpected"."""
        if window in self.window_kinds:
            return self.window_kinds[window][0]
        kind = "unexpected"
        types = run(["xprop", "-id", window, "_NET_WM_WINDOW_TYPE"])
        override = "Override Redirect State: yes" in run(["xwininfo", "-id", window])
        if any(t in types for t in self.PASSING_TYPES) or (override and "not found" in types):
            kind = "passing"
        elif title in self.FILE_DIALOGS:
            kind = "file dialog"
        elif title == "Velkora":
            kind = "named"
        # A window caught while it is being mapped may have neither its title nor its type yet:
        # it is looked at again until it has stayed a moment.
        first_seen = self.unclassified.setdefault(window, time.time())
        if kind == "unexpected" and time.time() - first_seen < self.SETTLING_WINDOW_SECONDS:
            return "settling"
        self.window_kinds[window] = (kind, time.time())
        self.count("windows seen: %s" % kind)
        return kind

    def dismiss_unexpected(self, instance, expected=()):
        """Closes what the program put up unasked. Every window that is not the main one, a
        passing one, the progress display or a file dialog the driver asked for counts as an
        error dialog and fails the run; its title and type go to the log."""
        for window, title, geometry in instance.dialogs():
            if title in expected:
                continue
            kind = self.window_kind(window, title)
            if kind in ("passing", "settling"):
                continue
            if kind == "named" and time.time() - self.window_kinds[window][1] \
                    < self.PROGRESS_SECONDS:
                continue
            if kind == "file dialog":
                log("%s: file dialog %r came late, closed" % (instance.name, title))
                self.count("late file dialogs")
            else:
                types = run(["xprop", "-id", window, "_NET_WM_WINDOW_TYPE"]).strip()
                self.count("error dialogs")
                self.fail("%s: error dialog %r%s (window %s, %dx%d, %s; log %s)"
                          % (instance.name, title,
                             ", there for %ds" % self.PROGRESS_SECONDS if kind == "named" else "",
                             window, geometry[2], geometry[3], types.split("=")[-1].strip(),
                             instance.logname()))
            run(["xdotool", "windowactivate", "--sync", window])
            xdo("key", "Escape")
            time.sleep(0.3)

    def file_dialog(self, instance, keys, titles, path):
        """Opens a file dialog by keys, types the path into it and accepts it. Edits and saves
        are refused while a job runs, so the keys are pressed again until a dialog comes."""
        deadline = time.time() + JOB_SECONDS
        while time.time() < deadline:
            instance.activate()
            xdo("key", keys)
            window = self.wait_dialog(instance, titles, 5)
            if window:
                run(["xdotool", "windowactivate", "--sync", window])
                time.sleep(0.2)
                xdo("key", "ctrl+a")
                xdo("type", "--delay", "2", path)
                time.sleep(0.1)
                xdo("key", "Return")
                for _ in range(int(ANSWER_SECONDS / 0.2)):
                    if window not in [w for w, _, _ in instance.dialogs()]:
                        return
                    time.sleep(0.2)
                raise CheckFailed("%s: file dialog %r stayed open" % (instance.name, titles))
            self.dismiss_unexpected(instance)
            # A note being edited takes every key, as a person finds out and ends with Escape.
            instance.activate()
            xdo("key", "Escape")
            self.count("file dialogs asked again")
        raise CheckFailed("%s: no file dialog %r within %ds" % (instance.name, titles,
                                                                  JOB_SECONDS))

    def wait_title(self, instance, path):
        """Waits for the title a finished load or save of path gives the window."""
        wanted = os.path.basename(path) + " - Velkora"
        deadline = time.time() + JOB_SECONDS
        while time.time() < deadline:
            instance.check_alive()
            if instance.title() == wanted:
                return
            self.dismiss_unexpected(instance)
            time.sleep(0.2)
        raise CheckFailed("%s: title not %r after %ds (is %r)"
                          % (instance.name, wanted, JOB_SECONDS, instance.title()))

    def save_as(self, instance, name):
        path = os.path.join(self.boards, name)
        self.file_dialog(instance, "ctrl+shift+s", ("Save Scene",), path)
        self.wait_title(instance, path)
        # The title changes once the save has ended; the file is whole by then.
        self.count("saves")
        return path

    def open_board(self, instance, path):
        # A board of the same name is open already: the title tells nothing until it changes.
        if instance.title() == os.path.basename(path) + " - Velkora":
            self.new_board(instance)
        self.file_dialog(instance, "ctrl+o", ("Load Scene",), path)
        self.wait_title(instance, path)
        self.count("opens")

    def new_board(self, instance):
        instance.activate()
        xdo("key", "ctrl+n")
        deadline = time.time() + JOB_SECONDS
        while instance.title() != "Velkora":
            if time.time() > deadline:
                raise CheckFailed("%s: Ctrl+N left the title %r" % (instance.name,
                                                                     instance.title()))
            self.dismiss_unexpected(instance)
            time.sleep(0.2)
            xdo("key", "ctrl+n")

    def read_board(self, path):
        done = subprocess.run([self.dump, path], stdout=subprocess.PIPE, text=True,
                              timeout=JOB_SECONDS)
        lines = done.stdout.splitlines()
        if done.returncode != 0:
            raise CheckFailed("board %s reads with errors: %s"
                              % (path, "; ".join(l for l in lines if l.startswith("error"))))
        return lines

    @staticmethod
    def without_places(lines):
        """Item lines without what a paste into another board changes: ids, depth and the
        translation. Sorted, so that the order of pasting does not count."""
        result = []
        for line in lines[1:]:
            fields = []
            for field in line.split(" "):
                key = field.split("=", 1)[0]
                if key in ("id", "parent", "z"):
                    continue
                if key == "transform":
                    values = field.split("=", 1)[1].split(",")
                    field = "transform=" + ",".join(values[:6] + values[8:])
                fields.append(field)
            result.append(" ".join(fields))
        return sorted(result)

    def compare(self, what, first, second, expected, got):
        """Compares two item lists as read_board or without_places gives them."""
        if expected == got:
            items = len([line for line in expected if not line.startswith("board ")])
            log("check %s: %s and %s hold the same %d items" % (what, os.path.basename(first),
                                                               os.path.basename(second), items))
            return
        self.failed = True
        self.count("differing boards")
        shown = [l for l in expected if l not in got][:3] + ["--"] + \
            [l for l in got if l not in expected][:3]
        raise CheckFailed("%s: %s and %s differ (%d and %d items):\n  %s"
                          % (what, first, second, len(expected), len(got), "\n  ".join(shown)))


class Soak(Session):
    """A person using one window: loads, pastes, notes, gestures, crops, the gizmo, undo and
    redo, arranging, saves and autosaves; every few minutes the checks."""

    CHECK_SECONDS = 150

    def __init__(self, program, seed, minutes):
        super().__init__(program, seed)
        self.minutes = minutes
        self.started = time.time()
        # (seconds since the start, resident kB, anonymous kB) of every check.
        self.memory = []
        self.rss_max = 0
        self.autosaves = set()
        # When the board lost its file, None while it has one; the file it saves in place and
        # that file's time when it was opened.
        self.untitled_since = None
        self.in_place = None

    def point(self, margin=40):
        """A random point inside the canvas, clear of the frame's border and buttons."""
        x, y, w, h = self.geometry
        return (x + self.rnd.randrange(margin, w - margin),
                y + self.rnd.randrange(margin + 30, h - margin))

    def centre(self):
        x, y, w, h = self.geometry
        return x + w // 2, y + h // 2

    def drag(self, start, end, keys=(), button=1, steps=6):
        for key in keys:
            xdo("keydown", key)
        xdo("mousemove", *start)
        xdo("mousedown", button)
        for i in range(1, steps + 1):
            xdo("mousemove", start[0] + (end[0] - start[0]) * i // steps,
                start[1] + (end[1] - start[1]) * i // steps)
            time.sleep(0.02)
        xdo("mouseup", button)
        for key in reversed(keys):
            xdo("keyup", key)

    # Actions: each returns nothing; the weights are in run().

    def act_load(self):
        picture = self.rnd.choice(self.pictures)
        self.file_dialog(self.main, "ctrl+i", self.FILE_DIALOGS[2:], picture)
        self.count("loads")

    def act_paste_picture(self):
        with open(self.rnd.choice(self.pictures), "rb") as picture:
            self.clipboard.offer(["-t", "image/png", "-i"], picture.read())
        self.main.activate()
        xdo("mousemove", *self.point())
        xdo("key", "ctrl+v")
        self.count("pastes")

    def act_paste_text(self):
        text = "soak note %d\nline two" % self.rnd.randrange(100000)
        self.clipboard.offer(["-t", "UTF8_STRING", "-i"], text.encode())
        self.main.activate()
        xdo("mousemove", *self.point())
        xdo("key", "ctrl+v")
        self.count("pastes")

    def act_note(self):
        xdo("mousemove", *self.point())
        xdo("key", "ctrl+t")
        time.sleep(0.3)
        xdo("type", "--delay", "5", "note %d" % self.rnd.randrange(1000))
        xdo("key", "Escape")
        self.count("notes")

    def act_copy_paste_own(self):
        xdo("mousemove", *self.point())
        xdo("click", 1)
        xdo("key", "ctrl+c")
        xdo("mousemove", *self.point())
        xdo("key", "ctrl+v")
        self.count("pastes")

    GESTURES = [
        ((), "move"), (("shift",), "move along one axis"), (("ctrl",), "rotate"),
        (("ctrl", "shift"), "rotate in steps"), (("ctrl", "alt"), "scale"),
        (("alt", "shift"), "flip"), (("ctrl", "alt", "shift"), "opacity"),
        (("c",), "crop"), (("v",), "pan inside crop"), (("shift", "v"), "zoom inside crop"),
        (("z",), "zoom"), (("alt",), "pan"), (("s",), "colour under pointer"),
        (("d",), "coordinates under pointer"), (("shift", "space"), "move snapping"),
    ]

    def act_gesture(self):
        keys, _ = self.rnd.choice(self.GESTURES)
        # Most gestures start on a picture: select one first, near the middle where the view
        # puts them.
        start = self.point()
        xdo("mousemove", *start)
        xdo("click", 1)
        # The drag presses where the click was: within the double-click time that is a double
        # click, which puts a note under the pointer in edit mode, and the note then takes the
        # keys of the actions after it (Ctrl+I, Ctrl+Shift+S) as text. A person selects, then
        # drags a moment later.
        time.sleep(0.5)
        end = (start[0] + self.rnd.randrange(-150, 150), start[1] + self.rnd.randrange(-150, 150))
        x, y, w, h = self.geometry
        end = (min(max(end[0], x + 40), x + w - 40), min(max(end[1], y + 70), y + h - 40))
        self.drag(start, end, keys)
        self.count("gestures")

    def act_gizmo(self):
        # One picture selected and framed: its gizmo's corners lie near the framed picture's.
        xdo("mousemove", *self.point())
        xdo("click", 1)
        xdo("key", "space")
        time.sleep(0.4)
        x, y, w, h = self.geometry
        cx, cy = self.centre()
        corner = (cx + self.rnd.choice([-1, 1]) * self.rnd.randrange(w // 6, w // 2 - 40),
                  cy + self.rnd.choice([-1, 1]) * self.rnd.randrange(h // 6, h // 2 - 40))
        keys = self.rnd.choice([(), ("shift",), ("alt",)])
        end = (corner[0] + self.rnd.randrange(-80, 80), corner[1] + self.rnd.randrange(-80, 80))
        end = (min(max(end[0], x + 40), x + w - 40), min(max(end[1], y + 70), y + h - 40))
        self.drag(corner, end, keys)
        self.count("gizmo drags")

    def act_select(self):
        choice = self.rnd.randrange(4)
        if choice == 0:
            xdo("key", "ctrl+a")
        elif choice == 1:
            xdo("key", "Escape")
        elif choice == 2:
            self.drag(self.point(), self.point())
        else:
            xdo("mousemove", *self.point())
            xdo("keydown", "shift")
            xdo("click", 1)
            xdo("keyup", "shift")
        self.count("selections")

    def act_undo_redo(self):
        for _ in range(self.rnd.randrange(1, 15)):
            xdo("key", "ctrl+z")
        for _ in range(self.rnd.randrange(0, 15)):
            xdo("key", self.rnd.choice(["ctrl+y", "ctrl+shift+z"]))
        self.count("undo bursts")

    ARRANGE = ["ctrl+p", "ctrl+alt+n", "ctrl+alt+a", "ctrl+shift+p", "ctrl+Prior", "ctrl+Next",
               "ctrl+shift+Prior", "ctrl+shift+Next", "alt+shift+h", "alt+shift+v", "ctrl+r",
               "ctrl+shift+r", "ctrl+g", "Delete"]

    def act_arrange(self):
        if self.rnd.random() < 0.5:
            xdo("key", "ctrl+a")
        xdo("key", self.rnd.choice(self.ARRANGE))
        self.count("arranging")

    def act_view(self):
        choice = self.rnd.randrange(5)
        xdo("mousemove", *self.point())
        if choice == 0:
            xdo("click", "--repeat", self.rnd.randrange(1, 6), self.rnd.choice([4, 5]))
        elif choice == 1:
            self.drag(self.point(), self.point(), button=2)
        else:
            xdo("key", self.rnd.choice(["ctrl+0", "ctrl+1", "space", "ctrl+space", "Right",
                                        "Left"]))
        self.count("view changes")

    def act_menu(self):
        xdo("mousemove", *self.point())
        xdo("click", 3)
        time.sleep(0.4)
        xdo("key", "Escape")
        self.count("context menus")

    def act_save(self):
        # In place once the board has a file, the quick way a person saves.
        if self.main.title() != "Velkora":
            xdo("key", "ctrl+s")
            self.count("quick saves")

    # Checks ----------------------------------------------------------------------------------

    def checkpoint(self, round_, last=False):
        """Reads the autosave of the time since the last check, compares the live board with its
        save and with that save opened again, pastes the board into a second instance and
        compares, then returns to the home board and measures memory."""
        self.main.answers()
        self.check_autosave(round_)
        copy = self.copy_whole_board(self.main, may_be_empty=True)
        saved = self.save_as(self.main, "round%03d.vlk" % round_)
        expected = self.read_board(saved)
        # The actions may delete every item (Ctrl+A, Delete): such a board has nothing to copy.
        if copy is None and expected:
            raise CheckFailed("%s: Ctrl+A Ctrl+C put no copy on the clipboard within %ds, and "
                              "the board holds %d items" % (self.main.name, JOB_SECONDS,
                                                            len(expected)))
        live = self.copied_items(copy) if copy is not None else []
        self.compare("saved board", "the live board", saved, live, self.kinds(expected))
        self.open_board(self.main, saved)
        # An empty board opened again shows nothing to copy either: no two minutes spent on it.
        reopened = self.copy_whole_board(self.main) if live else None
        self.compare("reopened board", "the live board", saved + " opened again", live,
                     self.copied_items(reopened) if reopened is not None else [])
        self.count("reopen comparisons")
        # Item by item, pixels and transforms too, which the copy's records do not show.
        again = self.save_as(self.main, "round%03d-again.vlk" % round_)
        self.compare("reopened board saved again", saved, again, expected, self.read_board(again))

        if len(expected) > 1 and round_ % 2 == 1:
            self.second_instance(saved, expected, round_)

        # A copy keeps its pixels in the copying instance for as long as it is on the clipboard:
        # the same board is measured with the clipboard in the same state, another program's.
        self.clipboard.offer(["-t", "UTF8_STRING", "-i"], b"soak")
        # A copy of its own each time: the program saves into the board it opened (Ctrl+S,
        # autosaves), and the actions until the next round would change the board measured.
        home = os.path.join(self.boards, "home%03d.vlk" % round_)
        shutil.copyfile(self.home, home)
        self.open_board(self.main, home)
        self.settle()
        self.measure_memory()
        self.look_for_autosaves()
        # Every other stretch between checks is spent on a board without a file, which autosaves
        # into the user's state folder; the others on the home board's copy, which quick saves
        # and autosaves write in place, backup and all.
        if last:
            return
        if round_ % 2 == 0:
            self.leave_file()
        else:
            self.untitled_since = None
            self.in_place = (home, os.stat(home).st_mtime_ns)

    def leave_file(self):
        """Goes on with the board as it is, but without a file: a paste of all of it into a new
        board."""
        self.copy_whole_board(self.main, may_be_empty=True)
        self.new_board(self.main)
        xdo("mousemove", *self.centre())
        xdo("key", "ctrl+v")
        self.untitled_since = time.time()
        self.in_place = None

    # An autosave is due a minute after the board changed (AutoSaveInterval=1), put off by a
    # second at a time while a job, a gesture or a dialog runs.
    AUTOSAVE_SECONDS = 100

    def check_autosave(self, round_):
        """Reads the autosave the time since the last check left: a board without a file must
        have one in the state folder, and it must read whole; a board with a file autosaves
        into that file, which must then read whole too."""
        folder = os.path.join(self.env["XDG_STATE_HOME"], "velkora", "autosave")
        if self.untitled_since is None:
            if self.in_place and os.stat(self.in_place[0]).st_mtime_ns != self.in_place[1]:
                path = self.in_place[0]
                lines = self.read_steadily(path, path + ".read")
                log("check autosave: %s, saved in place, reads whole with %d items"
                    % (os.path.basename(path), len(lines) - 1))
                self.count("in-place saves compared")
            elif self.in_place:
                log("check autosave: %s not saved since it was opened"
                    % os.path.basename(self.in_place[0]))
            return
        deadline = self.untitled_since + self.AUTOSAVE_SECONDS
        while True:
            found = [os.path.join(folder, name) for name in os.listdir(folder)
                     if name.endswith(".vlk")] if os.path.isdir(folder) else []
            if found or time.time() > deadline:
                break
            self.main.check_alive()
            self.dismiss_unexpected(self.main)
            time.sleep(1)
        if not found:
            self.count("autosaves missing")
            self.fail("no autosave in %s %.0fs after the board lost its file"
                      % (folder, time.time() - self.untitled_since))
            return
        path = max(found, key=lambda p: os.stat(p).st_mtime)
        lines = self.read_steadily(path, os.path.join(self.boards, "autosave%03d.vlk" % round_))
        # The actions may have deleted every item before the autosave came: an autosave that
        # reads whole with none is such a board, or the next one's start, not a loss.
        if len(lines) < 2:
            self.count("autosaves without items")
        log("check autosave: %s reads whole with %d items (%d autosave files)"
            % (os.path.basename(path), len(lines) - 1, len(found)))
        self.count("autosaves compared")

    def read_steadily(self, path, copy):
        """Reads a board the program may be writing in the background: a copy taken while the
        file has not changed for a few seconds is read; when it reads with errors and the file
        has changed since, a save was under way, and it is read again."""
        for _ in range(5):
            deadline = time.time() + JOB_SECONDS
            while time.time() - os.stat(path).st_mtime < 3 and time.time() < deadline:
                time.sleep(0.5)
            before = os.stat(path)
            shutil.copyfile(path, copy)
            if (os.stat(path).st_mtime_ns, os.stat(path).st_size) != (before.st_mtime_ns,
                                                                     before.st_size):
                continue
            done = subprocess.run([self.dump, copy], stdout=subprocess.PIPE, text=True,
                                  timeout=JOB_SECONDS)
            if done.returncode == 0:
                return done.stdout.splitlines()
            time.sleep(5)
            if os.stat(path).st_mtime_ns == before.st_mtime_ns:
                self.count("autosaves that do not read")
                raise CheckFailed("%s reads with errors (copy %s): %s" % (
                    path, copy, "; ".join(l for l in done.stdout.splitlines()
                                          if l.startswith("error"))))
        raise CheckFailed("%s changed at every reading" % path)

    # The bounds on the anonymous memory of the home board, less the pages given back lazily
    # (heap and pixels: the pages of libraries never grow and would hide its growth): against
    # the first check, and as growth an hour.
    ANONYMOUS_BOUND = 1.10
    GROWTH_BOUND_MB_PER_HOUR = 4.0
    # The growth is the least-squares slope over the checks after the first quarter hour: that
    # quarter fills the caches that fill once (fonts, glyphs, icons, the allocator's arenas),
    # and a slope over many checks is not swayed by one check that came at a bad moment, as
    # first-to-last is. A short run has no slope; first-to-last is reported beside it.
    SETTLING_SECONDS = 15 * 60
    SLOPE_CHECKS = 3

    def measure_memory(self):
        """The home board's memory, once it has settled: resident and anonymous, both less the
        pages given back lazily. The blocks of the pictures a closed board freed wait there half
        a minute for the next pictures of their size, and the kernel takes them back whenever
        it wants the memory."""
        memory = self.main.memory_kb()
        lazy = memory["LazyFree"]
        rss = memory["Rss"] - lazy
        anonymous = memory["Anonymous"] - lazy
        self.rss_max = max(self.rss_max, memory["Rss"])
        self.memory.append((time.time() - self.started, rss, anonymous))
        first = self.memory[0]
        ratio = anonymous / first[2]
        log("check memory: on the home board, less %.1f MB given back lazily, %.1f MB resident "
            "(%.3f of the first), %.1f MB anonymous (%.3f of the first)%s"
            % (lazy / 1024, rss / 1024, rss / first[1], anonymous / 1024, ratio,
               ", the yardstick" if len(self.memory) == 1 else ""))
        if ratio > self.ANONYMOUS_BOUND:
            # Noted, and the run goes on: the later rounds tell growth that levels off from
            # growth that does not.
            self.count("memory checks beyond the bound")
            self.fail("anonymous memory on the home board grew to %.3f of the first" % ratio)

    def growth(self):
        """MB an hour: the least-squares slope after the first quarter hour (None with too few
        checks there), and first to last."""
        later = [(t / 3600, a / 1024) for t, _, a in self.memory if t >= self.SETTLING_SECONDS]
        slope = None
        if len(later) >= self.SLOPE_CHECKS:
            mean_t = sum(t for t, _ in later) / len(later)
            mean_a = sum(a for _, a in later) / len(later)
            spread = sum((t - mean_t) ** 2 for t, _ in later)
            if spread > 0:
                slope = sum((t - mean_t) * (a - mean_a) for t, a in later) / spread
        first_to_last = None
        if len(self.memory) >= 2 and self.memory[-1][0] > self.memory[0][0]:
            first_to_last = ((self.memory[-1][2] - self.memory[0][2]) / 1024
                             / ((self.memory[-1][0] - self.memory[0][0]) / 3600))
        return slope, first_to_last

    def second_instance(self, saved, expected, round_):
        """Copies the whole board and pastes it into a second, empty instance."""
        second = self.instance("second%d" % round_, (820, 760))
        try:
            second.start()
            # Copying a whole board takes a few seconds on a busy machine (its picture is
            # encoded for other programs): pasting before it has ended pastes whatever the
            # clipboard held before.
            self.copy_whole_board(self.main)
            second.activate()
            x, y, w, h = second.geometry()
            xdo("mousemove", x + w // 2, y + h // 2)
            xdo("key", "ctrl+v")
            path = os.path.join(self.boards, "pasted%03d.vlk" % round_)
            # The paste runs as a job; saving waits until it has ended.
            time.sleep(1)
            self.file_dialog(second, "ctrl+shift+s", ("Save Scene",), path)
            self.wait_title(second, path)
            got = self.read_board(path)
            try:
                self.compare("pasted into a second instance", saved, path,
                             self.without_places(expected), self.without_places(got))
            except CheckFailed:
                log("logs: the copier's %s, the paster's %s" % (self.main.logname(),
                                                                 second.logname()))
                raise
            self.count("second-instance pastes")
        finally:
            self.close(second)
            self.instances.remove(second)
        self.main.activate()

    def settle(self):
        """Waits until the resident memory stops moving: the pictures of a board decode on a
        pool after the load has ended."""
        last = self.main.rss_kb()
        steady = 0
        for _ in range(60):
            time.sleep(0.5)
            now = self.main.rss_kb()
            steady = steady + 1 if abs(now - last) < last * 0.005 else 0
            last = now
            if steady >= 4:
                return

    def look_for_autosaves(self):
        folder = self.env["XDG_STATE_HOME"]
        for top, _, files in os.walk(folder):
            for name in files:
                path = os.path.join(top, name)
                try:
                    self.autosaves.add((path, os.stat(path).st_mtime))
                except OSError:
                    pass

    def run(self):
        actions = [
            (self.act_load, 3), (self.act_paste_picture, 4), (self.act_paste_text, 2),
            (self.act_note, 2), (self.act_copy_paste_own, 3), (self.act_gesture, 14),
            (self.act_gizmo, 5), (self.act_select, 6), (self.act_undo_redo, 4),
            (self.act_arrange, 4), (self.act_view, 6), (self.act_menu, 1), (self.act_save, 1),
        ]
        pick = [a for a, weight in actions for _ in range(weight)]
        self.started = time.time()
        end = self.started + self.minutes * 60
        actions_done = 0
        round_ = 0
        try:
            self.main = self.instance("A")
            self.main.start(self.pictures[:4])
            self.geometry = self.main.geometry()
            # The home board: what the window shows after its first load, saved.
            # The files given at start load as one job; Save As is refused until it has ended,
            # which file_dialog waits out.
            saved = self.save_as(self.main, "home.vlk")
            self.home = os.path.join(self.boards, "home-kept.vlk")
            shutil.copyfile(saved, self.home)
            log("home board %s: %d items" % (self.home, len(self.read_board(self.home)) - 1))
            self.leave_file()
            # Half the time of a short run: the first check then comes after the first autosave.
            next_check = time.time() + min(self.CHECK_SECONDS, self.minutes * 60 / 2)
            while time.time() < end:
                action = self.rnd.choice(pick)
                self.main.activate()
                action()
                actions_done += 1
                time.sleep(self.rnd.choice([0.05, 0.1, 0.3]))
                self.main.check_alive()
                if actions_done % 10 == 0:
                    self.look_for_autosaves()
                if actions_done % 5 == 0 and self.main.geometry() != self.geometry:
                    self.count("window put back in place")
                    self.main.put_in_place()
                    time.sleep(0.3)
                    self.geometry = self.main.geometry()
                if actions_done % 25 == 0:
                    self.main.answers()
                    self.dismiss_unexpected(self.main)
                    self.rss_max = max(self.rss_max, self.main.rss_kb())
                if time.time() >= next_check:
                    round_ += 1
                    log("round %d after %d actions" % (round_, actions_done))
                    self.dismiss_unexpected(self.main)
                    self.checkpoint(round_)
                    next_check = time.time() + self.CHECK_SECONDS
            round_ += 1
            log("last round after %d actions" % actions_done)
            self.dismiss_unexpected(self.main)
            self.checkpoint(round_, last=True)
        except CheckFailed as failure:
            self.failed = True
            self.problems.append(str(failure).split("\n")[0])
            log("FAIL %s" % failure)
            self.diagnose()
        finally:
            # Closed before the summary, which tells how it ended.
            self.clipboard.release()
            if hasattr(self, "main"):
                self.close(self.main)
            self.summary(actions_done)

    def saves_in_log(self):
        """How many saves the main instance logged: the driver's and its own autosaves, which a
        board with a file of its own makes into that file."""
        total = 0
        for name in os.listdir(self.root):
            if name.startswith("A-") and name.endswith(".log"):
                with open(os.path.join(self.root, name), errors="replace") as lines:
                    total += sum(1 for line in lines if line.rstrip().endswith("Saving Scene"))
        return total

    def summary(self, actions_done):
        """The last lines of the run: what it did, what it compared, memory, dialogs, result."""
        slope, first_to_last = self.growth()
        if slope is not None and slope > self.GROWTH_BOUND_MB_PER_HOUR:
            self.fail("anonymous memory on the home board grows %.1f MB an hour" % slope)
        # Quick saves of an unchanged board write nothing: the difference is a lower bound.
        autosaves = max(0, self.saves_in_log() - self.counts.get("saves", 0)
                        - self.counts.get("quick saves", 0))
        log("summary: actions %s" % ", ".join("%s %d" % kv for kv in sorted(self.counts.items())))
        log("summary: max VmRSS %d MB, at least %d autosaves written (%d autosave file versions "
            "seen)" % (self.rss_max // 1024, autosaves, len(self.autosaves)))

        def figures(column):
            if not self.memory:
                return "-"
            first, last = self.memory[0][column], self.memory[-1][column]
            ratio = max(m[column] for m in self.memory) / first
            return "first %.1f MB, last %.1f MB, max ratio %.3f" % (first / 1024, last / 1024,
                                                                   ratio)

        log("summary: %.1f minutes, %d actions, %d saves (%d quick); compared: %d reopens, "
            "%d pastes, %d autosaves (and %d boards saved in place)"
            % ((time.time() - self.started) / 60, actions_done, self.counts.get("saves", 0),
               self.counts.get("quick saves", 0), self.counts.get("reopen comparisons", 0),
               self.counts.get("second-instance pastes", 0),
               self.counts.get("autosaves compared", 0),
               self.counts.get("in-place saves compared", 0)))
        log("summary: home board less lazily freed, resident: %s; anonymous: %s (bound %.2f), "
            "%s MB an hour by least squares after the first quarter hour (bound %.0f), %s MB an "
            "hour first to last"
            % (figures(1), figures(2), self.ANONYMOUS_BOUND,
               "%.1f" % slope if slope is not None else "-", self.GROWTH_BOUND_MB_PER_HOUR,
               "%.1f" % first_to_last if first_to_last is not None else "-"))
        log("summary: %d error dialogs, %d closes of which %d not clean"
            % (self.counts.get("error dialogs", 0), self.counts.get("closes", 0),
               self.counts.get("closes not clean", 0)))
        log("summary: %s" % ("FAILED: " + "; ".join(self.problems) if self.failed else "passed"))

class Instances(Session):
    """Two instances copy and paste between each other; now and then one of them is killed
    (SIGKILL) at a random moment and started again. The other must stay alive and answer, and
    a paste whose copier is gone must give the plain picture, which a clipboard manager keeps
    on the clipboard (played here by velkora_clipboard_keeper)."""

    # The moments a kill falls on, with their weights; most rounds kill nothing.
    MOMENTS = [("none", 10), ("copier after copy", 3), ("copier during paste", 3),
               ("paster during paste", 2), ("copier during copy", 1)]

    def __init__(self, program, seed, count):
        super().__init__(program, seed)
        self.rounds = count
        self.keeper_program = os.path.join(os.path.dirname(self.program),
                                           "velkora_clipboard_keeper")
        self.keeper = None
        with open(self.settings, "a") as ini:
            # A killed instance leaves no autosave to ask about when it starts again.
            ini.write("Auto_Save=false\n")
        self.files = {"A": self.pictures[0:2], "B": self.pictures[2:4]}

    def start(self, instance):
        instance.start(self.files[instance.name])

    def clipboard_copy(self, instance):
        """Selects all and copies in instance; returns the item count the program wrote into
        its private format, or None when the clipboard holds no copy of that instance."""
        instance.activate()
        xdo("key", "ctrl+a", "ctrl+c")
        deadline = time.time() + ANSWER_SECONDS
        while time.time() < deadline:
            instance.check_alive()
            header = self.private_header()
            if header and header[0] == instance.process.pid:
                return header[1]
            time.sleep(0.1)
        return None

    def count_items(self, instance):
        """The instance's item count, read from its own copy of everything."""
        for _ in range(3):
            count = self.clipboard_copy(instance)
            if count is not None:
                return count
            self.dismiss_unexpected(instance)
        raise CheckFailed("%s: Ctrl+A Ctrl+C put no copy on the clipboard" % instance.name)

    def snapshot(self):
        """What a clipboard manager would have taken from the copier: the private format and
        the plain picture."""
        kept = {}
        for mime in (self.MIME, "image/png"):
            path = os.path.join(self.root, "kept-" + mime.replace("/", "-"))
            data = subprocess.run(["xclip", "-o", "-selection", "clipboard", "-t", mime],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                  timeout=ANSWER_SECONDS).stdout
            if not data:
                return None
            with open(path, "wb") as out:
                out.write(data)
            kept[mime] = path
        return kept

    def keep(self, kept):
        self.release_keeper()
        args = [self.keeper_program]
        for mime, path in kept.items():
            args += [mime, path]
        self.keeper = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                       env=self.env, text=True)
        if self.keeper.stdout.readline().strip() != "ready":
            raise CheckFailed("the clipboard keeper did not start")

    def release_keeper(self):
        if self.keeper:
            if self.keeper.poll() is None:
                self.keeper.terminate()
            self.keeper.wait()
            self.keeper = None

    def paste(self, instance):
        instance.activate()
        x, y, w, h = instance.geometry()
        xdo("mousemove", x + w // 2 + self.rnd.randrange(-100, 100),
            y + h // 2 + self.rnd.randrange(-100, 100))
        xdo("key", "ctrl+v")

    def wait_count(self, instance, allowed):
        """Waits until the instance holds the largest of the allowed counts, or another allowed
        one that has stayed for a few seconds (a paste cut short); returns it."""
        deadline = time.time() + JOB_SECONDS
        last, since = None, time.time()
        while time.time() < deadline:
            count = self.count_items(instance)
            if count == max(allowed):
                return count
            if count != last:
                last, since = count, time.time()
            elif count in allowed and time.time() - since > 3:
                return count
            self.dismiss_unexpected(instance)
            time.sleep(0.3)
        raise CheckFailed("%s: holds %s items, expected one of %s" % (instance.name, last,
                                                                     allowed))

    def run(self):
        a = self.instance("A", (20, 760))
        b = self.instance("B", (820, 760))
        started = time.time()
        done = 0
        try:
            for instance in (a, b):
                self.start(instance)
            for round_ in range(1, self.rounds + 1):
                copier, paster = (a, b) if self.rnd.random() < 0.5 else (b, a)
                moment = self.rnd.choice([m for m, weight in self.MOMENTS for _ in range(weight)])
                before = self.count_items(paster)
                if moment == "copier during copy":
                    copier.activate()
                    xdo("key", "ctrl+a", "ctrl+c")
                    time.sleep(self.rnd.random() * 0.3)
                    copier.kill()
                    self.count("kills")
                    self.paste(paster)
                    paster.answers()
                    self.start(copier)
                    log("round %d: %s killed while copying, %s answers"
                        % (round_, copier.name, paster.name))
                    done += 1
                    continue
                copied = self.count_items(copier)
                kept = self.snapshot()
                if moment == "copier after copy":
                    copier.kill()
                    self.count("kills")
                    if kept:
                        self.keep(kept)
                    self.paste(paster)
                    # The copier is gone: the plain picture is one item.
                    got = self.wait_count(paster, [before + 1])
                    self.count("fallback pastes")
                    self.start(copier)
                elif moment == "copier during paste":
                    self.paste(paster)
                    time.sleep(self.rnd.random() * 0.5)
                    copier.kill()
                    self.count("kills")
                    if kept:
                        self.keep(kept)
                    paster.answers()
                    self.dismiss_unexpected(paster)
                    # Whole when the copy had come over, the plain picture when the clipboard
                    # manager had taken over in time, nothing when neither.
                    got = self.wait_count(paster, [before, before + 1, before + copied])
                    self.count({before: "kills ending a paste with nothing",
                                before + 1: "kills ending a paste in the plain picture"}
                               .get(got, "kills after a whole paste"))
                    self.start(copier)
                elif moment == "paster during paste":
                    self.paste(paster)
                    time.sleep(self.rnd.random() * 0.5)
                    paster.kill()
                    self.count("kills")
                    copier.answers()
                    self.dismiss_unexpected(copier)
                    self.start(paster)
                    got = None
                else:
                    self.paste(paster)
                    got = self.wait_count(paster, [before + copied])
                    self.count("pastes between instances")
                log("round %d: %s copied %d, %s: %s%s" % (
                    round_, copier.name, copied, moment, paster.name,
                    "" if got is None else " went from %d to %d items" % (before, got)))
                # Boards stay small: what was pasted goes again.
                if got is not None and got > 12:
                    paster.activate()
                    xdo("key", "ctrl+n")
                    self.start_over(paster)
                done += 1
        except CheckFailed as failure:
            self.failed = True
            log("FAIL %s" % failure)
            self.diagnose()
        finally:
            self.release_keeper()
            # Closed before the summary, which tells how they ended.
            for instance in self.instances:
                self.close(instance)
            log("summary: %d of %d rounds in %.1f minutes; %s; %s" % (
                done, self.rounds, (time.time() - started) / 60,
                ", ".join("%s %d" % kv for kv in sorted(self.counts.items())),
                "FAILED" if self.failed else "passed"))

    def start_over(self, instance):
        """A cleared board gets its two pictures again, from a restart."""
        self.close(instance)
        self.start(instance)


def main():
    if len(sys.argv) != 5 or sys.argv[1] not in ("soak", "instances"):
        sys.exit(__doc__)
    mode, amount, seed, program = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    if mode == "soak":
        session = Soak(program, seed, amount)
    else:
        session = Instances(program, seed, amount)
    try:
        session.run()
    finally:
        session.finish()
    sys.exit(1 if session.failed else 0)


if __name__ == "__main__":
    main()
