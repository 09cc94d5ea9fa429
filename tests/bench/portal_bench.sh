#!/usr/bin/env bash
# Start to the operator's first page: the time from process start until the demo site's login page is
# shown (document complete and window on screen) and the peak resident memory at that moment, for the
# client and side by side for a minimal program that only opens one WebKitGTK window on the same page
# (tests/bench/minimal_webview.cpp). The web content processes are measured apart. Then the idle CPU of
# each with the page shown, and of the client after its minimise button was pressed.
# Goals: start-to-page within 1.2x of the minimal program, RSS within 1.1x, idle CPU under 1% of a core.
#
#   tests/bench/portal_bench.sh            (RUNS=5 by default, IDLE_SECONDS=5)
# Uses $VEXEL_BUILD_DIR when set (scripts/bench sets it), else builds optimised in build/portal-bench.
# The client counts the page as shown when its trace log holds the document-complete line of the login
# page ("[MC] Preload page at: <site>/login") followed by the "[MC] Show page" line; the minimal program
# prints "page shown". Each run has fresh XDG folders in a temporary folder. Without a DISPLAY a private
# Xvfb is started, with a window manager (openbox) when one is installed, so that minimising is real.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
runs=${RUNS:-5}
idle=${IDLE_SECONDS:-5}

if [ -n "${VEXEL_BUILD_DIR:-}" ]; then
    build=$VEXEL_BUILD_DIR
else
    build=$root/build/portal-bench
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEXEL_SANITIZE=OFF -DVEXEL_TESTS=ON >/dev/null
    cmake --build "$build" -j 2 --target vexel-launcher demo-portal bench_minimal_webview >/dev/null
fi
for exe in "$build/vexel-launcher" "$build/demo-portal" "$build/tests/minimal-webview"; do
    [ -x "$exe" ] || { echo "portal_bench: $exe is missing" >&2; exit 1; }
done

python3 - "$build" "$root" "$runs" "$idle" <<'PY'
import os, re, signal, statistics, subprocess, sys, tempfile, time

build, root, runs, idle_seconds = sys.argv[1], sys.argv[2], int(sys.argv[3]), float(sys.argv[4])
sys.path.insert(0, os.path.join(root, "tests", "bench"))
from benchsupport import start_xvfb, status_kb
launcher, portal_exe, minimal = build + "/vexel-launcher", build + "/demo-portal", build + "/tests/minimal-webview"
ticks = os.sysconf("SC_CLK_TCK")

procs = []
if not os.environ.get("DISPLAY"):
    procs.append(start_xvfb("portal_bench"))
# Minimising needs a window manager: without one the window stays on screen and the minimised figure
# would measure a shown window.
wm = None
for candidate in ("openbox", "xfwm4", "metacity"):
    path = subprocess.run(["sh", "-c", "command -v " + candidate], capture_output=True, text=True).stdout.strip()
    if path:
        wm = subprocess.Popen([path], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        procs.append(wm)
        time.sleep(1.0)
        break
if wm is None:
    print("portal_bench: no window manager (apt-get install openbox): the minimised figure is not measured")

portal = subprocess.Popen([portal_exe, "--port", "0", "--client", launcher], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, text=True)
procs.append(portal)
line = portal.stdout.readline()
m = re.match(r"port (\d+)", line)
if not m:
    sys.exit("portal_bench: the demo site did not start")
site = "http://127.0.0.1:" + m.group(1)
login = site + "/login"
settings_dir = tempfile.mkdtemp(prefix="vexel-portal-bench.")
settings = os.path.join(settings_dir, "config.lua")
with open(os.path.join(root, "resources", "config.lua")) as src, open(settings, "w") as out:
    for text in src:
        out.write('local site = "%s"\n' % site if text.startswith("local site = ") else text)

def descendants(pid):
    children, found = {}, []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as f:
                    parent = int(f.read().rsplit(")", 1)[1].split()[1])
                children.setdefault(parent, []).append(int(entry))
            except (OSError, IndexError, ValueError):
                pass
    todo = [pid]
    while todo:
        for child in children.get(todo.pop(), []):
            found.append(child)
            todo.append(child)
    return found

def cpu_ticks(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return int(fields[11]) + int(fields[12])
    except (OSError, IndexError):
        return 0

def window_of(pid):
    try:
        out = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid), "--name", ""],
                             capture_output=True, text=True, timeout=10).stdout.split()
        return out
    except (OSError, subprocess.TimeoutExpired):
        return []

def idle_cpu(pid, seconds):
    before = cpu_ticks(pid)
    time.sleep(seconds)  # the measurement window itself
    return 100.0 * (cpu_ticks(pid) - before) / ticks / seconds

def one_run(kind, measure_idle=False):
    with tempfile.TemporaryDirectory(prefix="vexel-portal-bench.") as work:
        env = dict(os.environ)
        for name, sub in (("HOME", "home"), ("XDG_DATA_HOME", "data"), ("XDG_CONFIG_HOME", "config"),
                          ("XDG_CACHE_HOME", "cache")):
            env[name] = os.path.join(work, sub)
            os.makedirs(env[name])
        user_root = os.path.join(env["XDG_DATA_HOME"], "vexel")
        os.makedirs(user_root)
        with open(os.path.join(user_root, "mc.cfg"), "w") as f:
            f.write("mclog\n")
        env["VEXEL_SETTINGS"] = settings
        out_path = os.path.join(work, "stdout.txt")
        start = time.perf_counter()
        with open(out_path, "w") as out:
            if kind == "client":
                proc = subprocess.Popen([launcher, "/noshortcut"], cwd=work, env=env, stdout=out,
                                        stderr=subprocess.DEVNULL)
            else:
                proc = subprocess.Popen([minimal, login], cwd=work, env=env, stdout=out, stderr=subprocess.DEVNULL)
        needle = ("[MC] Preload page at: " + login).encode("utf-16-le")
        shown_needle = "[MC] Show page".encode("utf-16-le")
        shown = None
        deadline = start + 60
        while shown is None and time.perf_counter() < deadline and proc.poll() is None:
            if kind == "client":
                for name in os.listdir(user_root):
                    if name.endswith("[Trace].log"):
                        with open(os.path.join(user_root, name), "rb") as f:
                            data = f.read()
                        at = data.find(needle)
                        if at >= 0 and data.find(shown_needle, at) >= 0:
                            shown = time.perf_counter() - start
            else:
                with open(out_path) as f:
                    if "page shown" in f.read():
                        shown = time.perf_counter() - start
            if shown is None:
                time.sleep(0.001)
        hwm = status_kb(proc.pid, "VmHWM")
        web = sum(status_kb(child, "VmRSS") for child in descendants(proc.pid))
        cpu_shown = cpu_minimised = None
        if measure_idle and shown is not None:
            time.sleep(1.0)  # let the first paint and the page's own start-up settle
            cpu_shown = idle_cpu(proc.pid, idle_seconds)
            if kind == "client" and wm is not None:
                for window in window_of(proc.pid):
                    subprocess.run(["xdotool", "windowminimize", window], capture_output=True, timeout=10)
                time.sleep(0.5)
                cpu_minimised = idle_cpu(proc.pid, idle_seconds)
        if proc.poll() is None:
            proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout=15)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
        if shown is None:
            sys.exit(f"portal_bench: the {kind} did not show the login page within 60 s")
        return shown * 1000.0, hwm / 1024.0, web / 1024.0, cpu_shown, cpu_minimised

try:
    one_run("minimal")  # warm the file cache
    one_run("client")
    results = {"minimal": [], "client": []}
    for i in range(runs):
        for kind in ("minimal", "client"):
            results[kind].append(one_run(kind, measure_idle=(i == 0)))
finally:
    for p in reversed(procs):
        p.terminate()
        p.wait()

def summary(kind):
    rows = results[kind]
    return (statistics.median(r[0] for r in rows), max(r[1] for r in rows), max(r[2] for r in rows), rows[0][3],
            rows[0][4])

for kind in ("minimal", "client"):
    for i, r in enumerate(results[kind]):
        print(f"{kind:8s} run {i + 1}: page shown after {r[0]:7.1f} ms, peak RSS {r[1]:6.1f} MB, "
              f"web processes {r[2]:6.1f} MB")
mt, mr, mw, mc, _ = summary("minimal")
ct, cr, cw, cc, cm = summary("client")
print(f"start to page (median): client {ct:.1f} ms, minimal {mt:.1f} ms, ratio {ct / mt:.2f}  (goal <= 1.20)  "
      + ("OK" if ct <= 1.2 * mt else "OVER"))
print(f"peak RSS of the process (worst): client {cr:.1f} MB, minimal {mr:.1f} MB, ratio {cr / mr:.2f}  "
      f"(goal <= 1.10)  " + ("OK" if cr <= 1.1 * mr else "OVER"))
print(f"web processes RSS (worst): client {cw:.1f} MB, minimal {mw:.1f} MB")
print(f"idle CPU with the page shown: client {cc:.2f}% of a core, minimal {mc:.2f}%")
if cm is None:
    print("idle CPU after the client's window was minimised: not measured (no window manager)")
else:
    print(f"idle CPU after the client's window was minimised: {cm:.2f}% of a core  (goal < 1%)  "
          + ("OK" if cm < 1.0 else "OVER"))
PY
