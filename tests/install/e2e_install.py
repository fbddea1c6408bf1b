"""The installed programs: `cmake --install` of this build into a scratch DESTDIR with the prefix
/usr, as the Debian package installs them.

1. The desktop entries pass desktop-file-validate and the AppStream file passes
   `appstreamcli validate --no-net`; the icon is there at every size of the theme.
2. The installed `qdx codecs` runs and lists the compressors.
3. The installed Quadrix starts under Xvfb with nothing but the user's home folder, finds its
   help file in share/quadrix, and its hot key starts the installed QDXCapture beside it. The
   recorder records into the user's own folder (~/.local/share/Quadrix), where the settings are
   too: nothing is written into bin/.
"""

import os
import subprocess
import time

import qdx_e2e as e2e

BUILD = os.path.dirname(os.path.dirname(e2e.program_path("Quadrix")))
PROGRAMS = ["QDXCapture", "Quadrix", "qdx"]


class InstalledPrograms(e2e.TestCase):
    def install(self):
        root = self.session.new_folder("root")
        e2e.run(["cmake", "--install", BUILD, "--prefix", "/usr"],
                env=dict(os.environ, DESTDIR=root), timeout=120)
        return root

    def recorders(self):
        listing = subprocess.run(["pgrep", "-x", "QDXCapture"], capture_output=True, text=True)
        mine = []
        for pid in map(int, listing.stdout.split()):
            try:
                with open("/proc/%d/environ" % pid, "rb") as f:
                    if ("DISPLAY=%s" % self.session.display).encode() in f.read().split(b"\0"):
                        mine.append(pid)
            except OSError:
                pass
        return mine

    def test_installed_layout_and_programs(self):
        root = self.install()
        usr = os.path.join(root, "usr")
        share = os.path.join(usr, "share")

        # 1. Desktop entries, AppStream, icons, help.
        for entry in ("quadrix.desktop", "qdxcapture.desktop"):
            checked = e2e.run(["desktop-file-validate",
                               os.path.join(share, "applications", entry)], check=False)
            self.assertEqual((checked.returncode, checked.stdout + checked.stderr), (0, ""))
        checked = e2e.run(["appstreamcli", "validate", "--no-net",
                           os.path.join(share, "metainfo", "org.quadrix.Quadrix.metainfo.xml")],
                          check=False)
        self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
        for size in (16, 22, 24, 32, 48, 64, 128, 256):
            png = os.path.join(share, "icons", "hicolor", "%dx%d" % (size, size), "apps",
                               "quadrix.png")
            identified = e2e.run(["identify", "-format", "%w %h", png]).stdout
            self.assertEqual(identified, "%d %d" % (size, size))
        self.assertTrue(os.path.isfile(os.path.join(share, "icons", "hicolor", "scalable", "apps",
                                                    "quadrix.svg")))
        self.assertTrue(os.path.isfile(os.path.join(share, "quadrix", "Quadrix.html")))
        bin_folder = os.path.join(usr, "bin")
        self.assertEqual(sorted(os.listdir(bin_folder)), PROGRAMS)

        # 2. The installed qdx.
        listed = e2e.run([os.path.join(bin_folder, "qdx"), "codecs"]).stdout
        self.assertIn("MJPG\tMotion JPEG", listed)

        # 3. The installed Quadrix and its recorder, with a user's home folder only.
        home = self.session.new_folder("user")
        folder = os.path.join(home, ".local", "share", "Quadrix")
        os.makedirs(folder)
        with open(os.path.join(folder, "config.ini"), "w") as ini:
            ini.write("[configuracoes]\nsalvar_automaticamente_video=1\ncompactar_video=0\n"
                      "numero_quadros_por_milisegundo=5\ncomando_captura_video=Ctrl+Alt+V\n")
        quadrix = self.session.start("Quadrix", home=home, path=os.path.join(bin_folder, "Quadrix"))
        self.session.find(quadrix, "menu item", "AVI", timeout=60)
        self.session.menu(quadrix, "Help", "Ajuda do Quadrix")
        # The help window opens on the installed help file (a missing one gives an error box).
        e2e.wait_until(lambda: e2e.run(["xdotool", "search", "--onlyvisible", "--name", "^Quadrix - Help$"],
                                       env=self.session.env, check=False).stdout.strip(),
                       20, what="the help window")
        self.assertFalse(self.session.find_all(quadrix, "label",
                                               lambda t: "Cannot open the help file" in (t or "")))
        self.session.key("Escape")
        self.session.key("ctrl+alt+v")
        recorder = e2e.wait_until(self.recorders, 20, what="the recorder")[0]
        self.assertEqual(os.readlink("/proc/%d/exe" % recorder),
                         os.path.join(bin_folder, "QDXCapture"))
        node = self.session.application(recorder)
        pause = self.session.find(node, "push button", "Pause", timeout=20)
        e2e.wait_until(lambda: self.session.has_state(pause, "enabled"), 20, what="the recording")
        time.sleep(1.0)
        self.session.press(self.session.find(node, "push button", "Stop", timeout=20))
        film = os.path.join(folder, "Video1.avi")
        question = self.session.find_window(node, "Confirm", timeout=30)
        labels = [self.session.text(n) or "" for n in self.session.find_all(question, "label")]
        self.assertTrue(any(film in text for text in labels), labels)
        self.session.press(self.session.find(
            question, "push button", lambda text: (text or "").replace("&", "") == "No"))
        self.session.gone(node, None, "Confirm", timeout=15)
        self.assertGreaterEqual(e2e.ffprobe_count_frames(film), 2)
        os.kill(recorder, 15)
        e2e.wait_until(lambda: not self.recorders(), 15, what="the recorder to end")
        self.assertEqual(sorted(os.listdir(bin_folder)), PROGRAMS)
        self.session.screenshot("installed.png")


if __name__ == "__main__":
    e2e.main()
