#!/usr/bin/env python3
"""The configuration dialog and the contact message in the real Quadrix, driven as a user would.

Settings changed in the dialog (picture name, folder through the folder chooser, colour depth,
capture hot key typed into its field) reach config.ini at once and the next capture: the new hot
key takes a picture of that depth under that name in that folder, the old key no longer does.
Then the folder disappears and the next capture's error opens "Send message" with the error's
text; the report goes to a real SMTP server (aiosmtpd) and arrives with the error and its origin.
"""

import json
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import qdx_e2e as e2e  # noqa: E402

from PIL import Image  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
MAILBOX = "contato@quadrix.example"


def read_ini(path):
    values = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            key, sep, value = line.rstrip("\n").partition("=")
            if sep:
                values[key] = value
    return values


class MailServer:
    def __init__(self, folder):
        self.folder = folder
        self.process = subprocess.Popen(
            ["/usr/bin/python3", os.path.join(HERE, "smtp_server.py"), "accept", folder],
            stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline().split()
        self.port = int(line[1])

    def mails(self):
        found = []
        n = 1
        while os.path.exists(os.path.join(self.folder, "mail-%d.json" % n)):
            with open(os.path.join(self.folder, "mail-%d.json" % n), encoding="utf-8") as f:
                found.append(json.load(f))
            n += 1
        return found

    def stop(self):
        self.process.kill()
        self.process.wait(5)


class DialogsEndToEnd(e2e.TestCase):
    def test_settings_reach_the_capture_and_an_error_reaches_the_mail(self):
        s = self.session
        server = MailServer(s.new_folder("mail"))
        self.addCleanup(server.stop)
        home = s.new_folder("quadrix")
        shots = os.path.join(home, "shots")
        os.makedirs(shots)
        app = s.start("Quadrix", home=home, env={
            "QUADRIX_SMTP_HOST": "127.0.0.1",
            "QUADRIX_SMTP_PORT": str(server.port),
            "QUADRIX_CONTACT_MAILBOX": MAILBOX,
        })
        s.find_window(app, "Quadrix", timeout=60)

        # The dialog, from the menu bar.
        s.menu(app, "Configurations")
        dialog = s.find_window(app, "Configurations")
        name = s.find(dialog, "text", "File name")
        s.set_text(name, "Shot%1x")
        # A list is named by its chosen item: the pictures' group holds one "True Color".
        pictures = s.find(dialog, "panel", "Configurations")
        colours = s.find(pictures, "combo box", "True Color (24 bits)")
        s.click(colours)  # the list opens; the user clicks "256 color"
        s.click(s.find(colours, "list item", "256 color", showing=True))
        e2e.wait_until(lambda: s.find_all(pictures, "combo box", "256 color"), what="colours")
        hot_key = s.find(dialog, "text", "Command to screen capture")
        hot_key.get_component_iface().grab_focus()
        # Shift with a digit is the digit's key, named as the keyboard labels it (X sends the
        # '!' it types).
        s.key("ctrl+shift+1")
        e2e.wait_until(lambda: s.text(hot_key) == "Shift+Ctrl+1", what="shifted digit hot key")
        s.key("k")  # a key alone gets Ctrl and Alt
        e2e.wait_until(lambda: s.text(hot_key) == "Ctrl+Alt+K", what="hot key text")

        # The folder chooser starts at the field's folder; the user clicks "shots" and OK.
        s.press(s.find(dialog, "push button", "Select the folder of pictures"))
        chooser = s.find_window(app, "Select folder")
        try:
            shots_item = s.find(chooser, None, "shots", showing=True, timeout=5)
            s.click(shots_item)
        except TimeoutError:
            # The way down is not open (the tree was refreshed while the folders above arrived):
            # the user opens it with the tree's type-ahead and the Right key.
            s.click(s.find(chooser, "table cell", "bin", showing=True))
            for part in os.path.relpath(shots, "/").split(os.sep):
                s.type(part)
                time.sleep(0.6)
                if part != "shots":
                    s.key("Right")
                    time.sleep(0.6)
        time.sleep(0.3)
        s.press(s.find(chooser, "push button", "OK"))
        s.gone(app, "dialog", "Select folder")
        folder = s.find(dialog, "text", "Save on folder")
        e2e.wait_until(lambda: s.text(folder) == shots, what="folder field")
        s.screenshot(os.path.join(s.folder, "configurations.png"))

        s.press(s.find(dialog, "push button", "OK"))
        s.gone(app, "dialog", "Configurations")
        settings = read_ini(os.path.join(home, "config.ini"))
        self.assertEqual(settings["nome_arquivo_padrao"], "Shot%1x")
        self.assertEqual(settings["caminho_padrao"], shots)
        self.assertEqual(settings["numero_cores"], "256 color")
        self.assertEqual(settings["comando_captura_tela"], "Ctrl+Alt+K")
        self.assertEqual(list(settings)[0], "salvar_automaticamente")
        self.assertEqual(list(settings)[-1], "mostrar_banner")

        # The old key no longer captures; the new one does, with the new name, folder and depth.
        s.key("ctrl+alt+c")
        time.sleep(1.5)
        self.assertEqual(os.listdir(shots), [])
        s.key("ctrl+alt+k")
        picture = os.path.join(shots, "Shot1x.bmp")
        e2e.wait_until(lambda: os.path.exists(picture) and os.path.getsize(picture) > 0,
                       what="the capture")
        time.sleep(0.5)
        with Image.open(picture) as image:
            self.assertEqual(image.mode, "P")
            self.assertEqual(image.size, (s.width, s.height))

        # The folder goes; the next capture fails and the error opens the contact dialog.
        shutil.rmtree(shots)
        s.key("ctrl+alt+k")
        report = s.find_window(app, "Send message", timeout=20)
        # The caption on the screen is exactly the dialog's, nothing appended.
        window = s.xdotool("search", "--sync", "--name", "^Send message$")
        self.assertTrue(window)
        self.assertEqual(s.xdotool("getwindowname", window.split()[0]), "Send message")
        description = s.find(report, "text", "Description")
        error_text = s.text(description)
        self.assertIn(shots, error_text)
        self.assertTrue(s.find_all(report, "combo box", "Send error messages"))
        s.screenshot(os.path.join(s.folder, "send-message.png"))
        s.set_text(s.find(report, "text", "Name"), "Ana")
        s.set_text(s.find(report, "text", "E-mail"), "ana@example.com")
        s.press(s.find(report, "push button", "Send"))
        e2e.wait_until(lambda: server.mails(), timeout=30, what="the mail")
        # "Successfully sent message!" is acknowledged; the contact dialog closes with it.
        s.press(s.find(app, "push button", "OK", timeout=20, showing=True))
        s.gone(app, "dialog", "Send message", timeout=20)
        mail = server.mails()[0]
        self.assertEqual(mail["subject"], "Quadrix-Contato")
        self.assertEqual(mail["rcpt_tos"], [MAILBOX])
        lines = mail["body"].split("\n")
        self.assertEqual(lines[0], "Name: Ana")
        self.assertIn("TipoMensagem:Send error messages", lines)
        msg = [line for line in lines if line.startswith("Msg_SO:")]
        self.assertEqual(len(msg), 1)
        self.assertTrue(msg[0].startswith("Msg_SO:" + error_text.strip()[:40]), msg[0])
        self.assertTrue(app.running())


if __name__ == "__main__":
    e2e.main()
