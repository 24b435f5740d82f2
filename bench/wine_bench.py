#!/usr/bin/env python3
"""Quellcore under Wine, measured: how hard the real service holds a busy program at each
slider level beside cpulimit, and what a frame loop in front feels with three busy
programs under no limiter, nice 19, cpulimit and Quellcore. Figures are reported, never
judged.

    wine_bench.py QUELLCORE_EXE PROBE_EXE BUSY_EXE OUT_DIR   (run by tools/wine-run --xvfb)

Every process it starts is ended by its id when it finishes or is interrupted; tools/wine-run
then shuts the prefix's Wine down.
"""
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

WINE = os.environ.get("QC_WINE", "/usr/lib/wine/wine64")
TICKS = os.sysconf("SC_CLK_TCK")

LEVELS = (50, 70, 85, 100)
NOMINAL_CYCLE_MS = 1200  # stop checks, pass and duty cycle; replaced by the measured one
IDLE_S = 8
SETTLE_S = 4  # load start to the window of steady throttling
WATCH_S = 10
AFTER_STOP_S = 2.5
STALL_S = 0.1  # a busy thread not running this long is held, not scheduled out
SAMPLE_S = 0.01
CPULIMIT_SETTLE_S = 2
CPULIMIT_WATCH_S = 8
SCENE_SETTLE_S = 4
SCENE_S = 30
HOGS = 3
SERVICE_STOPPED, SERVICE_RUNNING = 1, 4

exe, probe_exe, busy_exe, out_dir = (os.path.abspath(a) for a in sys.argv[1:5])
started = []  # every process this run started, ended by id at the end


def log(text):
    print(text, flush=True)


def start(args, **kw):
    p = subprocess.Popen(args, stdout=kw.pop("stdout", subprocess.DEVNULL), stderr=subprocess.DEVNULL, **kw)
    started.append(p)
    return p


def end(p):
    if p.poll() is None:
        p.kill()
        p.wait()


def parse(text):
    return dict(w.split("=", 1) for w in text.replace("\r", "").split() if "=" in w)


def probe(*args, timeout=60):
    # Output through a file: a Wine process the probe wakes (explorer) would keep a pipe open.
    with tempfile.TemporaryFile("w+") as out:
        subprocess.run([WINE, probe_exe, *map(str, args)], stdout=out, stderr=subprocess.DEVNULL, timeout=timeout)
        out.seek(0)
        return parse(out.read())


def win_path(path):
    return "Z:" + path.replace("/", "\\")


def proc_stat(pid):
    """(state, processor seconds) of a Linux process, or None once it is gone."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return None
    return fields[0], (int(fields[11]) + int(fields[12])) / TICKS


def cpu_s(pid):
    s = proc_stat(pid)
    return s[1] if s else 0.0


class Sampler(threading.Thread):
    """Samples one process every 10 ms: (time, running, processor seconds)."""

    def __init__(self, pid):
        super().__init__(daemon=True)
        self.pid, self.samples, self.stopped = pid, [], threading.Event()
        self.start()

    def run(self):
        while not self.stopped.wait(SAMPLE_S):
            s = proc_stat(self.pid)
            if s:
                self.samples.append((time.time(), s[0] == "R", s[1]))

    def stop(self):
        self.stopped.set()
        self.join()

    def stalls(self):
        """Spans of at least STALL_S in which the busy thread did not run: (start, end)."""
        out, since = [], None
        for t, running, _ in self.samples:
            if not running and since is None:
                since = t
            elif running and since is not None:
                if t - since >= STALL_S:
                    out.append((since, t))
                since = None
        return out


# ---- the service and the window

def parse_int(values, key, default=0):
    try:
        return int(float(values.get(key, default)))
    except ValueError:
        return default


def service_cpu_s(pid):
    """The service's own processor time from its process accounting, at a moment."""
    t0 = time.time()
    v = probe("cpu", pid).get("cpu_ms", "none")
    return (t0 + time.time()) / 2, (float(v) / 1000 if v != "none" else float("nan"))


def wait_service(state, seconds=30):
    return parse_int(probe("wait-service", state, seconds, timeout=seconds + 30), "state") == state


def start_service():
    subprocess.run([WINE, "net", "start", "QuellcoreSvc"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=60)
    wait_service(SERVICE_RUNNING)


def stop_service():
    probe("stop-service")
    wait_service(SERVICE_STOPPED)


def set_level(level):
    """Moves the slider as a user would and waits until the service has taken the level."""
    probe("slider", level)
    for _ in range(30):
        if parse_int(probe("region"), "threshold") == level:
            return
        time.sleep(0.3)
    log(f"warning: the region does not show threshold {level}")


def start_busy(name):
    # Started straight by wine64, so the Linux process is the Windows program itself.
    return start([WINE, busy_exe, "Local\\" + name])


# ---- throttle figures

def throttle_level(level):
    set_level(level)
    svc = parse_int(probe("service"), "pid")
    t0, c0 = service_cpu_s(svc)
    time.sleep(IDLE_S)
    t1, c1 = service_cpu_s(svc)

    load_start = time.time()
    busy = start_busy(f"bench-{level}")
    sampler = Sampler(busy.pid)
    time.sleep(SETTLE_S)
    t2, c2 = service_cpu_s(svc)
    snaps = probe("snapshots", WATCH_S, timeout=WATCH_S + 60)
    t3, c3 = service_cpu_s(svc)
    busy_at_stop = cpu_s(busy.pid)
    stop_at = time.time()
    stop_service()
    time.sleep(AFTER_STOP_S)
    sampler.stop()
    end(busy)

    stalls = sampler.stalls()
    before = [s for s in stalls if s[0] < stop_at]
    period = parse_int(snaps, "period_ms") or NOMINAL_CYCLE_MS
    row = {
        "level": level,
        "period_ms": period,
        "designed": 1 - (level * 10 - 1) / period,
        "cycles": parse_int(snaps, "cycles"),
        "red": parse_int(snaps, "red"),
        "seen": parse_int(snaps, "seen"),
        "stalls": len(before),
        "idle_pct": 100 * (c1 - c0) / (t1 - t0),
        "busy_pct": 100 * (c3 - c2) / (t3 - t2),
        "first_s": before[0][0] - load_start if before else None,
        "release_s": max([0.0] + [e - stop_at for s, e in stalls if e > stop_at]),
    }
    # Whole cycles from the first suspension to the last one before the stop.
    if len(before) >= 2:
        a, b = before[0][0], before[-1][0]
        row["achieved"] = running_share(sampler.samples, a, b)
    else:
        row["achieved"] = running_share(sampler.samples, load_start + SETTLE_S, stop_at)
    log(f"level {level}: {row} (busy program used {busy_at_stop:.1f} s)")
    start_service()
    return row


def running_share(samples, a, b):
    """Processor time over wall time between a and b."""
    inside = [(t, cpu) for t, _, cpu in samples if a <= t <= b]
    if len(inside) < 2:
        return float("nan")
    return (inside[-1][1] - inside[0][1]) / (inside[-1][0] - inside[0][0])


def cpulimit_row(fraction):
    limit = max(1, round(100 * fraction))
    loop = start(["sh", "-c", "while :; do :; done"])
    limiter = start(["cpulimit", "-p", str(loop.pid), "-l", str(limit), "-q", "-z"])
    time.sleep(CPULIMIT_SETTLE_S)
    t0, l0, m0 = time.time(), cpu_s(loop.pid), cpu_s(limiter.pid)
    time.sleep(CPULIMIT_WATCH_S)
    t1, l1, m1 = time.time(), cpu_s(loop.pid), cpu_s(limiter.pid)
    end(limiter)
    end(loop)
    return {"limit": limit, "achieved": (l1 - l0) / (t1 - t0), "own_pct": 100 * (m1 - m0) / (t1 - t0)}


# ---- responsiveness

def scene(name, slug, limiter):
    """The frame probe beside three busy programs for SCENE_S; limiter(pids) returns helpers."""
    hogs = [start_busy(f"{slug}-{i}") for i in range(HOGS)]
    time.sleep(1)
    helpers = limiter([h.pid for h in hogs])
    time.sleep(SCENE_SETTLE_S)
    data = os.path.join(out_dir, f"lateness-{slug}.txt")
    before = sum(cpu_s(h.pid) for h in hogs)
    t0 = time.time()
    frames = probe("frames", SCENE_S, win_path(data), timeout=SCENE_S + 60)
    t1 = time.time()
    after = sum(cpu_s(h.pid) for h in hogs)
    for p in helpers + hogs:
        end(p)
    row = {"name": name, "slug": slug, "progress_s": (after - before) * SCENE_S / (t1 - t0), **frames}
    log(f"{name}: {row}")
    return row


def no_limiter(pids):
    return []


def renice(pids):
    # Every thread of each program: a Linux priority belongs to a thread.
    tids = [t for pid in pids for t in os.listdir(f"/proc/{pid}/task")]
    subprocess.run(["renice", "-n", "19", "-p", *tids], capture_output=True)
    return []


def cpulimit_each(limit):
    return lambda pids: [start(["cpulimit", "-p", str(p), "-l", str(limit), "-q", "-z"]) for p in pids]


def quellcore(level):
    def setup(pids):
        set_level(level)
        return []
    return setup


# ---- report

def pct(x, digits=0):
    return "—" if x is None or x != x else f"{100 * x:.{digits}f} %"


def secs(x):
    return "—" if x is None else f"{x:.1f} s"


def throttle_table(rows, limits):
    lines = [
        "| slider | designed run fraction | achieved | cycles throttled | load start → first suspension "
        "| Stop → full speed | service CPU idle | service CPU throttling | cpulimit -l | cpulimit achieved "
        "| cpulimit's own CPU |",
        "|---|---|---|---|---|---|---|---|---|---|---|",
    ]
    for r, c in zip(rows, limits):
        lines.append(
            f"| {r['level']} | {pct(r['designed'])} | {pct(r['achieved'])} | {r['red']} of {r['seen']} "
            f"| {secs(r['first_s'])} | {secs(r['release_s'])} | {r['idle_pct']:.1f} % | {r['busy_pct']:.1f} % "
            f"| {c['limit']} | {pct(c['achieved'])} | {c['own_pct']:.1f} % |")
    return "\n".join(lines)


def scene_table(rows):
    free = rows[0]["progress_s"] or float("nan")
    lines = [
        "| case | median lateness | p99 | max | missed 16 ms slots | probe held (wakes > 100 ms late) "
        "| busy programs' progress (CPU s in 30 s) |",
        "|---|---|---|---|---|---|---|",
    ]
    for r in rows:
        lines.append(
            f"| {r['name']} | {r.get('median_ms', '—')} ms | {r.get('p99_ms', '—')} ms | {r.get('max_ms', '—')} ms "
            f"| {r.get('missed_pct', '—')} % | {r.get('stalls', '—')} "
            f"| {r['progress_s']:.1f} ({100 * r['progress_s'] / free:.0f} %) |")
    return "\n".join(lines)


def chart(rows):
    """Share of wake-ups later than x, per case, on log-log axes."""
    floor_ms = 0.01  # a wake on time reads 0; the log axis starts here
    plots = []
    for r in rows:
        path = os.path.join(out_dir, f"lateness-{r['slug']}.txt")
        if not os.path.exists(path):
            continue
        values = sorted(max(floor_ms, float(v)) for v in open(path))
        n = len(values)
        dat = os.path.join(out_dir, f"ccdf-{r['slug']}.dat")
        with open(dat, "w") as f:
            for i, v in enumerate(values):
                f.write(f"{v} {(n - i) / n}\n")
        plots.append(f"'{dat}' using 1:2 with lines lw 2 title '{r['name']}'")
    script = f"""
set terminal pngcairo size 900,560 font 'DejaVu Sans,10'
set output '{os.path.join(out_dir, 'lateness.png')}'
set title 'Frame-loop probe beside three busy programs under Wine, 2 CPUs, 30 s per case'
set logscale xy
set xrange [{floor_ms}:3000]
set yrange [0.0003:1.1]
set xlabel 'wake-up lateness (ms)'
set ylabel 'share of wake-ups later than that'
set grid
set key bottom left
set arrow from 16,0.0003 to 16,1.1 nohead dt 2 lc rgb 'gray40'
set label '16 ms frame' at 17,0.6 textcolor rgb 'gray40'
plot {', '.join(plots)}
"""
    subprocess.run(["gnuplot"], input=script, text=True, check=False)


def main():
    os.makedirs(out_dir, exist_ok=True)
    # Wine ends a service whose prefix has no ordinary program left; a desktop always has one.
    start([WINE, probe_exe, "idle", "3600"])
    start([WINE, exe])
    probe("wait-window", "present", 90, timeout=150)
    if not wait_service(SERVICE_RUNNING, 60):
        log("the service did not start")
        return 1

    log("== throttle figures")
    rows = [throttle_level(level) for level in LEVELS]
    stop_service()
    limits = [cpulimit_row(r["designed"]) for r in rows]

    log("== responsiveness")
    level70 = next(r for r in rows if r["level"] == 70)["designed"]
    scenes = [
        scene("no limiter", "none", no_limiter),
        scene("busy programs at nice 19", "nice", renice),
        scene(f"cpulimit -l {round(100 * level70)} on each", "cpulimit", cpulimit_each(round(100 * level70))),
    ]
    start_service()
    for level in (40, 70, 100):
        scenes.append(scene(f"Quellcore at {level}", f"quellcore-{level}", quellcore(level)))
    stop_service()

    chart(scenes)
    report = "\n\n".join([throttle_table(rows, limits), scene_table(scenes)])
    with open(os.path.join(out_dir, "tables.md"), "w") as f:
        f.write(report + "\n")
    load = open("/proc/loadavg").read().split()[:3]
    log(f"\n{report}\n\nload average at the end: {' '.join(load)}")
    log(f"tables: {os.path.join(out_dir, 'tables.md')}  chart: {os.path.join(out_dir, 'lateness.png')}")
    return 0


def on_signal(number, frame):
    raise SystemExit(128 + number)


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    try:
        sys.exit(main())
    finally:
        for p in reversed(started):
            end(p)
