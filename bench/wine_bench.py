#!/usr/bin/env python3
"""Quellcore under Wine, measured: how hard the real service holds a busy program at each
slider level beside cpulimit, what it costs to hold eight busy programs at 100, and what the
program in front gets beside three busy programs under no limiter, nice 19, cpulimit and
Quellcore: the work of a busy program whose window is in front, and the lateness of a frame
loop in front; and the monitor's own processor use with its window shown and hidden in the
notification area. Figures are reported, never judged.

    wine_bench.py QUELLCORE_EXE PROBE_EXE OUT_DIR   (run by tools/wine-run --xvfb)
    wine_bench.py --report OUT_DIR                  (the tables of every build measured)

A run measures the build that QC_ARCH names and keeps its figures in OUT_DIR/figures-ARCH.json:
the x86-64 build everything, the x86 release build the throttle and the eight-program hold.
Every process it starts is ended by its id when it finishes or is interrupted; tools/wine-run
then shuts the prefix's Wine down.
"""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

WINE = os.environ.get("QC_WINE", "/usr/lib/wine/wine64")
ARCH = os.environ.get("QC_ARCH", "x64")
TICKS = os.sysconf("SC_CLK_TCK")

LEVELS = (50, 70, 85, 100)
CYCLE_MS = 1200  # the designed cycle: two stop checks and the duty cycle
IDLE_S = 8
SETTLE_S = 4  # load start to the window of steady throttling
WATCH_S = 10
AFTER_STOP_S = 2.5
STALL_S = 0.1  # a busy thread not running this long is held, not scheduled out
SAMPLE_S = 0.01
CPULIMIT_SETTLE_S = 2
CPULIMIT_WATCH_S = 8
SCENE_SETTLE_S = 4
FRONT_SETTLE_S = 3  # the program in front's claim reaches the service within a cycle or two
FRONT_S = 12
FRAMES_S = 20
HOGS = 3
MONITOR_S = 60  # twenty polls; the processor times Wine reports move in 10 ms steps
IDM_SPARE_FRONT = 118
IDM_OPEN_WINDOW = 119
EIGHT = 8
SERVICE_STOPPED, SERVICE_RUNNING = 1, 4

if sys.argv[1:2] == ["--report"]:
    exe = probe_exe = None
    out_dir = os.path.abspath(sys.argv[2])
else:
    exe, probe_exe, out_dir = (os.path.abspath(a) for a in sys.argv[1:4])
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
    return background_probe(*args)(timeout)


def background_probe(*args):
    """Starts the probe; calling the result waits for it and returns its key=value words."""
    # Output through a file: a Wine process the probe wakes (explorer) would keep a pipe open.
    out = tempfile.TemporaryFile("w+")
    p = subprocess.Popen([WINE, probe_exe, *map(str, args)], stdout=out, stderr=subprocess.DEVNULL)

    def result(timeout=60):
        try:
            p.wait(timeout)
        finally:
            end(p)
        out.seek(0)
        values = parse(out.read())
        out.close()
        return values
    return result


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


def cpu_pct(values):
    """Processor use in % of one processor from the probe's cpu command."""
    try:
        return 100 * int(values["used_ms"]) / int(values["elapsed_ms"])
    except (KeyError, ValueError, ZeroDivisionError):
        return float("nan")


def wait_service(state, seconds=30):
    return parse_int(probe("wait-service", state, seconds, timeout=seconds + 30), "state") == state


# Client points of the window, as in the end-to-end scenarios: the two tabs, and the one
# rectangle that Stop Service and Start Service share on the Status page.
GRAPH_TAB, STATUS_TAB, SERVICE_BUTTON = (20, 10), (70, 10), (253, 48)


def client_origin():
    return [int(v) for v in probe("window").get("client", "0,0").split(",")[:2]]


def click(point):
    x, y = client_origin()
    subprocess.run(["xdotool", "mousemove", str(x + point[0]), str(y + point[1]), "click", "1"])


def press_service_button():
    """Stop Service or Start Service, as a user presses it; returns when it was pressed."""
    click(STATUS_TAB)
    time.sleep(0.5)
    x, y = client_origin()
    subprocess.run(["xdotool", "mousemove", str(x + SERVICE_BUTTON[0]), str(y + SERVICE_BUTTON[1])])
    pressed = time.time()
    subprocess.run(["xdotool", "click", "1"])
    return pressed


def start_service():
    press_service_button()
    wait_service(SERVICE_RUNNING)
    click(GRAPH_TAB)


def stop_service():
    pressed = press_service_button()
    wait_service(SERVICE_STOPPED)
    click(GRAPH_TAB)
    return pressed


def set_level(level):
    """Moves the slider as a user would and waits until the service has taken the level."""
    probe("slider", level)
    for _ in range(30):
        if parse_int(probe("region"), "threshold") == level:
            return
        time.sleep(0.3)
    log(f"warning: the region does not show threshold {level}")


def start_busy():
    """A one-thread busy program, once it spins. Started straight by the loader, so the
    Linux process is the Windows program itself."""
    with tempfile.TemporaryFile("w+") as out:
        p = start([WINE, probe_exe, "busy", "120"], stdout=out)
        for _ in range(3000):  # it says its id when the loop begins
            out.seek(0)
            if "pid=" in out.read() or p.poll() is not None:
                break
            time.sleep(0.01)
    return p


# ---- throttle figures

def throttle_level(level):
    set_level(level)
    svc = parse_int(probe("service"), "pid")
    idle = cpu_pct(probe("cpu", svc, IDLE_S))

    busy = start_busy()
    load_start = time.time()
    sampler = Sampler(busy.pid)
    time.sleep(SETTLE_S)
    watch_start = time.time()
    throttling = background_probe("cpu", svc, WATCH_S)
    pattern = probe("hogs", WATCH_S, timeout=WATCH_S + 60).get("pattern", "")
    watch_end = time.time()
    throttling_pct = cpu_pct(throttling())
    stop_at = stop_service()
    time.sleep(AFTER_STOP_S)
    sampler.stop()
    end(busy)

    stalls = sampler.stalls()
    before = [s for s in stalls if s[0] < stop_at]
    row = {
        "level": level,
        "designed": 1 - (level * 10 - 1) / CYCLE_MS,
        "pattern": pattern,
        "holds": len([s for s in stalls if watch_start <= s[0] < watch_end]),
        "idle_pct": idle,
        "throttling_pct": throttling_pct,
        "first_s": before[0][0] - load_start if before else None,
        "release_s": max([0.0] + [e - stop_at for s, e in stalls if e > stop_at]),
    }
    # Whole cycles from the first suspension to the last one before the stop.
    if len(before) >= 2:
        a, b = before[0][0], before[-1][0]
        row["achieved"] = running_share(sampler.samples, a, b)
    else:
        row["achieved"] = running_share(sampler.samples, load_start + SETTLE_S, stop_at)
    log(f"level {level}: {row}")
    start_service()
    return row


def eight_programs():
    """The service's own use while it holds EIGHT one-thread busy programs at 100."""
    set_level(100)
    svc = parse_int(probe("service"), "pid")
    idle = cpu_pct(probe("cpu", svc, IDLE_S))
    busy = [start_busy() for _ in range(EIGHT)]
    samplers = [Sampler(b.pid) for b in busy]
    time.sleep(SETTLE_S)
    watch_start = time.time()
    holding = background_probe("cpu", svc, WATCH_S)
    hogs = probe("hogs", WATCH_S, timeout=WATCH_S + 60)
    watch_end = time.time()
    holding_pct = cpu_pct(holding())
    stop_service()
    for sampler in samplers:
        sampler.stop()
    for b in busy:
        end(b)
    shares = [running_share(sm.samples, watch_start, watch_end) for sm in samplers]
    row = {
        "programs": EIGHT,
        "designed": 1 - (100 * 10 - 1) / CYCLE_MS,
        "red": hogs.get("red", ""),
        "holds": [len([st for st in sm.stalls() if watch_start <= st[0] < watch_end]) for sm in samplers],
        # Processor time of all eight over what the machine's processors could give.
        "machine_share": sum(shares) / os.cpu_count(),
        "idle_pct": idle,
        "holding_pct": holding_pct,
    }
    log(f"eight programs: {row}")
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


# ---- the program in front

def start_until_pid(args):
    """A program of the probe's, once it has said its id, and the words it said."""
    with tempfile.TemporaryFile("w+") as out:
        p = start([WINE, probe_exe, *map(str, args)], stdout=out)
        for _ in range(3000):
            out.seek(0)
            said = out.read()
            if "pid=" in said or p.poll() is not None:
                break
            time.sleep(0.01)
    return p, parse(said)


def monitor_cost():
    """The monitor's own processor use, percent of one processor, with its window shown and
    then hidden by the close box (the link and the icon go on, nothing is painted)."""
    window = probe("window")
    pid = window.get("pid")
    figures = {}
    for state in ("shown", "hidden"):
        if state == "hidden":
            probe("close")
            time.sleep(1)
        used = probe("cpu", pid, MONITOR_S, timeout=MONITOR_S + 30)
        figures[f"{state}_pct"] = 100.0 * parse_int(used, "used_ms") / max(parse_int(used, "elapsed_ms", 1), 1)
        log(f"monitor, window {state}: {figures[f'{state}_pct']:.3f} % of one processor")
    probe("post", IDM_OPEN_WINDOW)
    return figures


def monitor_table(figures):
    lines = [
        "| build | monitor's own CPU, window shown | window hidden (notification area) |",
        "|---|---|---|",
    ]
    for arch, fig in figures.items():
        m = fig.get("monitor")
        if m:
            lines.append(f"| {arch} | {m['shown_pct']:.3f} % | {m['hidden_pct']:.3f} % |")
    return "\n".join(lines)


def front_rate():
    """Processor use (% of one) of a busy program whose window is in front."""
    front, _ = start_until_pid(["busy-front", FRONT_SETTLE_S + FRONT_S + 5])
    time.sleep(FRONT_SETTLE_S)
    f0, t0 = cpu_s(front.pid), time.time()
    time.sleep(FRONT_S)
    f1, t1 = cpu_s(front.pid), time.time()
    end(front)
    return 100 * (f1 - f0) / (t1 - t0)


def front_child_rate():
    """Processor use (% of one) of the busy child of a program whose window is in front,
    as a browser's tab or a console's build works; the system's times, by its Windows id."""
    front, said = start_until_pid(["busy-front-child", FRONT_SETTLE_S + FRONT_S + 5])
    time.sleep(FRONT_SETTLE_S)
    rate = cpu_pct(probe("cpu", said.get("child", 0), FRONT_S, timeout=FRONT_S + 60))
    end(front)  # its child goes with it: the two share a job that ends with the parent
    return rate


def scene(name, slug, limiter, child=False):
    """Three busy programs, the limiter applied (limiter(pids) returns helpers), then a busy
    program in front and a frame loop in front, one after the other; with `child`, the
    program in front does both in a child process it started."""
    hogs = [start_busy() for _ in range(HOGS)]
    helpers = limiter([h.pid for h in hogs])
    time.sleep(SCENE_SETTLE_S)
    before, t0 = sum(cpu_s(h.pid) for h in hogs), time.time()
    front = front_child_rate() if child else front_rate()
    data = os.path.join(out_dir, f"lateness-{slug}.txt")
    frames = probe("frames-front-child" if child else "frames-front", FRAMES_S, win_path(data),
                   timeout=FRAMES_S + 70)
    after, t1 = sum(cpu_s(h.pid) for h in hogs), time.time()
    for p in helpers + hogs:
        end(p)
    row = {"name": name, "slug": slug, "front_pct": front, "progress_pct": 100 * (after - before) / (t1 - t0),
           "service": parse_int(probe("service"), "state"), **frames}
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


sparing = [True]  # File > Spare the Program in Front, checked at every start


def quellcore(level, spare=True):
    def setup(pids):
        if sparing[0] != spare:
            probe("post", IDM_SPARE_FRONT)
            sparing[0] = spare
        set_level(level)
        return []
    return setup


# ---- report

def pct(x, digits=0):
    return "—" if x is None or x != x else f"{100 * x:.{digits}f} %"


def secs(x):
    return "—" if x is None else f"{x:.1f} s"


def throttle_table(figures):
    """One row per level and build, the builds side by side."""
    lines = [
        "| slider | designed run fraction | build | achieved | cycles throttled (marked red / holds seen) "
        "| load start → first suspension | Stop → full speed | service CPU idle | service CPU throttling |",
        "|---|---|---|---|---|---|---|---|---|",
    ]
    for i, level in enumerate(LEVELS):
        for arch, fig in figures.items():
            r = fig["rows"][i]
            lines.append(
                f"| {level} | {pct(r['designed'])} | {arch} | {pct(r['achieved'])} "
                f"| {r['pattern'].count('H')} of {len(r['pattern'])} / {r['holds']} "
                f"| {secs(r['first_s'])} | {secs(r['release_s'])} | {r['idle_pct']:.1f} % "
                f"| {r['throttling_pct']:.1f} % |")
    return "\n".join(lines)


def cpulimit_table(rows, limits):
    lines = [
        "| designed run fraction | cpulimit -l | cpulimit achieved | cpulimit's own CPU |",
        "|---|---|---|---|",
    ]
    for r, c in zip(rows, limits):
        lines.append(f"| {pct(r['designed'])} | {c['limit']} | {pct(c['achieved'])} | {c['own_pct']:.1f} % |")
    return "\n".join(lines)


def eight_table(figures):
    lines = [
        f"| build | busy programs | red bars per snapshot | holds per program (min–max) "
        f"| their processor time, share of the machine (designed {pct(1 - 999 / CYCLE_MS)}) "
        f"| service CPU idle | service CPU holding them |",
        "|---|---|---|---|---|---|---|",
    ]
    for arch, fig in figures.items():
        e = fig["eight"]
        lines.append(
            f"| {arch} | {e['programs']} | {e['red'] or '—'} | {min(e['holds'])}–{max(e['holds'])} "
            f"| {pct(e['machine_share'])} | {e['idle_pct']:.1f} % | {e['holding_pct']:.1f} % |")
    return "\n".join(lines)


def scene_table(alone, rows, free=None, front="busy program in front"):
    free = free or rows[0]["progress_pct"] or float("nan")
    lines = [
        f"| case | {front} (% of one CPU; alone: {alone:.0f} %) | of its speed alone "
        f"| the three busy programs (% of one CPU together) | of their progress with no limiter "
        f"| frame loop in front: median lateness | p99 | max | missed 16 ms slots |",
        "|---|---|---|---|---|---|---|---|---|",
    ]
    for r in rows:
        lines.append(
            f"| {r['name']} | {r['front_pct']:.0f} % | {100 * r['front_pct'] / alone:.0f} % "
            f"| {r['progress_pct']:.0f} % | {100 * r['progress_pct'] / free:.0f} % "
            f"| {r.get('median_ms', '—')} ms | {r.get('p99_ms', '—')} ms | {r.get('max_ms', '—')} ms "
            f"| {r.get('missed_pct', '—')} % |")
    return "\n".join(lines)


def front_chart(alone, rows):
    """Per case, the program in front's speed against its speed alone, beside the three's."""
    free = rows[0]["progress_pct"] or float("nan")
    dat = os.path.join(out_dir, "front.dat")
    with open(dat, "w") as f:
        for r in rows:
            label = r["name"]
            f.write(f'"{label}" {100 * r["front_pct"] / alone:.1f} {100 * r["progress_pct"] / free:.1f}\n')
    script = f"""
set terminal pngcairo size 900,520 font 'DejaVu Sans,10'
set output '{os.path.join(out_dir, 'front.png')}'
set title 'A busy program in front beside three busy programs under Wine, 2 CPUs'
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set yrange [0:120]
set ylabel 'percent'
set grid ytics
set key top right
set xtics rotate by -20 scale 0
set arrow from graph 0, first 90 to graph 1, first 90 nohead dt 2 lc rgb 'gray40'
plot '{dat}' using 2:xtic(1) lc rgb '#1b9e77' title 'program in front: % of its speed alone', \
     '' using 3 lc rgb '#a50f15' title 'three busy programs: % of their progress with no limiter'
"""
    plot(script)


def plot(script):
    # make bench goes on where its extra packages could not be installed.
    if shutil.which("gnuplot"):
        subprocess.run(["gnuplot"], input=script, text=True, check=False)
    else:
        log("no gnuplot: the chart is not drawn")


def chart(rows):
    """Share of wake-ups later than x, per case, on log-log axes."""
    floor_ms = 0.01  # a wake on time reads 0; the log axis starts here
    # The comparators in cool colours, Quellcore's levels from orange to dark red.
    colours = ["black", "#1b9e77", "#7570b3", "#fdae61", "#a50f15", "#6a51a3"]
    plots = []
    for r, colour in zip(rows, colours):
        path = os.path.join(out_dir, f"lateness-{r['slug']}.txt")
        if not os.path.exists(path):
            continue
        values = sorted(max(floor_ms, float(v)) for v in open(path))
        n = len(values)
        dat = os.path.join(out_dir, f"ccdf-{r['slug']}.dat")
        with open(dat, "w") as f:
            for i, v in enumerate(values):
                f.write(f"{v} {(n - i) / n}\n")
        plots.append(f"'{dat}' using 1:2 with lines lw 2 lc rgb '{colour}' title '{r['name']}'")
    script = f"""
set terminal pngcairo size 900,560 font 'DejaVu Sans,10'
set output '{os.path.join(out_dir, 'lateness.png')}'
set title 'Frame loop in front beside three busy programs under Wine, 2 CPUs, {FRAMES_S} s per case'
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
    plot(script)


def measure():
    os.makedirs(out_dir, exist_ok=True)
    log(f"{ARCH} build; load average at the start: {' '.join(open('/proc/loadavg').read().split()[:3])}")
    # Wine ends a service whose prefix has no ordinary program left; a desktop always has one.
    start([WINE, probe_exe, "idle", "3600"])
    # The window runs the installed copy, as the Start menu starts it: only a window of the
    # service's own file is protected, and only such a window may name the program in front.
    folder = "Program Files (x86)" if ARCH == "x86" else "Program Files"
    installed = os.path.join(os.environ["WINEPREFIX"], "drive_c", folder, "Quellcore", "quellcore.exe")
    os.makedirs(os.path.dirname(installed), exist_ok=True)
    shutil.copyfile(exe, installed)
    start([WINE, installed])
    probe("wait-window", "present", 90, timeout=150)
    if not wait_service(SERVICE_RUNNING, 60):
        log("the service did not start")
        return 1

    if os.environ.get("QC_BENCH_ONLY") == "front-child":
        return front_child_only()
    if os.environ.get("QC_BENCH_ONLY") == "eight":
        # The service's own cost alone (QC_BENCH_ONLY=eight), logged, not kept.
        eight_programs()
        return 0
    log("== the monitor's own processor use, window shown and hidden")
    monitor = monitor_cost()
    if os.environ.get("QC_BENCH_ONLY") == "monitor":
        return 0
    log("== throttle figures")
    figures = {"rows": [throttle_level(level) for level in LEVELS], "monitor": monitor}
    log(f"== {EIGHT} busy programs at 100")
    figures["eight"] = eight_programs()
    stop_service()
    # The comparison with other limiters and the responsiveness cases say nothing about
    # one build that the other does not: the x86-64 build takes them.
    if ARCH == "x64":
        have_cpulimit = shutil.which("cpulimit") is not None
        if not have_cpulimit:
            log("no cpulimit: its rows and its scene are left out")
        figures["limits"] = [cpulimit_row(r["designed"]) for r in figures["rows"]] if have_cpulimit else []
        log("== the program in front")
        figures["front_alone_pct"] = front_rate()
        figures["front_child_alone_pct"] = front_child_rate()
        level70 = next(r for r in figures["rows"] if r["level"] == 70)["designed"]
        scenes = [
            scene("no limiter", "none", no_limiter),
            scene("the three at nice 19", "nice", renice),
        ]
        if have_cpulimit:
            scenes.append(scene(f"cpulimit -l {round(100 * level70)} on each of the three", "cpulimit",
                                cpulimit_each(round(100 * level70))))
        start_service()
        scenes.append(scene("Quellcore at 70, sparing on", "quellcore-70", quellcore(70)))
        scenes.append(scene("Quellcore at 100, sparing on", "quellcore-100", quellcore(100)))
        figures["child_scene"] = scene("Quellcore at 100, sparing on, the work in a child", "quellcore-100-child",
                                       quellcore(100), child=True)
        scenes.append(scene("Quellcore at 70, sparing off", "quellcore-70-off", quellcore(70, spare=False)))
        stop_service()
        chart(scenes)
        front_chart(figures["front_alone_pct"], scenes)
        figures["scenes"] = scenes
    figures["load_end"] = " ".join(open("/proc/loadavg").read().split()[:3])
    with open(os.path.join(out_dir, f"figures-{ARCH}.json"), "w") as f:
        json.dump(figures, f)
    log(f"load average at the end: {figures['load_end']}")
    return 0


def front_child_only():
    """The child case alone, to see that it runs (QC_BENCH_ONLY=front-child): its figures
    are logged, not kept, since nothing here is measured on a quiet machine."""
    stop_service()
    alone = front_child_rate()
    start_service()
    row = scene("Quellcore at 100, sparing on, the work in a child", "quellcore-100-child", quellcore(100), child=True)
    stop_service()
    log(scene_table(alone, [row], float("nan"), "busy child of the program in front"))
    return 0


def report():
    """tables.md from the figures of every build measured, the release build first."""
    figures = {}
    for arch in ("x86", "x64"):
        path = os.path.join(out_dir, f"figures-{arch}.json")
        if os.path.exists(path):
            with open(path) as f:
                figures[arch] = json.load(f)
    if not figures:
        log("no figures to report")
        return 1
    parts = [throttle_table(figures), eight_table(figures)]
    if any("monitor" in fig for fig in figures.values()):
        parts.append(monitor_table(figures))
    if "x86" not in figures:
        why = subprocess.run([os.path.join(os.path.dirname(__file__), "..", "tools", "x86-runs")],
                             capture_output=True, text=True).stdout.strip()
        parts.insert(0, f"The x86 build was not measured: {why or 'its run did not finish'}.")
    x64 = figures.get("x64", {})
    if "limits" in x64:
        parts.append(cpulimit_table(x64["rows"], x64["limits"]))
    if "scenes" in x64:
        parts.append(scene_table(x64["front_alone_pct"], x64["scenes"]))
    if "child_scene" in x64:
        parts.append(scene_table(x64["front_child_alone_pct"], [x64["child_scene"]], x64["scenes"][0]["progress_pct"],
                                 "busy child of the program in front"))
    text = "\n\n".join(parts)
    with open(os.path.join(out_dir, "tables.md"), "w") as f:
        f.write(text + "\n")
    log(f"\n{text}\n")
    log(f"tables: {os.path.join(out_dir, 'tables.md')}  charts: {os.path.join(out_dir, 'front.png')}, "
        f"{os.path.join(out_dir, 'lateness.png')}")
    return 0


def main():
    return report() if exe is None else measure()


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
