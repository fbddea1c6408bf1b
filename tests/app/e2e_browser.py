"""The image browser driven as a user would, in the real Quadrix under a private X server.

A folder of pictures written by ImageMagick and Pillow (one of them damaged) is reached through
the directory tree; the thumbnails must appear with the pictures' own colours, the damaged one
without a thumbnail, while the program keeps answering; "Open with Quadrix" opens a picture
window; a second browser filling a folder of thousands of photographs closes at once, long before
its fill could have finished; the program then ends cleanly.
"""

import os
import subprocess
import time

import qdx_e2e as e2e

COLOURS = {
    "im-red.jpg": (255, 0, 0),
    "im-green.bmp": (0, 255, 0),
    "pil-blue.jpg": (0, 0, 255),
    "pil-magenta.bmp": (255, 0, 255),
}


def pillow(script, *args):
    e2e.run(["/usr/bin/python3", "-c", script] + list(args))


class ImageBrowserTest(e2e.TestCase):
    def make_pictures(self, user):
        photos = os.path.join(user, "photos")
        big = os.path.join(user, "big")
        os.makedirs(photos)
        os.makedirs(big)
        e2e.run(["convert", "-size", "320x240", "xc:#ff0000", os.path.join(photos, "im-red.jpg")])
        e2e.run(["convert", "-size", "320x240", "xc:#00ff00",
                 "BMP3:" + os.path.join(photos, "im-green.bmp")])
        pillow("import sys; from PIL import Image\n"
               "Image.new('RGB', (400, 300), (0, 0, 255)).save(sys.argv[1] + '/pil-blue.jpg', quality=95)\n"
               "Image.new('RGB', (200, 150), (255, 0, 255)).save(sys.argv[1] + '/pil-magenta.bmp')\n"
               "Image.new('RGB', (200, 150), (255, 255, 0)).save(sys.argv[1] + '/pil-yellow.gif')\n",
               photos)
        # A JPEG whose data stops after its first bytes.
        with open(os.path.join(photos, "im-red.jpg"), "rb") as source:
            head = source.read(40)
        with open(os.path.join(photos, "damaged.jpg"), "wb") as target:
            target.write(head)
        # Thousands of photographs (hard links of one 1920x1080 JPEG) for a fill that lasts.
        first = os.path.join(big, "photo0000.jpg")
        e2e.run(["convert", "-seed", "3", "-size", "1920x1080", "plasma:fractal", "-quality", "90",
                 first])
        for i in range(1, 3000):
            os.link(first, os.path.join(big, "photo%04d.jpg" % i))
        return photos, big

    def open_browser(self, app):
        before = len(self.browsers(app))
        self.session.menu(app, "File", "Visualize images")
        e2e.wait_until(lambda: len(self.browsers(app)) > before, what="a new browser window")
        return self.browsers(app)[-1]

    def browsers(self, app):
        # Each browser window holds one list of pictures.
        return self.session.find_all(app, "list", "Pictures", showing=True)

    def window_of(self, node):
        """The browser window (an inner frame) that holds a node."""
        while node is not None and self.session._role(node) != "frame":
            node = node.get_parent()
        return node

    def tree_item(self, where, name):
        return self.session.find(where, None, name, timeout=15)

    def choose_folder(self, tree_root, path):
        """Reaches a folder below the home folder node: click the home node, expand it with the
        Right key, click the child."""
        home = os.path.dirname(path)
        node = self.tree_item(tree_root, os.path.basename(home))
        self.session.click(node)
        self.session.key("Right")
        child = self.tree_item(tree_root, os.path.basename(path))
        self.session.click(child)

    def items(self, listing):
        found = {}
        for i in range(listing.get_child_count()):
            child = listing.get_child_at_index(i)
            if child is not None and child.get_role_name() == "list item":
                found[child.get_name()] = child
        return found

    def test_browse_open_and_close_during_a_fill(self):
        s = self.session
        user = s.new_folder("user")
        photos, big = self.make_pictures(user)
        app = s.start("Quadrix", env={"HOME": user})
        s.find_window(app, "Quadrix", timeout=30)

        first = self.open_browser(app)
        frame = self.window_of(first)
        tree = s.find(frame, None, "Folders")
        self.assertTrue(s.find_all(tree, None, "Computer"))
        self.assertTrue(s.find_all(tree, None, "/"))

        self.choose_folder(tree, photos)
        expected = {"im-red.jpg", "pil-blue.jpg", "damaged.jpg", "im-green.bmp", "pil-magenta.bmp"}
        e2e.wait_until(lambda: set(self.items(first)) == expected, timeout=30,
                       what="the five entries (GIF is not under the first filter)")
        status = s.find(frame, None, "Status")
        e2e.wait_until(lambda: "| 5 files |" in status.get_description(), timeout=30,
                       what="the end of the fill")

        # Each thumbnail shows its picture's colour on the screen; the damaged file has none.
        time.sleep(0.5)
        shot = s.screenshot(os.path.join(s.folder, "browser.png"))
        from PIL import Image
        screen = Image.open(shot).convert("RGB")
        for name, item in self.items(first).items():
            x, y, w, h = s.extents(item)
            top = screen.crop((x, y, x + w, y + h * 2 // 3))
            colours = top.getcolors(w * h) or []
            wanted = COLOURS.get(name)
            hits = sum(count for count, rgb in colours
                       if wanted and all(abs(a - b) < 30 for a, b in zip(rgb, wanted)))
            if wanted:
                self.assertGreater(hits, 40, "no thumbnail of %s on the screen" % name)
            else:
                strong = sum(count for count, rgb in colours
                             if any(all(abs(a - b) < 30 for a, b in zip(rgb, c))
                                    for c in COLOURS.values()))
                self.assertLess(strong, 10, "the damaged picture shows a thumbnail")

        # Open with Quadrix, from the entry's pop-up menu.
        red = self.items(first)["im-red.jpg"]
        s.click(red)
        s.click(red, button=3)
        # The pop-up menu is not listed on the accessibility bus: its first entry, "Open with
        # Quadrix", is chosen from the keyboard.
        time.sleep(0.5)
        s.key("Down", "Return")
        picture = os.path.join(photos, "im-red.jpg")
        s.find(app, None, picture, timeout=15)

        # A second browser on thousands of photographs: the fill goes on while the program
        # answers, and closing the window stops it at once.
        second = self.open_browser(app)
        frame2 = self.window_of(second)
        tree2 = s.find(frame2, None, "Folders")
        self.choose_folder(tree2, big)
        e2e.wait_until(lambda: len(self.items(second)) >= 30, timeout=60,
                       what="the large fill to begin")
        answers = []
        for _ in range(5):
            # One question to the program's user-interface thread, answered while it fills.
            t = time.monotonic()
            second.get_child_count()
            answers.append(time.monotonic() - t)
            time.sleep(0.2)
        self.assertLess(max(answers), 5.0, "the program stopped answering during the fill")
        count = len(self.items(second))
        # The entries keep coming while the program answers, and the status counts them.
        e2e.wait_until(lambda: len(self.items(second)) > count, timeout=60,
                       what="the fill to go on past %d entries" % count)
        status2 = s.find(frame2, None, "Status")
        listed = [int(word) for word in status2.get_description().replace("|", " ").split()
                  if word.isdigit()]
        self.assertIn("reading", status2.get_description())
        self.assertTrue(listed and count < listed[0] < 3000, status2.get_description())

        # The fill of 3000 photographs is far from done (the status counted fewer): closing the
        # window stops it rather than waiting for the rest.
        s.menu(app, "Window", "Close")
        e2e.wait_until(lambda: len(self.browsers(app)) == 1, timeout=20,
                       what="the large browser to close")
        self.assertTrue(app.running())

        s.menu(app, "File", "Exit")
        self.assertEqual(app.wait(30), 0)


if __name__ == "__main__":
    e2e.main()
