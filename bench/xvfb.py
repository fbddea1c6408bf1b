"""The benchmarks' private X server: 1920x1080 at 24 bits with MIT-SHM."""

import os
import subprocess


def start_xvfb():
    """Starts Xvfb on a free display; returns the process and its display name (":N")."""
    read_fd, write_fd = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1920x1080x24",
                               "-nolisten", "tcp", "+extension", "MIT-SHM"],
                              pass_fds=(write_fd,), stderr=subprocess.DEVNULL)
    os.close(write_fd)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read_fd, 1)
        if not chunk:
            break
        number += chunk
    os.close(read_fd)
    return server, ":" + number.decode().strip()
