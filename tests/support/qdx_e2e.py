"""End-to-end tests of the built programs under a private X server, driven as a user would.

A Session starts its own Xvfb, a D-Bus session bus and the accessibility (AT-SPI) bus, so tests
can run side by side. Programs started from it run on the xcb platform with Qt's accessibility
bridge always on; their windows, menus, buttons and fields are found by role and accessible name,
and pressed, filled and read through the accessibility bus. Keys, clicks and drags that need the
real pointer go through xdotool.

    import qdx_e2e as e2e

    class SplitWindowTest(e2e.TestCase):
        def test_cut(self):
            app = self.session.start("Quadrix")          # QUADRIX_HOME is a fresh folder
            self.session.menu(app, "Tools", "Split Movie (AVI)")
            button = self.session.find(app, "push button", "Select Archive")
            self.session.press(button)                     # never waits for a modal dialog
            dialog = self.session.find_window(app, "Select the archive to compress.")
            ...
            self.session.screenshot("split.png")

Run a test file directly (`/usr/bin/python3 tests/app/e2e_split.py`) or through CTest
(`qdx_e2e_test` in cmake/QdxTargets.cmake). The programs come from $QDX_BIN (CTest sets it),
else build/bin beside this folder. Set QDX_E2E_KEEP=1 to keep the test folders.

Role names are AT-SPI's ("push button", "menu item", "menu", "text", "check box", "dialog",
"frame", "label", "spin button", "list", "list item", "table cell", "tree item", "combo box",
"slider", "status bar", "page tab", "tool bar", "panel", "filler").
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(os.path.dirname(HERE))


def program_path(name):
    """The built program `name` (Quadrix, QDXCapture, qdx)."""
    folder = os.environ.get("QDX_BIN") or os.path.join(SOURCE_DIR, "build", "bin")
    return os.path.join(folder, name)


def wait_until(condition, timeout=15.0, interval=0.05, what="condition"):
    """Polls `condition` until it returns a true value, which is returned; raises on timeout."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise TimeoutError("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)


def run(arguments, timeout=60, check=True, **kwargs):
    """Runs a command and returns its CompletedProcess (text output)."""
    result = subprocess.run(arguments, capture_output=True, text=True, timeout=timeout, **kwargs)
    if check and result.returncode != 0:
        raise RuntimeError("%s exited %d: %s" % (arguments[0], result.returncode, result.stderr.strip()))
    return result


def ffprobe_count_frames(path, stream="v:0"):
    """Frames ffprobe decodes in the film's first video stream (or the given stream)."""
    result = run(["ffprobe", "-v", "error", "-count_frames", "-select_streams", stream,
                  "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", path])
    return int(result.stdout.strip().splitlines()[0])


def ffprobe_stream(path, stream, entries):
    """A dict of the named stream entries (e.g. "codec_name,width,height,nb_frames")."""
    result = run(["ffprobe", "-v", "error", "-select_streams", stream, "-show_entries",
                  "stream=" + entries, "-of", "default=nw=1", path])
    values = {}
    for line in result.stdout.splitlines():
        key, _, value = line.partition("=")
        values[key] = value
    return values


class Program:
    """One started program: its process, its folders and its node on the accessibility bus."""

    def __init__(self, session, process, home, name):
        self.session = session
        self.process = process
        self.home = home
        self.name = name
        self._node = None

    @property
    def pid(self):
        return self.process.pid

    def running(self):
        return self.process.poll() is None

    def node(self, timeout=20.0):
        """The program's application node on the accessibility bus."""
        if self._node is None:
            self._node = self.session.application(self.pid, timeout)
        return self._node

    def wait(self, timeout=30.0):
        """Waits for the program to end and returns its exit code."""
        return self.process.wait(timeout)

    def stop(self):
        if self.running():
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(5)


class Session:
    """Xvfb + D-Bus session bus + AT-SPI bus, and the programs started on them."""

    def __init__(self, width=1280, height=1024, depth=24):
        self.width, self.height, self.depth = width, height, depth
        self.folder = tempfile.mkdtemp(prefix="qdx-e2e-")
        self.programs = []
        self.env = dict(os.environ)
        self._xvfb = None
        self._bus_pid = None
        self._atspi_launcher = None
        self._atspi = None

    # -- set-up and tear-down -------------------------------------------------------------------
    def __enter__(self):
        try:
            self._start_x()
            self._start_buses()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def _start_x(self):
        read_end, write_end = os.pipe()
        self._xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
             "%dx%dx%d" % (self.width, self.height, self.depth), "-nolisten", "tcp", "-noreset",
             "+extension", "MIT-SHM"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number
        self.env["DISPLAY"] = self.display
        for name in ("WAYLAND_DISPLAY", "QUADRIX_BANNER_HOST", "QT_QPA_PLATFORM"):
            self.env.pop(name, None)

    def _start_buses(self):
        output = run(["dbus-launch", "--sh-syntax"], env=self.env).stdout
        for line in output.splitlines():
            if line.startswith("DBUS_SESSION_BUS_ADDRESS="):
                self.env["DBUS_SESSION_BUS_ADDRESS"] = line.split("=", 1)[1].strip().rstrip(";").strip("'")
            elif line.startswith("DBUS_SESSION_BUS_PID="):
                self._bus_pid = int(line.split("=", 1)[1].strip().rstrip(";"))
        self._atspi_launcher = subprocess.Popen(
            ["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"], env=self.env,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # This process talks to the same buses: pyatspi reads them from the environment when
        # first imported.
        for name in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS"):
            os.environ[name] = self.env[name]
        wait_until(self._a11y_address, timeout=15, what="the accessibility bus")
        import gi
        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi
        self._atspi = Atspi
        Atspi.init()

    def _a11y_address(self):
        result = subprocess.run(
            ["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
             "org.a11y.Bus.GetAddress"], env=self.env, capture_output=True, text=True)
        if result.returncode != 0 or "string" not in result.stdout:
            return None
        self.a11y_bus = result.stdout.split('"')[1]
        return self.a11y_bus

    def close(self):
        for program in self.programs:
            program.stop()
        if self._atspi_launcher:
            self._atspi_launcher.terminate()
            try:
                self._atspi_launcher.wait(5)
            except subprocess.TimeoutExpired:
                self._atspi_launcher.kill()
        if self._bus_pid:
            try:
                os.kill(self._bus_pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        if self._xvfb:
            self._xvfb.terminate()
            try:
                self._xvfb.wait(5)
            except subprocess.TimeoutExpired:
                self._xvfb.kill()
        if not os.environ.get("QDX_E2E_KEEP"):
            shutil.rmtree(self.folder, ignore_errors=True)

    # -- programs -------------------------------------------------------------------------------
    def new_folder(self, name):
        path = os.path.join(self.folder, name)
        os.makedirs(path, exist_ok=True)
        return path

    def start(self, name, args=(), home=None, env=None, config_home=None, path=None):
        """Starts the built program `name` (or the program at `path`) with its own application
        folder (QUADRIX_HOME) and per-user configuration folder (XDG_CONFIG_HOME), both fresh
        unless given. With `path`, `home` is the user's home folder instead: the program picks
        its application folder itself, as an installed program does."""
        home = home or self.new_folder("home-%d" % len(self.programs))
        environment = dict(self.env)
        if path:
            environment.pop("QUADRIX_HOME", None)
            environment.pop("XDG_DATA_HOME", None)
            environment["HOME"] = home
        else:
            environment["QUADRIX_HOME"] = home
        environment.update({
            "XDG_CONFIG_HOME": config_home or os.path.join(home, "config"),
            "QT_QPA_PLATFORM": "xcb",
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
            "QT_ACCESSIBILITY": "1",
            "NO_AT_BRIDGE": "0",
        })
        environment.update(env or {})
        log = open(os.path.join(self.folder, "%s-%d.log" % (name, len(self.programs))), "w")
        process = subprocess.Popen([path or program_path(name)] + list(args), env=environment,
                                   stdout=log, stderr=subprocess.STDOUT, cwd=home)
        program = Program(self, process, home, name)
        program.log = log.name
        self.programs.append(program)
        return program

    def application(self, pid, timeout=20.0):
        """The application node of process `pid` on the accessibility bus."""
        def look():
            desktop = self._atspi.get_desktop(0)
            for i in range(desktop.get_child_count()):
                child = desktop.get_child_at_index(i)
                try:
                    if child is not None and child.get_process_id() == pid:
                        return child
                except Exception:
                    continue
            return None
        return wait_until(look, timeout, what="process %d on the accessibility bus" % pid)

    # -- finding nodes --------------------------------------------------------------------------
    @staticmethod
    def _role(node):
        try:
            return node.get_role_name()
        except Exception:
            return None

    @staticmethod
    def _name(node):
        try:
            return node.get_name()
        except Exception:
            return None

    def _walk(self, node, depth=0, limit=60):
        yield node
        if depth >= limit:
            return
        try:
            count = node.get_child_count()
        except Exception:
            return
        for i in range(count):
            try:
                child = node.get_child_at_index(i)
            except Exception:
                continue
            if child is not None:
                yield from self._walk(child, depth + 1, limit)

    def _root(self, where):
        return where.node() if isinstance(where, Program) else where

    def find_all(self, where, role=None, name=None, showing=False):
        """Every node below `where` (a Program or a node) of the role and accessible name given
        (None matches any; a name may also be a callable test)."""
        found = []
        for node in self._walk(self._root(where)):
            if role is not None and self._role(node) != role:
                continue
            if name is not None:
                text = self._name(node)
                if callable(name):
                    if not name(text):
                        continue
                elif text != name:
                    continue
            if showing and not self.is_showing(node):
                continue
            found.append(node)
        return found

    def find(self, where, role=None, name=None, timeout=10.0, showing=False):
        """The first node below `where` of the role and name given, waiting for it to appear."""
        def look():
            nodes = self.find_all(where, role, name, showing)
            return nodes[0] if nodes else None
        return wait_until(look, timeout, what="%s %r" % (role or "node", name))

    def gone(self, where, role=None, name=None, timeout=10.0):
        """Waits until no node of that role and name is below `where`."""
        wait_until(lambda: not self.find_all(where, role, name, showing=True), timeout,
                   what="%s %r to go" % (role or "node", name))

    def find_window(self, where, title, timeout=10.0):
        """A top-level window or dialog of the program by its caption."""
        def look():
            for role in ("dialog", "frame", "window", "file chooser", "alert"):
                nodes = self.find_all(where, role, title)
                if nodes:
                    return nodes[0]
            return None
        return wait_until(look, timeout, what="window %r" % title)

    def is_showing(self, node):
        try:
            return node.get_state_set().contains(self._atspi.StateType.SHOWING)
        except Exception:
            return False

    def has_state(self, node, state_name):
        """True when the node has the state (e.g. "enabled", "checked", "focused", "selected")."""
        state = getattr(self._atspi.StateType, state_name.upper())
        return node.get_state_set().contains(state)

    def dump(self, where, file=sys.stderr):
        """Prints the tree of roles and names below `where` (for writing a test)."""
        def show(node, depth):
            print("  " * depth + "%s %r" % (self._role(node), self._name(node)), file=file)
            if depth < 40:
                for i in range(node.get_child_count()):
                    child = node.get_child_at_index(i)
                    if child is not None:
                        show(child, depth + 1)
        show(self._root(where), 0)

    # -- acting ---------------------------------------------------------------------------------
    def actions(self, node):
        action = node.get_action_iface()
        if action is None:
            return []
        return [action.get_action_name(i) for i in range(action.get_n_actions())]

    def press(self, node, action=None):
        """Carries out the node's action (its first, or the one named) without waiting for the
        program's answer: an action that opens a modal dialog answers only when it closes."""
        names = self.actions(node)
        if not names:
            raise RuntimeError("%s %r has no action" % (self._role(node), self._name(node)))
        index = names.index(action) if action else 0
        # A short time limit for this one call: the action is carried out whether or not its
        # answer arrives in time, and a modal dialog it opens keeps the answer back.
        self._atspi.set_timeout(1500, 15000)
        try:
            node.do_action(index)
        except Exception as error:
            if "imeout" not in str(error) and "NoReply" not in str(error):
                raise
        finally:
            self._atspi.set_timeout(25000, 15000)

    def menu(self, where, *path, timeout=10.0):
        """Chooses a menu entry by its captions, e.g. menu(app, "AVI", "Compress AVI"); captions
        are compared without their "&" marks. The entries above the last are only looked up (Qt
        lists every menu's entries on the bus whether or not the menu is open); the last is
        pressed without waiting for the program's answer."""
        node = self._root(where)
        roles = ("menu", "menu item", "check menu item", "radio menu item")
        for caption in path:
            wanted = caption.replace("&", "")
            below = node
            node = wait_until(
                lambda: next((n for n in self._walk(below) if self._role(n) in roles
                              and (self._name(n) or "").replace("&", "") == wanted), None),
                timeout, what="menu entry %r" % caption)
        self.press(node)

    def set_text(self, node, text):
        """Replaces the text of an editable field."""
        editable = node.get_editable_text_iface()
        if editable is None:
            raise RuntimeError("%s %r is not editable" % (self._role(node), self._name(node)))
        editable.set_text_contents(text)

    def text(self, node):
        """The text of a field or label (its accessible text, else its name)."""
        iface = node.get_text_iface()
        if iface is not None:
            return iface.get_text(0, iface.get_character_count())
        return self._name(node)

    def value(self, node):
        iface = node.get_value_iface()
        return iface.get_current_value() if iface is not None else None

    def extents(self, node):
        """(x, y, width, height) of the node on the screen."""
        component = node.get_component_iface()
        rect = component.get_extents(self._atspi.CoordType.SCREEN)
        return rect.x, rect.y, rect.width, rect.height

    def center(self, node):
        x, y, w, h = self.extents(node)
        return x + w // 2, y + h // 2

    def xdotool(self, *arguments):
        return run(["xdotool"] + [str(a) for a in arguments], env=self.env).stdout.strip()

    def key(self, *keys):
        """Presses keys one after the other, e.g. key("ctrl+alt+v") or key("Tab", "Return")."""
        self.xdotool("key", "--delay", "60", *keys)

    def type(self, text):
        self.xdotool("type", "--delay", "20", text)

    def click(self, node_or_point, button=1):
        x, y = node_or_point if isinstance(node_or_point, tuple) else self.center(node_or_point)
        self.xdotool("mousemove", "--sync", x, y)
        self.xdotool("click", button)

    def drag(self, start, end, modifiers=(), steps=10):
        """Drags the pointer with the left button from `start` to `end` (screen points), with the
        modifier keys held (e.g. ("shift",))."""
        for modifier in modifiers:
            self.xdotool("keydown", modifier)
        self.xdotool("mousemove", "--sync", *start)
        self.xdotool("mousedown", 1)
        for i in range(1, steps + 1):
            x = start[0] + (end[0] - start[0]) * i // steps
            y = start[1] + (end[1] - start[1]) * i // steps
            self.xdotool("mousemove", "--sync", x, y)
            time.sleep(0.02)
        self.xdotool("mouseup", 1)
        for modifier in reversed(modifiers):
            self.xdotool("keyup", modifier)

    def screenshot(self, path):
        """Writes a PNG of the whole screen."""
        run(["import", "-window", "root", path], env=self.env)
        return path


class TestCase(unittest.TestCase):
    """A test case whose tests each run in a new Session (self.session)."""

    screen = (1280, 1024)

    def setUp(self):
        self.session = Session(*self.screen).__enter__()
        self.addCleanup(self.session.close)

    def fail_with_screen(self, message):
        shot = self.session.screenshot(os.path.join(self.session.folder, "failure.png"))
        self.fail("%s (screen: %s)" % (message, shot))


def main():
    """Runs the calling module's tests; prints CTest-friendly totals."""
    program = unittest.main(exit=False, verbosity=2)
    result = program.result
    failed = len(result.failures) + len(result.errors)
    print("%d passed, %d failed" % (result.testsRun - failed - len(result.skipped), failed))
    sys.exit(0 if result.wasSuccessful() else 1)
