"""QDXCapture end to end: the built recorder (and the built Quadrix) under a private X server,
driven through the accessibility bus and the real pointer, its films checked with ffprobe and
ffmpeg.

1. `QDXCapture play` with automatic names and no compression records Video1.avi while the screen
   changes from red to blue; Pause through the bus, Record (resume) and Stop with the mouse; the
   question is answered No. The film's frames match the time recorded at the configured rate, and
   its decoded frames show red before the pause and blue after it.
2. With compression on, Stop shows the compressor dialog: Motion JPEG gives a compressed
   Video2.avi; cancelled, Video3.avi is the uncompressed recording.
3. Ctrl+Alt+V in a running Quadrix starts a recorder that records (into Video2.avi: yesterday's
   Video1.avi is left as it was); a second press while it records starts no second recorder and
   writes no second film.
4. A running recorder that hangs: a later QDXCapture, its DISPLAY spelled with the screen number,
   shows an error box naming the running recorder's process, and ends with a failure; woken, the
   running recorder does not start the recording after all.
"""

import os
import signal
import subprocess
import time

import qdx_e2e as e2e
from PIL import Image

RATE = 5


def write_config(home, **values):
    settings = {
        "salvar_automaticamente_video": "1",
        "compactar_video": "0",
        "numero_quadros_por_milisegundo": str(RATE),
        "caminho_video_padrao": home + "/",
        "numero_cores_video": "True Color (24 bits)",
        "comando_captura_video": "Ctrl+Alt+V",
    }
    settings.update(values)
    with open(os.path.join(home, "config.ini"), "w") as ini:
        ini.write("[configuracoes]\n")
        for key, value in settings.items():
            ini.write("%s=%s\n" % (key, value))


def named(caption):
    return lambda text: (text or "").replace("&", "") == caption


class RecorderEndToEnd(e2e.TestCase):
    screen = (640, 480)

    def paint_screen(self, colour):
        """Paints the root window in one colour (what the recording sees)."""
        path = os.path.join(self.session.folder, colour + ".png")
        if not os.path.exists(path):
            e2e.run(["convert", "-size", "640x480", "xc:" + colour, path])
        # display answers 1 after painting the root window; the screen is what counts.
        e2e.run(["display", "-window", "root", path], env=self.session.env, check=False)
        expected = {"red": "#FF0000", "blue": "#0000FF"}[colour]
        e2e.wait_until(lambda: expected in e2e.run(
            ["import", "-window", "root", "-depth", "8", "-crop", "1x1+5+5", "txt:-"],
            env=self.session.env).stdout, 5, what="the screen in " + colour)

    def recorder_button(self, app, hint):
        return self.session.find(app, "push button", hint, timeout=20)

    def enabled(self, node):
        return self.session.has_state(node, "enabled")

    def answer_question(self, app, film, answer="No"):
        question = self.session.find_window(app, "Confirm", timeout=30)
        labels = [self.session.text(n) for n in self.session.find_all(question, "label")]
        self.assertTrue(any("Arquivo gerado:" in (t or "") and film in t for t in labels), labels)
        self.session.press(self.session.find(question, "push button", named(answer)))
        self.session.gone(app, None, "Confirm", timeout=15)

    def frame_colour(self, film, index):
        """The colour of the middle of the left edge of a decoded frame (away from the recorder
        window, which sits in the middle of the screen)."""
        png = os.path.join(self.session.folder, "frame%d.png" % index)
        e2e.run(["ffmpeg", "-v", "error", "-y", "-i", film, "-vf", "select=eq(n\\,%d)" % index,
                 "-frames:v", "1", png])
        return Image.open(png).convert("RGB").getpixel((20, 240))

    def recorder_processes(self):
        """The QDXCapture processes on this test's display."""
        found = []
        listing = subprocess.run(["pgrep", "-x", "QDXCapture"], capture_output=True, text=True)
        for pid in listing.stdout.split():
            try:
                with open("/proc/%s/environ" % pid, "rb") as environ:
                    variables = environ.read().split(b"\0")
            except OSError:
                continue
            if ("DISPLAY=" + self.session.display).encode() in variables:
                found.append(int(pid))
        return found

    def test_record_pause_stop_compress_and_the_main_program_hot_key(self):
        session = self.session
        home = session.new_folder("recorder")
        write_config(home)
        self.paint_screen("red")
        stray = os.path.join(home, "tmp_0123456789ABCDEF0123456789ABCDEF.avi")
        open(stray, "w").close()

        # 1. play: recording at once, Pause, Record, Stop, the question answered No.
        app = session.start("QDXCapture", ["play"], home=home)
        pause = self.recorder_button(app, "Pause")
        e2e.wait_until(lambda: self.enabled(pause), 20, what="a running recording")
        started = time.monotonic()
        record = self.recorder_button(app, "Record")
        stop = self.recorder_button(app, "Stop")
        self.assertFalse(self.enabled(record))
        frame = session.find_window(app, lambda t: t and len(t) == 5 and t[2] == ":", timeout=20)
        session.screenshot(os.path.join(session.folder, "recording.png"))
        time.sleep(2.5)
        session.press(pause)
        paused = time.monotonic()
        e2e.wait_until(lambda: self.enabled(record) and not self.enabled(pause), 10,
                       what="the paused state")
        self.paint_screen("blue")
        time.sleep(1.5)
        session.click(record)
        resumed = time.monotonic()
        e2e.wait_until(lambda: self.enabled(pause), 10, what="the resumed recording")
        time.sleep(2.5)
        session.click(stop)
        stopped = time.monotonic()
        film = os.path.join(home, "Video1.avi")
        self.answer_question(app, film)
        self.assertEqual(session.text(frame), "Q-D-X")
        self.assertFalse(os.path.exists(stray), "the clean-up at start removes old work files")

        probe = e2e.ffprobe_stream(film, "v:0", "codec_name,width,height,r_frame_rate,nb_frames")
        self.assertEqual(probe["codec_name"], "rawvideo")
        self.assertEqual((probe["width"], probe["height"]), ("640", "480"))
        self.assertEqual(probe["r_frame_rate"], "%d/1" % RATE)
        recorded = (paused - started) + (stopped - resumed)
        frames = int(probe["nb_frames"])
        # The pause leaves no gap; the bus and the pointer add some latency to either end.
        self.assertLess(abs(frames - RATE * recorded), RATE * 1.2 + 2,
                        "%d frames for %.1f s at %d fps" % (frames, recorded, RATE))
        first, last = self.frame_colour(film, 0), self.frame_colour(film, frames - 1)
        self.assertTrue(first[0] > 200 and first[2] < 60, first)
        self.assertTrue(last[2] > 200 and last[0] < 60, last)

        # 2. Compression on (read again at every Record): Motion JPEG, then cancelled.
        write_config(home, compactar_video="1")
        for name, choose in (("Video2.avi", "Motion JPEG"), ("Video3.avi", None)):
            session.press(record)
            e2e.wait_until(lambda: self.enabled(pause), 10, what="a running recording")
            time.sleep(1.5)
            session.press(stop)
            dialog = session.find_window(app, "Video Compression", timeout=30)
            if choose:
                # The compressor list has the keyboard focus when the dialog opens.
                combo = session.find(dialog, "combo box")
                for _ in range(8):
                    if session._name(combo) == choose:
                        break
                    session.key("Down")
                self.assertEqual(session._name(combo), choose)
                session.press(session.find(dialog, "push button", named("OK")))
            else:
                session.press(session.find(dialog, "push button", named("Cancel")))
            self.answer_question(app, os.path.join(home, name))
        self.assertEqual(e2e.ffprobe_stream(os.path.join(home, "Video2.avi"), "v:0",
                                            "codec_name")["codec_name"], "mjpeg")
        self.assertEqual(e2e.ffprobe_stream(os.path.join(home, "Video3.avi"), "v:0",
                                            "codec_name")["codec_name"], "rawvideo")
        self.assertGreaterEqual(e2e.ffprobe_count_frames(os.path.join(home, "Video3.avi")), 3)
        session.screenshot(os.path.join(session.folder, "after-compression.png"))
        app.stop()

        # 3. Ctrl+Alt+V in Quadrix: one recorder, one film, also after a second press.
        second = session.new_folder("main")
        write_config(second)
        yesterday = os.path.join(second, "Video1.avi")
        with open(yesterday, "w") as old:
            old.write("yesterday's film")
        quadrix = session.start("Quadrix", home=second)
        session.find(quadrix, "menu item", "AVI", timeout=60)
        e2e.wait_until(lambda: not self.recorder_processes(), 10, what="no recorder yet")
        session.key("ctrl+alt+v")
        recorder = e2e.wait_until(self.recorder_processes, 20, what="the recorder")[0]
        node = session.application(recorder)
        pause = self.recorder_button(node, "Pause")
        e2e.wait_until(lambda: self.enabled(pause), 20, what="the recording")
        time.sleep(1.0)
        session.key("ctrl+alt+v")
        time.sleep(3.0)  # a second recorder would have started and recorded by now
        self.assertEqual(self.recorder_processes(), [recorder])
        session.press(self.recorder_button(node, "Stop"))
        self.answer_question(node, os.path.join(second, "Video2.avi"))
        self.assertGreaterEqual(e2e.ffprobe_count_frames(os.path.join(second, "Video2.avi")), 5)
        self.assertFalse(os.path.exists(os.path.join(second, "Video3.avi")))
        with open(yesterday) as old:
            self.assertEqual(old.read(), "yesterday's film")
        os.kill(recorder, 15)
        e2e.wait_until(lambda: not self.recorder_processes(), 20, what="the recorder to end")

        # 4. A hung recorder: the next one names it in an error box and fails.
        runtime = session.new_folder("runtime")
        os.chmod(runtime, 0o700)
        third = session.new_folder("hung")
        write_config(third)
        own_runtime = {"XDG_RUNTIME_DIR": runtime}
        hung = session.start("QDXCapture", home=third, env=own_runtime)
        self.recorder_button(hung, "Record")
        os.kill(hung.pid, signal.SIGSTOP)
        try:
            later = session.start("QDXCapture", ["play"], home=third,
                                  env=dict(own_runtime, DISPLAY=session.display + ".0"))
            box = session.find_window(later, "Quadrix", timeout=40)
            labels = [session.text(n) or "" for n in session.find_all(box, "label")]
            self.assertTrue(any("does not answer" in t and "(QDXCapture, process %d)" % hung.pid
                                in t for t in labels), labels)
            session.press(session.find(box, "push button", named("OK")))
            self.assertEqual(later.wait(20), 1)
        finally:
            os.kill(hung.pid, signal.SIGCONT)
        # Woken, it drops the "play" its sender gave up on: the user was told nothing starts.
        record = self.recorder_button(hung, "Record")
        time.sleep(3.0)
        self.assertTrue(self.enabled(record))
        hung.stop()
        self.assertEqual([f for f in os.listdir(third) if f.endswith(".avi")], [])


if __name__ == "__main__":
    e2e.main()
