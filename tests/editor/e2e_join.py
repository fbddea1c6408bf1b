"""The join window in the real Quadrix under a private X server, driven as a user would.

Three films made by ffmpeg (two with sound, one of another frame size) are added in one file
dialog, reordered after a click on the list's column header, and joined with "Gerar arquivos com
som." ticked through the save and compressor dialogs. ffprobe counts the frames (the sum, in the
list's order) and the sound samples (silence stands for the film without sound); ffmpeg's PSNR filter compares each stretch of the joined
film with its source.
"""

import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import qdx_e2e as e2e  # noqa: E402

RATE = 25
SAMPLE_RATE = 44100


def make(path, size, frames, sound):
    args = ["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=%s:rate=%d" % (size, RATE)]
    if sound:
        args += ["-f", "lavfi", "-i", "sine=frequency=440:sample_rate=%d" % SAMPLE_RATE]
    args += ["-t", "%f" % (frames / RATE), "-c:v", "mjpeg", "-q:v", "3"]
    if sound:
        args += ["-c:a", "pcm_s16le", "-ac", "1"]
    e2e.run(args + [path])


def audio_samples(path):
    result = e2e.run(["ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                      "frame=nb_samples", "-of", "csv=p=0", path])
    return sum(int(line) for line in result.stdout.split() if line.strip())


def psnr(film, first, count, source, size):
    graph = ("[0:v]trim=start_frame=%d:end_frame=%d,setpts=PTS-STARTPTS,format=rgb24[cut];"
             "[1:v]scale=%s,format=rgb24[ref];[cut][ref]psnr" % (first, first + count, size))
    result = e2e.run(["ffmpeg", "-v", "info", "-nostats", "-i", film, "-i", source,
                      "-filter_complex", graph, "-f", "null", "-"])
    match = re.search(r"PSNR .*average:(\S+)", result.stderr)
    assert match, result.stderr
    return float("inf") if match.group(1) == "inf" else float(match.group(1))


class JoinWindowEndToEnd(e2e.TestCase):
    def test_add_reorder_and_join_with_sound(self):
        s = self.session
        films = s.new_folder("films")
        a, b, c = (os.path.join(films, n) for n in ("a.avi", "b.avi", "c.avi"))
        make(a, "160x120", 20, True)
        make(b, "160x120", 15, True)
        make(c, "320x240", 10, False)

        app = s.start("Quadrix")
        s.menu(app, "Tools - Join / Merge Movie(AVI)")
        s.press(s.find(app, "push button", "Add", timeout=20))
        dialog = s.find_window(app, "Select the archive to compress.", timeout=20)
        s.set_text(s.find(dialog, "text", "File name:"), '"%s" "%s" "%s"' % (a, b, c))
        s.press(s.find(dialog, "push button", "Open"))
        s.gone(dialog, "push button", "Open", timeout=20)

        # Listed by name; the viewer shows a.avi, the first of the dialog's list.
        listed = lambda: [s._name(n) for n in s.find_all(app, None, None)
                          if s._role(n) in ("table cell", "tree item", "list item")
                          and (s._name(n) or "").startswith(films)]
        e2e.wait_until(lambda: listed() == [a, b, c], 30, what="the three films listed")
        e2e.wait_until(lambda: s.text(s.find(app, "text", "Total", showing=True)) == "20", 10,
                       what="a.avi in the viewer")

        # Manual order after a click on the column header; c.avi one place up: a, c, b.
        header = s.find(app, "table column header", "Arquivo", showing=True)
        s.click(header)
        cell = next(n for n in s.find_all(app, None, c) if s._role(n) in ("table cell", "tree item"))
        s.click(cell)
        s.press(s.find(app, "push button", "Move Up"))
        e2e.wait_until(lambda: listed() == [a, c, b], 10, what="the order a, c, b")

        keep = s.find(app, "check box", "Gerar arquivos com som.")
        if not s.has_state(keep, "checked"):
            s.press(keep)
        e2e.wait_until(lambda: s.has_state(keep, "checked"), 5, what="the sound box ticked")
        s.screenshot(os.path.join(s.folder, "join.png"))
        if os.environ.get("QDX_E2E_SHOT"):
            s.screenshot(os.environ["QDX_E2E_SHOT"])

        joined = os.path.join(films, "joined.avi")
        s.press(s.find(app, "push button", "Join"))
        dialog = s.find_window(app, "Select the file name to destination.", timeout=20)
        s.set_text(s.find(dialog, "text", "File name:"), joined)
        s.press(s.find(dialog, "push button", "Save"))
        compressor = s.find_window(app, "Video Compression", timeout=30)
        s.press(s.find(compressor, "push button", "OK"))
        e2e.wait_until(lambda: os.path.exists(joined), 90, what="the joined film")
        e2e.wait_until(lambda: self.frames(joined) == 45, 30, what="45 frames")

        self.assertEqual(e2e.ffprobe_stream(joined, "v:0", "width,height"),
                         {"width": "160", "height": "120"})
        # The sound of the two films with sound, and silence as long as the film without sound
        # between them: the sound lasts exactly as long as the 45 frames.
        self.assertEqual(audio_samples(joined), 45 * SAMPLE_RATE // RATE)
        self.assertGreater(psnr(joined, 0, 20, a, "160:120"), 30)
        self.assertGreater(psnr(joined, 20, 10, c, "160:120"), 22)
        self.assertGreater(psnr(joined, 30, 15, b, "160:120"), 30)
        self.assertTrue(app.running())

    @staticmethod
    def frames(path):
        try:
            return e2e.ffprobe_count_frames(path)
        except Exception:
            return -1


if __name__ == "__main__":
    e2e.main()
