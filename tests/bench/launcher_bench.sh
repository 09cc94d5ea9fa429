#!/usr/bin/env bash
# Launcher start-up: time from process start to the main window shown, and the launcher process's peak
# resident memory, over several runs. Goals: under 300 ms (no page loads) and under 60 MB.
#
#   tests/bench/launcher_bench.sh            (RUNS=5 by default)
# Uses $VEXEL_BUILD_DIR/vexel-launcher when VEXEL_BUILD_DIR is set (scripts/bench sets it); otherwise builds
# an optimised one in build/launcher-bench first. Each run gets a fresh home and XDG folders in a temporary
# folder (the user root with an mc.cfg that turns the trace log on), so the real user folders are never
# touched (the client puts a shortcut on the desktop). The
# main window counts as shown when the trace log holds "[MC] Main window shown" (the log is unbuffered);
# the process is then ended with SIGTERM. Without a DISPLAY a private Xvfb is started.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
runs=${RUNS:-5}

if [ -n "${VEXEL_BUILD_DIR:-}" ]; then
    build=$VEXEL_BUILD_DIR
else
    build=$root/build/launcher-bench
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEXEL_SANITIZE=OFF >/dev/null
    cmake --build "$build" -j 2 --target vexel-launcher >/dev/null
fi
launcher=$build/vexel-launcher
[ -x "$launcher" ] || { echo "launcher_bench: $launcher is missing (build the vexel-launcher target)" >&2; exit 1; }
command -v python3 >/dev/null || { echo "launcher_bench: python3 is missing" >&2; exit 1; }

python3 - "$launcher" "$runs" "$root/tests/bench" <<'PY'
import glob, os, signal, statistics, subprocess, sys, tempfile, time

launcher, runs = sys.argv[1], int(sys.argv[2])
sys.path.insert(0, sys.argv[3])
from benchsupport import start_xvfb, status_kb
needle = "[MC] Main window shown".encode("utf-16-le")

xvfb = None
if not os.environ.get("DISPLAY"):
    xvfb = start_xvfb("launcher_bench")

def anonymous_kb(pid):
    # Heap and other memory of the process's own, without the library files mapped in.
    try:
        with open(f"/proc/{pid}/smaps_rollup") as f:
            for line in f:
                if line.startswith("Anonymous:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0

def one_run():
    with tempfile.TemporaryDirectory(prefix="vexel-launcher-bench.") as work:
        env = dict(os.environ)
        # HOME too: the client puts its desktop shortcut under the home folder.
        for name, sub in (("HOME", "home"), ("XDG_DATA_HOME", "data"), ("XDG_CONFIG_HOME", "config"),
                          ("XDG_CACHE_HOME", "cache")):
            env[name] = os.path.join(work, sub)
            os.makedirs(env[name])
        user_root = os.path.join(env["XDG_DATA_HOME"], "vexel")
        os.makedirs(user_root)
        with open(os.path.join(user_root, "mc.cfg"), "w") as f:
            f.write("mclog\n")
        start = time.perf_counter()
        proc = subprocess.Popen([launcher], cwd=work, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shown = None
        deadline = start + 30
        while shown is None and time.perf_counter() < deadline and proc.poll() is None:
            for path in glob.glob(os.path.join(user_root, "**", "*Trace*.log"), recursive=True):
                with open(path, "rb") as f:
                    if needle in f.read():
                        shown = time.perf_counter() - start
            if shown is None:
                time.sleep(0.001)
        time.sleep(0.3)  # let the first paint finish before reading the peak
        hwm = status_kb(proc.pid, "VmHWM")
        anonymous = anonymous_kb(proc.pid)
        if proc.poll() is None:
            proc.send_signal(signal.SIGTERM)
        try:
            _, _, usage = os.wait4(proc.pid, 0)
            peak = max(hwm, usage.ru_maxrss)
        except ChildProcessError:
            peak = hwm
        if shown is None:
            sys.exit("launcher_bench: the main window was not shown within 30 s")
        return shown * 1000.0, peak / 1024.0, anonymous / 1024.0

try:
    one_run()  # warm the file cache
    times, peaks = [], []
    for i in range(runs):
        ms, mb, own = one_run()
        times.append(ms)
        peaks.append(mb)
        print(f"run {i + 1}: main window shown after {ms:7.1f} ms, peak RSS {mb:6.1f} MB "
              f"(anonymous now {own:.1f} MB)")
finally:
    if xvfb:
        xvfb.terminate()
        xvfb.wait()

median_ms, worst_ms, worst_mb = statistics.median(times), max(times), max(peaks)
print(f"start to main window: median {median_ms:.1f} ms, worst {worst_ms:.1f} ms  (goal < 300 ms)  "
      + ("OK" if worst_ms < 300 else "OVER"))
print(f"peak RSS of the launcher: worst {worst_mb:.1f} MB  (goal < 60 MB)  " + ("OK" if worst_mb < 60 else "OVER"))
PY
