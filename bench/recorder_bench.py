#!/usr/bin/env python3
"""Records a 1920x1080x24 Xvfb screen through the built QDXCapture and through
`ffmpeg -f x11grab` (uncompressed 24-bit AVI, pointer drawn), one after the other in the same run,
at each rate given, and prints for each: pictures written against the frames due, dropped
positions, CPU time, and resident memory every 10 s.

QDXCapture runs as a user starts it ("play", automatic name, no compression) and is ended with
SIGTERM, which closes its window and keeps the film; the recorded time is taken from the film's
first to its last frame position.

Usage: recorder_bench.py BUILD_DIR [SECONDS] [RATE...]   (defaults: 60 s, rates 10 and 30)"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from xvfb import start_xvfb  # noqa: E402

build = os.path.abspath(sys.argv[1])
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 60.0
rates = [int(r) for r in sys.argv[3:]] or [10, 30]
recorder = os.path.join(build, "bin", "QDXCapture")
TICK = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    """User + system CPU time of a running process (its threads included)."""
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def watch(process, duration):
    """Samples resident memory every 10 s for `duration` seconds; returns (samples, cpu)."""
    samples = []
    begin = time.monotonic()
    cpu = 0.0
    while time.monotonic() - begin < duration:
        time.sleep(min(10.0, duration - (time.monotonic() - begin)))
        if process.poll() is not None:
            break
        samples.append(rss_kib(process.pid))
        cpu = cpu_seconds(process.pid)
    return samples, cpu


def packets(film):
    """(positions, pictures): the film's frame positions up to its last picture (a position the
    recorder could not fill in time is an empty chunk, which ffprobe does not list as a packet but
    whose time it keeps) and the pictures among them."""
    out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                          "packet=pts,size", "-of", "csv=p=0", film],
                         capture_output=True, text=True, check=True).stdout.split()
    rows = [line.split(",") for line in out if "," in line]
    pictures = [(int(pts), int(size)) for pts, size in rows if pts.isdigit() and int(size) > 0]
    if not pictures:
        return 0, 0
    return max(pts for pts, _ in pictures) + 1, len(pictures)


def ours(display, rate, work):
    home = os.path.join(work, "home")
    shutil.rmtree(home, ignore_errors=True)
    os.makedirs(home)
    with open(os.path.join(home, "config.ini"), "w") as ini:
        ini.write("[configuracoes]\nsalvar_automaticamente_video=1\ncompactar_video=0\n"
                  "numero_quadros_por_milisegundo=%d\ncaminho_video_padrao=%s/\n"
                  "numero_cores_video=True Color (24 bits)\n" % (rate, home))
    env = dict(os.environ, DISPLAY=display, QUADRIX_HOME=home, QT_QPA_PLATFORM="xcb",
               XDG_CONFIG_HOME=os.path.join(home, "config"),
               XDG_RUNTIME_DIR=os.path.join(work, "run"))
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
    film = os.path.join(home, "Video1.avi")
    process = subprocess.Popen([recorder, "play"], env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    while not os.path.exists(film):
        time.sleep(0.01)
    samples, cpu = watch(process, seconds)
    process.terminate()
    process.wait(120)
    positions, pictures = packets(film)
    os.remove(film)
    return positions, pictures, cpu, samples


def theirs(display, rate, work):
    film = os.path.join(work, "ffmpeg.avi")
    process = subprocess.Popen(["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "x11grab",
                                "-framerate", str(rate), "-video_size", "1920x1080",
                                "-draw_mouse", "1", "-i", display, "-t", str(seconds),
                                "-c:v", "rawvideo", "-pix_fmt", "bgr24", film])
    samples, cpu = watch(process, seconds - 0.5)
    process.wait(120)
    positions, pictures = packets(film)
    os.remove(film)
    return positions, pictures, cpu, samples


def main():
    work = tempfile.mkdtemp(prefix="qdx-recbench-", dir=os.environ.get("BENCH_DIR"))
    server, display = start_xvfb()
    try:
        for rate in rates:
            due = int(rate * seconds)
            for name, run in (("QDXCapture", ours), ("ffmpeg x11grab", theirs)):
                positions, pictures, cpu, samples = run(display, rate, work)
                print("%d fps, %.0f s, %s: %d pictures of %d frames due (%d positions, %d dropped); "
                      "cpu %.1f s (%.1f ms per picture); resident KiB every 10 s: %s"
                      % (rate, seconds, name, pictures, due, positions, positions - pictures, cpu,
                         1000 * cpu / max(1, pictures), " ".join(map(str, samples))),
                      flush=True)
    finally:
        server.terminate()
        server.wait()
        shutil.rmtree(work, ignore_errors=True)


main()
