#!/usr/bin/env python3
"""Times the built Quadrix under a private Xvfb (1920x1080, 24 bits), as a user sees it:

  splash  from starting the process to the splash window on the screen;
  start   from the splash on the screen to the main window on the screen, less the splash's
          mandated 1000 ms: how long the main window takes once the splash has had its second;
  hotkey  from pressing Ctrl+Alt+C (xdotool) to ImageN.bmp written complete (1920x1080, 24 bits);
  import  the same screen written as a BMP by ImageMagick's import, the reference.

Usage: quadrix_timing.py BUILD_DIR [RUNS]; prints one "name median_ms" line per measure."""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from xvfb import start_xvfb  # noqa: E402

build = os.path.abspath(sys.argv[1])
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
quadrix = os.path.join(build, "bin", "Quadrix")
BMP_SIZE = 54 + 1920 * 1080 * 3


def visible(env, name):
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name], env=env,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    return found.stdout.split()


def wait_window(env, name="^Quadrix$", timeout=30):
    """The moment (time.monotonic) a window of that name is first seen on the screen."""
    begin = time.monotonic()
    while not visible(env, name):
        if time.monotonic() - begin > timeout:
            raise SystemExit("no window %s" % name)
        time.sleep(0.002)
    return time.monotonic()


def complete(path):
    return os.path.exists(path) and os.path.getsize(path) == BMP_SIZE


def main():
    server, display = start_xvfb()
    home = tempfile.mkdtemp(prefix="qdx-bench-")
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb", QUADRIX_HOME=home,
               XDG_CONFIG_HOME=os.path.join(home, "config"))
    env.pop("QUADRIX_BANNER_HOST", None)
    try:
        splashes, starts = [], []
        for _ in range(runs):
            begin = time.monotonic()
            program = subprocess.Popen([quadrix], env=env, stderr=subprocess.DEVNULL)
            splash = wait_window(env, "^Quadrix [0-9.]*$")
            shown = wait_window(env)
            splashes.append((splash - begin) * 1000)
            starts.append((shown - splash) * 1000 - 1000)
            program.kill()
            program.wait()
        print("splash %.1f" % statistics.median(splashes))
        print("start %.1f" % statistics.median(starts))

        program = subprocess.Popen([quadrix], env=env, stderr=subprocess.DEVNULL)
        wait_window(env)
        time.sleep(0.5)
        presses = []
        for n in range(1, runs + 1):
            target = os.path.join(home, "Image%d.bmp" % n)
            begin = time.monotonic()
            subprocess.run(["xdotool", "key", "ctrl+alt+c"], env=env, check=True)
            while not complete(target):
                if time.monotonic() - begin > 10:
                    raise SystemExit("no %s" % target)
                time.sleep(0.0005)
            presses.append((time.monotonic() - begin) * 1000)
            time.sleep(0.3)
        program.kill()
        program.wait()
        print("hotkey %.1f" % statistics.median(presses))

        imports = []
        for n in range(runs):
            target = os.path.join(home, "import%d.bmp" % n)
            begin = time.monotonic()
            subprocess.run(["import", "-window", "root", "-depth", "8", "BMP3:" + target], env=env,
                           check=True)
            imports.append((time.monotonic() - begin) * 1000)
        print("import %.1f" % statistics.median(imports))
    finally:
        server.terminate()
        server.wait()
        shutil.rmtree(home, ignore_errors=True)


main()
