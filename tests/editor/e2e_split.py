"""The split window in the real Quadrix under a private X server, driven as a user would.

Opens "Tools - Split Movie (AVI)" from the menu, loads a Motion JPEG film with sound made by
ffmpeg through the real file dialog, marks frames 11..30 by dragging the real slider with Shift
held (xdotool), and writes "Create new AVI with selected frames.", "Remove selected frames" and a
split into 3 parts through the save dialog and the compressor dialog. ffprobe checks each film's
frames and sound samples; ffmpeg's PSNR filter compares their pictures with the source's.
"""

import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import qdx_e2e as e2e  # noqa: E402

FRAMES = 50
RATE = 25
SAMPLE_RATE = 44100


def audio_samples(path):
    result = e2e.run(["ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                      "frame=nb_samples", "-of", "csv=p=0", path])
    return sum(int(line) for line in result.stdout.split() if line.strip())


def psnr(film, source, first, count):
    """Mean PSNR of the film's frames against the source's frames first..first+count-1."""
    graph = ("[1:v]trim=start_frame=%d:end_frame=%d,setpts=PTS-STARTPTS,format=rgb24[ref];"
             "[0:v]format=rgb24[cut];[cut][ref]psnr" % (first, first + count))
    result = e2e.run(["ffmpeg", "-v", "info", "-nostats", "-i", film, "-i", source,
                      "-filter_complex", graph, "-f", "null", "-"])
    match = re.search(r"PSNR .*average:(\S+)", result.stderr)
    assert match, result.stderr
    return float("inf") if match.group(1) == "inf" else float(match.group(1))


class SplitWindowEndToEnd(e2e.TestCase):
    def choose_file(self, app, title, path, button):
        dialog = self.session.find_window(app, title, timeout=20)
        self.session.set_text(self.session.find(dialog, "text", "File name:"), path)
        self.session.press(self.session.find(dialog, "push button", button))
        self.session.gone(dialog, "push button", button, timeout=20)

    def compressor_ok(self, app):
        dialog = self.session.find_window(app, "Video Compression", timeout=30)
        self.session.press(self.session.find(dialog, "push button", "OK"))

    def wait_for_film(self, path, frames, timeout=90):
        # The target appears complete (written under another name and renamed at the end).
        e2e.wait_until(lambda: os.path.exists(path), timeout, what=path)
        e2e.wait_until(lambda: self.frame_count(path) == frames, 30, what="%s frames" % path)

    @staticmethod
    def frame_count(path):
        try:
            return e2e.ffprobe_count_frames(path)
        except Exception:
            return -1

    def field(self, app, name):
        return self.session.text(self.session.find(app, "text", name, showing=True))

    def test_cut_a_range_remove_it_and_split_in_three(self):
        s = self.session
        films = s.new_folder("films")
        source = os.path.join(films, "source.avi")
        e2e.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                 "testsrc2=size=160x120:rate=%d" % RATE, "-f", "lavfi", "-i",
                 "sine=frequency=440:sample_rate=%d" % SAMPLE_RATE, "-t", "%f" % (FRAMES / RATE),
                 "-c:v", "mjpeg", "-q:v", "3", "-c:a", "pcm_s16le", "-ac", "1", source])

        app = s.start("Quadrix")
        s.menu(app, "Tools - Split Movie (AVI)")
        s.press(s.find(app, "push button", "Select Archive", timeout=20))
        self.choose_file(app, "Select the archive to compress.", source, "Open")
        e2e.wait_until(lambda: self.field(app, "Total") == str(FRAMES), 20, what="the film")
        keep = s.find(app, "check box", "Manter Som")
        self.assertTrue(s.has_state(keep, "checked"))

        # Shift drag on the slider from frame 11 to frame 30.
        tracker = s.find(app, None, "TrackerVideo", showing=True)
        x, y, width, height = s.extents(tracker)
        start, end = 7 // 2 + 5, width - (7 // 2 + 5)

        def pixel(frame):
            return x + start + round((frame - 1) / (FRAMES - 1) * (end - start))

        s.drag((pixel(11), y + height // 2), (pixel(30), y + height // 2), modifiers=("shift",))
        e2e.wait_until(lambda: self.field(app, "End") == "30", 10, what="the selection end")
        self.assertEqual(self.field(app, "Initial"), "11")
        self.assertEqual(self.field(app, "Frame"), "30")
        s.screenshot(os.path.join(s.folder, "split.png"))
        if os.environ.get("QDX_E2E_SHOT"):
            s.screenshot(os.environ["QDX_E2E_SHOT"])

        # The selected range.
        selected = os.path.join(films, "range.avi")
        s.press(s.find(app, "push button", "Create new AVI with selected frames."))
        self.choose_file(app, "Select the file name to destination.", selected, "Save")
        self.compressor_ok(app)
        self.wait_for_film(selected, 20)

        # The film without the range.
        rest = os.path.join(films, "rest.avi")
        s.press(s.find(app, "push button", "Remove selected frames"))
        self.choose_file(app, "Select the file name to destination.", rest, "Save")
        self.compressor_ok(app)
        self.wait_for_film(rest, 30)

        # Three parts: the part count through its arrow button, the split button names it.
        up = s.find(app, None, "Nº of parts up", showing=True)
        s.click(up)
        s.click(up)
        split = s.find(app, "push button", "Split AVI in 3 part(s)", timeout=10)
        s.press(split)
        self.choose_file(app, "Select the file name to destination.",
                         os.path.join(films, "part.avi"), "Save")
        parts = [os.path.join(films, "part%02d.avi" % k) for k in (1, 2, 3)]
        for part, frames in zip(parts, (17, 17, 16)):
            self.compressor_ok(app)
            self.wait_for_film(part, frames)

        # Frames and sound as expected, pictures as ffmpeg decodes the source.
        per_frame = SAMPLE_RATE // RATE
        self.assertEqual(audio_samples(selected), 20 * per_frame)
        self.assertEqual(audio_samples(rest), 30 * per_frame)
        self.assertGreater(psnr(selected, source, 10, 20), 30)
        first = 0
        for part, frames in zip(parts, (17, 17, 16)):
            self.assertEqual(e2e.ffprobe_count_frames(part), frames)
            self.assertEqual(audio_samples(part), frames * per_frame)
            self.assertGreater(psnr(part, source, first, frames), 30)
            first += frames
        # The source is untouched.
        self.assertEqual(e2e.ffprobe_count_frames(source), FRAMES)
        self.assertTrue(app.running())


if __name__ == "__main__":
    e2e.main()
