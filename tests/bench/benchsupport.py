"""What the window benchmarks share: a private X server and the kernel's view of a process's memory."""
import os
import subprocess
import sys


def start_xvfb(who):
    """Starts Xvfb on a free display, points DISPLAY at it and returns the process."""
    r, w = os.pipe()
    x = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                         pass_fds=(w,), stderr=subprocess.DEVNULL)
    os.close(w)
    number = b""
    while not number.endswith(b"\n"):
        c = os.read(r, 1)
        if not c:
            sys.exit(who + ": Xvfb did not start")
        number += c
    os.close(r)
    os.environ["DISPLAY"] = ":" + number.decode().strip()
    return x


def status_kb(pid, field):
    """A kB field of /proc/<pid>/status (VmRSS, VmHWM), 0 when the process is gone."""
    try:
        with open(f"/proc/{pid}/status") as f:
            for text in f:
                if text.startswith(field + ":"):
                    return int(text.split()[1])
    except OSError:
        pass
    return 0
