#!/usr/bin/env python3
"""Every measurement of scripts/bench, against an optimised build: runs them one after the
other, prints a table and writes the report (build/bench/report.json). docs/performance.md
explains each figure. Not a test: the figures depend on the machine and its load."""

import argparse
import datetime
import json
import math
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import time

# The report holds exactly these keys, in this order.
KEYS = [
    "latency_p50_s", "latency_p95_s", "latency_min_s", "latency_samples",
    "idle_frame_instr", "new_frame_instr", "memcpy_frame_instr", "new_frame_ratio",
    "heap_growth_bytes_per_1000_snapshots",
    "stop_s_median", "stop_s_max",
    "spawn_ms_median", "fork_ms_median", "spawn_resident_gib",
    "browser_cpu_s_per_min",
    "capture_ms_median", "decode_ms_median", "decode_vs_libpng",
]

# Where a figure has a target on this machine: (comparison, bound).
TARGETS = {
    "latency_p50_s": ("<=", 0.29), "latency_p95_s": ("<=", 0.53), "latency_min_s": ("<=", 0.045),
    "latency_samples": (">=", 60), "idle_frame_instr": ("<=", 1000), "new_frame_ratio": ("<=", 1.2),
    "heap_growth_bytes_per_1000_snapshots": ("<=", 65536), "stop_s_median": ("<=", 0.3), "stop_s_max": ("<=", 2),
    "spawn_ms_median": ("<=", 1.0), "spawn_resident_gib": (">=", 4.0),
    "base64_gb_per_s": (">=", 1.0),
}

# The stand-in desktop of the runs with a real browser: small, so drawing it costs the two
# cores little. The panel opens 100 boxels from its top-left corner, 768 x 512 boxels large.
SCREEN = "0,700,1000,0"
PANEL_CENTRE = (100 + 768 // 2, 700 - 100 - 512 // 2)

# The latency page: the colour cycle it shows, changing every PERIOD seconds since the epoch.
LATENCY_PERIOD_S = 0.737
LATENCY_COLOURS = [(255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 0), (255, 0, 255), (0, 255, 255)]


class Bench:
    def __init__(self, source, build):
        self.source = source
        self.build = build
        self.run_dir = os.path.join(build, "run")
        self.module = os.path.join(build, "Corvane_Toolbar", "lin_x64", "Corvane_Toolbar.xpl")
        self.xpsim = os.path.join(build, "xpsim")
        self.figures = {}      # report keys
        self.extra = {}        # comparisons shown in the table only
        self.env = dict(os.environ)
        # The browser's lasting profile goes to a scratch folder, never the user's own.
        self.env["XDG_DATA_HOME"] = os.path.join(self.run_dir, "data")

    def tool(self, name):
        return os.path.join(self.build, "bench", name)

    def plugin_folder(self, name, url, zoom=0.5, refresh=60, browser=None):
        """A fresh plugin folder holding the module and its settings; the module's path."""
        folder = os.path.join(self.run_dir, name, "Corvane_Toolbar", "lin_x64")
        os.makedirs(folder)
        module = os.path.join(folder, "Corvane_Toolbar.xpl")
        shutil.copy(self.module, module)
        lines = ["[General]", f"zoomLevel = {zoom}", f"refreshWebPageSecs = {refresh}", f"WebURL = {url}"]
        if browser:
            lines.append(f"BrowserPath = {browser}")
        with open(os.path.join(folder, "cv_settings.ini"), "w") as f:
            f.write("\n".join(lines) + "\n")
        return module

    def page(self, relative):
        return "file://" + os.path.join(self.source, relative)

    def run(self, args, timeout, **kwargs):
        result = subprocess.run(args, env=self.env, capture_output=True, text=True, timeout=timeout, **kwargs)
        if result.returncode != 0:
            raise RuntimeError(f"{os.path.basename(args[0])} failed ({result.returncode}):\n{result.stderr[-3000:]}")
        return result.stdout

    # ------------------------------------------------------------ measurements

    def micro(self):
        """Google Benchmark: base64 on the I/O thread, PNG decoding, the frame copy."""
        out = self.run([self.tool("cv_bench"), "--benchmark_format=json", "--benchmark_min_time=0.5"], 300)
        for b in json.loads(out)["benchmarks"]:
            if b["name"] == "BM_Base64Snapshot":
                self.extra["base64_gb_per_s"] = b["bytes_per_second"] / 1e9
            if b["name"] == "BM_SnapshotReply":
                self.extra["reply_gb_per_s"] = b["bytes_per_second"] / 1e9

    def capture(self):
        """Real Chromium's snapshots of the demo page: capture, size, CPU and decoding, for
        both PNG encodings; the report takes the one the plugin asks for."""
        out = self.run([self.tool("capture_probe"), "--page", self.page("demo/index.html"), "--zoom", "0.5",
                        "--captures", "40", "--cpu-seconds", "40", "--out", self.run_dir], 600)
        probe = json.loads(out)
        used = probe[probe["plugin"]]
        self.figures["capture_ms_median"] = used["capture_ms_median"]
        self.figures["decode_ms_median"] = used["decode_ms_median"]
        self.figures["decode_vs_libpng"] = used["decode_ms_median"] / used["libpng_ms_median"]
        self.extra["capture"] = probe

    def latency(self):
        """Page change to panel: the real module and Chromium in xpsim, the panel's centre
        watched while the latency page changes colour at known wall-clock times."""
        url = self.page("bench/pages/latency.html") + f"?period={round(LATENCY_PERIOD_S * 1000)}"
        module = self.plugin_folder("latency", url, zoom=1.0, refresh=0)
        folder = os.path.dirname(module)
        watch = os.path.join(folder, "watch.txt")
        x, y = PANEL_CENTRE
        script = (f"wait 3; command Corvane/TogglePanel; wait 3; watch {x} {y} {watch}; wait 80; unwatch; "
                  "command Corvane/TogglePanel; quit")
        self.run([self.xpsim, "--screen", SCREEN, "--log", os.path.join(folder, "Log.txt"), module, "-e", script],
                 300)
        latencies, strays = [], 0
        with open(watch) as f:
            lines = [line.split() for line in f if line.strip()]
        for fields in lines[1:]:  # the first line is the colour when the watch began
            seen = float(fields[0])
            colour = tuple(int(v) for v in fields[1:4])
            if colour not in LATENCY_COLOURS:
                strays += 1
                continue
            # The latest change to this colour at or before the time it was seen.
            k = math.floor(seen / LATENCY_PERIOD_S)
            while k % len(LATENCY_COLOURS) != LATENCY_COLOURS.index(colour):
                k -= 1
            latencies.append(seen - k * LATENCY_PERIOD_S)
        if not latencies:
            raise RuntimeError("the watched pixel never changed colour; see " + folder)
        # Where the time goes beyond the schedule: the browser's snapshot of this very page and
        # its decoding, measured on their own.
        probe = json.loads(self.run([self.tool("capture_probe"), "--page", url, "--zoom", "1.0", "--captures", "30",
                                     "--cpu-seconds", "0"], 300))
        self.extra["latency_page"] = probe[probe["plugin"]]
        self.figures["latency_p50_s"] = percentile(latencies, 50)
        self.figures["latency_p95_s"] = percentile(latencies, 95)
        self.figures["latency_min_s"] = min(latencies)
        self.figures["latency_samples"] = len(latencies)
        self.extra["latency_max_s"] = max(latencies)
        self.extra["latency_strays"] = strays

    def browser_cpu(self):
        """CPU seconds per minute of all the browser's processes, the panel shown on the demo
        page, over one minute (which holds one of the page's reloads)."""
        module = self.plugin_folder("cpu", self.page("demo/index.html"))
        folder = os.path.dirname(module)
        script = "wait 2; command Corvane/TogglePanel; wait 80; command Corvane/TogglePanel; quit"
        sim = subprocess.Popen([self.xpsim, "--screen", SCREEN, "--log", os.path.join(folder, "Log.txt"), module,
                                "-e", script], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        try:
            browser = None
            deadline = time.monotonic() + 20
            while browser is None and time.monotonic() < deadline:
                browser = browser_child(sim.pid)
                time.sleep(0.1)
            if browser is None:
                raise RuntimeError("the plugin started no browser; see " + folder)
            time.sleep(12)  # the browser is up and the panel shown
            start_cpu, start = group_cpu_seconds(browser), time.monotonic()
            time.sleep(60)
            used, spent = group_cpu_seconds(browser) - start_cpu, time.monotonic() - start
            self.figures["browser_cpu_s_per_min"] = used / spent * 60
        finally:
            _, err = sim.communicate(timeout=120)
        if sim.returncode != 0:
            raise RuntimeError(f"xpsim failed ({sim.returncode}): {err[-2000:]}")

    def heap(self):
        """The long-flight memory soak's own figure: snapshots through the fake peer with the
        stand-in unpaced, heap in use by glibc's count (mallinfo2): after 1,000 snapshots of
        warm-up, the growth from the second block of 1,000 to the seventh, over 5,000 snapshots
        (docs/reliability.md)."""
        folder = os.path.join(self.run_dir, "heap")
        os.makedirs(folder)
        out = subprocess.run([os.path.join(self.build, "tests", "soak", "cv_memory_soak"), "--snapshots", "7000",
                              "--limit", str(TARGETS["heap_growth_bytes_per_1000_snapshots"][1])],
                             env=self.env, cwd=folder, capture_output=True, text=True, timeout=900)
        with open(os.path.join(folder, "soak.txt"), "w") as f:
            f.write(out.stdout + out.stderr)
        # Its verdict on the limit is the table's to show; only a run that gave no figure fails.
        found = re.search(r"heap growth after the first \d+ snapshots: (-?\d+) bytes per 1000", out.stdout)
        if not found:
            raise RuntimeError(f"cv_memory_soak gave no figure ({out.returncode}):\n{(out.stdout + out.stderr)[-3000:]}")
        self.figures["heap_growth_bytes_per_1000_snapshots"] = int(found.group(1))

    def stop(self):
        """XPluginStop with real Chromium up, five runs."""
        module = self.plugin_folder("stop", self.page("demo/index.html"))
        out = self.run([self.tool("stop_probe"), module, "5", os.path.join(os.path.dirname(module), "Log.txt")], 300)
        times = json.loads(out)["stop_s"]
        self.figures["stop_s_median"] = statistics.median(times)
        self.figures["stop_s_max"] = max(times)
        self.extra["stop_s"] = times

    def spawn(self):
        """The main thread's time to start the browser as the plugin does, from a process
        holding 4 GiB (a simulator holds 10 to 20), against a plain fork() of the same
        process in the same run."""
        browser = shutil.which("chromium", path=self.env.get("PATH"))
        if browser is None:
            raise RuntimeError("no chromium on PATH")
        probe = json.loads(self.run([self.tool("spawn_probe"), browser, "4.25", "30"], 300))
        self.figures["spawn_ms_median"] = statistics.median(probe["spawn_ms"])
        self.figures["fork_ms_median"] = statistics.median(probe["fork_ms"])
        self.figures["spawn_resident_gib"] = probe["resident_gib"]
        self.extra["spawn"] = probe

    def instructions(self):
        """Callgrind: what a frame costs the main thread, against plain copies of a frame.
        Through xpsim with the fake peer, our module's own instructions per frame (the stand-in
        host and the GL driver left out) in idle frames, and a new snapshot's frame with the GL
        driver's work counted in, since the copy a new picture costs is now the driver's
        upload. With the probe, a draw with the panel shown and no new frame, and one taking a
        new frame at page scale 2 (1536 x 1024), each with the driver's work and without the
        stand-in host's."""
        folder = os.path.join(self.run_dir, "callgrind")
        os.makedirs(folder)
        probe_runs = {}
        for step in ("copyFrame", "copyFrame2x", "drawNewFrame", "drawIdle"):
            out = os.path.join(folder, step + ".out")
            probe = json.loads(self.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out,
                                         "--collect-atstart=no", "--toggle-collect=" + step,
                                         "--compress-strings=no", "--compress-pos=no",
                                         self.tool("frame_copy_probe")], 600))
            ours, host, gl = frame_costs(out, "frame_copy_probe")
            probe_runs[step] = {"total": callgrind_totals(out) / probe["repeats"], "ours": ours / probe["repeats"],
                                "host": host / probe["repeats"], "gl": gl / probe["repeats"]}
        memcpy_instr = probe_runs["copyFrame"]["total"]

        # The fake peer serves 768 x 512 snapshots at once, so frames with and without a new
        # one follow each other at the plugin's own pace; the stand-in runs unpaced.
        module = self.plugin_folder("frames", "about:blank", zoom=1.0, refresh=0,
                                    browser=os.path.join(self.build, "tools", "fake_cdp", "fake_cdp"))
        frames_out = os.path.join(folder, "frames.out")
        # --fair-sched: valgrind runs one thread at a time, and by default the unpaced main
        # thread keeps the pipe and decode threads waiting so long that no snapshot arrives.
        self.run(["valgrind", "--tool=callgrind", "--fair-sched=yes", "--callgrind-out-file=" + frames_out,
                  "--collect-atstart=no",
                  "--toggle-collect=PanelFlightLoop*", "--toggle-collect=*BrowserFlightLoop*",
                  # A dump after each draw holds one frame: both flight loops, then the draw.
                  # (Not the same pattern text as the toggle, which callgrind would merge.)
                  "--toggle-collect=drawPanelWindow*", "--dump-after=drawPanelWindow(void*, void*)",
                  "--separate-threads=yes", "--compress-strings=no", "--compress-pos=no",
                  self.xpsim, "--unpaced", "--screen", "0,300,300,0",
                  "--log", os.path.join(folder, "Log.txt"), module,
                  "-e", "frames 30; command Corvane/TogglePanel; frames 400; quit"], 1200)
        frames = []
        for frame in range(1, 401):
            path = f"{frames_out}.{frame}-01"  # dump n holds the n-th frame with the panel shown, main thread
            if os.path.exists(path):
                frames.append(frame_costs(path, os.path.basename(module)))
        # A new frame is one whose upload shows (the GL driver copying the picture in); the
        # idle frames are those after the first new one (the panel then holds a frame, as it
        # does for the rest of a flight). The median of those is a frame with nothing due; the
        # few with a snapshot request or a reply to hand over show in the table's p90 and max.
        is_new = [ours + gl > memcpy_instr / 2 for ours, _, gl in frames]
        if not any(is_new):
            raise RuntimeError("no frame took over a new snapshot; see " + folder)
        first_new = is_new.index(True)
        new = [f[0] + f[2] for f, n in zip(frames, is_new) if n]
        idle = [f for f, n in zip(frames[first_new + 1:], is_new[first_new + 1:]) if not n]
        self.figures["idle_frame_instr"] = statistics.median(f[0] for f in idle)
        self.figures["new_frame_instr"] = statistics.median(new)
        self.figures["memcpy_frame_instr"] = memcpy_instr
        self.figures["new_frame_ratio"] = statistics.median(new) / memcpy_instr
        draw_idle, draw_new = probe_runs["drawIdle"], probe_runs["drawNewFrame"]
        self.figures["shown_idle_draw_instr"] = draw_idle["ours"] + draw_idle["gl"]
        self.figures["new_frame_instr_2x"] = draw_new["ours"] + draw_new["gl"]
        self.figures["memcpy_frame_instr_2x"] = probe_runs["copyFrame2x"]["total"]
        self.extra["frames"] = {"new": len(new), "other": len(idle), "other_max": max(f[0] for f in idle),
                                "other_p90": percentile([f[0] for f in idle], 90),
                                "idle_host": statistics.median(f[1] for f in idle),
                                "idle_gl": statistics.median(f[2] for f in idle),
                                "new_ours": statistics.median(f[0] for f, n in zip(frames, is_new) if n)}
        self.extra["draws"] = probe_runs

    # ------------------------------------------------------------ the report

    def report(self, path, seconds):
        report = {key: self.figures.get(key) for key in KEYS}
        with open(path, "w") as f:
            json.dump(report, f, indent=2)
            f.write("\n")
        print_table(report, self.extra, seconds)


def percentile(values, p):
    """Linear interpolation between the closest ranks."""
    ordered = sorted(values)
    rank = (len(ordered) - 1) * p / 100
    low = math.floor(rank)
    high = min(low + 1, len(ordered) - 1)
    return ordered[low] + (ordered[high] - ordered[low]) * (rank - low)


def read_stat(pid):
    """Fields 3 onwards of /proc/PID/stat (after the command name), or None."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            stat = f.read()
    except OSError:
        return None
    return stat[stat.rfind(")") + 2:].split()


def browser_child(parent):
    """The browser the plugin started: a child of the simulator on the DevTools pipe."""
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        fields = read_stat(entry)
        if fields is None or int(fields[1]) != parent:
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                if b"--remote-debugging-pipe" in f.read():
                    return int(entry)
        except OSError:
            pass
    return None


def group_cpu_seconds(group):
    """User and system CPU of every process in the browser's process group (the browser
    starts its helpers in a group of its own), reaped children included."""
    ticks = 0
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            fields = read_stat(entry)
            if fields is not None and int(fields[2]) == group:
                ticks += sum(int(v) for v in fields[11:15])  # utime, stime, cutime, cstime
    return ticks / os.sysconf("SC_CLK_TCK")


def callgrind_totals(path):
    with open(path) as f:
        for line in f:
            if line.startswith("totals:") or line.startswith("summary:"):
                return int(line.split()[1])
    raise RuntimeError("no totals in " + path)


# The objects whose instructions count as the module's own: the module and the C and C++
# runtime it calls. Calls from the module into anything else (the GL driver, the stand-in
# host's XPLM functions) are left out with everything they run.
RUNTIME_OBJECTS = re.compile(r"(libc\.so|libstdc\+\+\.so|libm\.so|libgcc_s\.so|ld-linux-x86-64\.so)")


def frame_costs(path, module_name):
    """One callgrind dump (collected only inside our callbacks), split three ways: the
    module's own instructions, those of its calls into the stand-in host's XPLM functions,
    and those of its calls into the GL driver (everything else it calls outside its runtime).
    (The dump also lists the calls that lead into the callbacks, main() and up, which
    collected nothing of their own: they are not the module's calls and stay out.)"""
    def module(obj):
        return obj is not None and os.path.basename(obj) == module_name

    def ours(obj):
        return module(obj) or (obj is not None and RUNTIME_OBJECTS.search(obj) is not None)

    with open(path) as f:
        lines = f.read().splitlines()
    object_of = {}
    current = None
    for line in lines:
        if line.startswith("ob="):
            current = line[3:]
        elif line.startswith("fn="):
            object_of[line[3:]] = current
    total, host, gl = 0, 0, 0
    current = None
    callee_object, callee = None, None
    after_call = False
    caller_ours = False
    for line in lines:
        if after_call:
            after_call = False
            fields = line.split()
            cost = int(fields[1]) if len(fields) > 1 else 0
            target = callee_object if callee_object is not None else object_of.get(callee, current)
            if caller_ours and not ours(target):
                if target is not None and "xpsim_host" in os.path.basename(target):
                    host += cost
                else:
                    gl += cost
            callee_object = None
            continue
        if line.startswith("ob="):
            current = line[3:]
        elif line.startswith("fn="):
            caller_ours = module(current)
            callee_object = None
        elif line.startswith("cob="):
            callee_object = line[4:]
        elif line.startswith("cfn="):
            callee = line[4:]
        elif line.startswith("calls="):
            after_call = True
        elif line and (line[0].isdigit() or line[0] in "+-*"):
            fields = line.split()
            if len(fields) > 1:
                total += int(fields[1])
    return total - host - gl, host, gl


def print_table(report, extra, seconds):
    def shown(value):
        if value is None:
            return "(not measured)"
        if isinstance(value, float):
            return f"{value:,.0f}" if value >= 1000 else f"{value:.3f}"
        return f"{value:,}"

    def target(key):
        if key not in TARGETS:
            return ""
        comparison, bound = TARGETS[key]
        value = report.get(key, extra.get(key))
        met = value is not None and (value <= bound if comparison == "<=" else value >= bound)
        return f"{comparison} {bound:,}  {'met' if met else 'MISSED'}"

    print()
    print(f"Corvane Toolbar bench, {datetime.datetime.now():%Y-%m-%d %H:%M}, {cpu_model()}, "
          f"{os.cpu_count()} cores, {seconds / 60:.1f} min")
    print(f"{'figure':40} {'value':>14}   target")
    for key in KEYS:
        print(f"{key:40} {shown(report.get(key)):>14}   {target(key)}")
    if "base64_gb_per_s" in extra:
        print(f"{'base64 decoding, GB/s (I/O thread)':40} {shown(extra['base64_gb_per_s']):>14}   "
              f"{target('base64_gb_per_s')}")
    if "reply_gb_per_s" in extra:
        print(f"{'snapshot reply, JSON + base64, GB/s':40} {shown(extra['reply_gb_per_s']):>14}")
    if "latency_max_s" in extra:
        print(f"{'latency_max_s':40} {shown(extra['latency_max_s']):>14}")
    if "latency_page" in extra:
        page = extra["latency_page"]
        print(f"{'latency page: capture / decode (ms)':40} "
              f"{shown(page['capture_ms_median']) + ' / ' + shown(page['decode_ms_median']):>14}   "
              f"medians; frames are 16.7 ms")
    if "spawn" in extra:
        spawn = extra["spawn"]
        print(f"{'browser start / fork, max (ms)':40} "
              f"{shown(max(spawn['spawn_ms'])) + ' / ' + shown(max(spawn['fork_ms'])):>14}   "
              f"from {spawn['resident_gib']:.2f} GiB resident")
    if "stop_s" in extra:
        print(f"{'stop_s, each run':40} {', '.join(f'{s:.3f}' for s in extra['stop_s']):>14}")
    if "frames" in extra:
        f = extra["frames"]
        print(f"{'frames counted (new / other)':40} {str(f['new']) + ' / ' + str(f['other']):>14}   "
              f"other frames: p90 {f['other_p90']:,.0f}, max {f['other_max']:,.0f} instructions")
        print(f"{'idle frame: stand-in XPLM / GL driver':40} "
              f"{shown(f['idle_host']) + ' / ' + shown(f['idle_gl']):>14}   instructions, left out above")
    if "capture" in extra:
        c = extra["capture"]
        print()
        print(f"Chromium's PNG encodings on the demo page (the plugin asks for: {c['plugin']})")
        print(f"{'':40} {'default':>14} {'optimizeForSpeed':>18}")
        for key, label in [("capture_ms_median", "capture, request to answer (ms)"), ("png_bytes", "PNG size (bytes)"),
                           ("browser_cpu_s_per_min", "browser CPU, 2 snapshots/s (s/min)"),
                           ("decode_ms_median", "our decoder (ms)"), ("libpng_ms_median", "bare libpng (ms)")]:
            print(f"{label:40} {shown(c['default'][key]):>14} {shown(c['optimizeForSpeed'][key]):>18}")


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown CPU"


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", required=True, help="the optimised build folder")
    parser.add_argument("--only", help="comma-separated steps to run (for working on one)")
    args = parser.parse_args()
    source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    bench = Bench(source, os.path.abspath(args.build))
    shutil.rmtree(bench.run_dir, ignore_errors=True)
    os.makedirs(bench.run_dir)

    steps = [("micro-benchmarks", bench.micro), ("snapshots of real Chromium", bench.capture),
             ("page-to-panel latency", bench.latency), ("browser CPU", bench.browser_cpu),
             ("memory over a long flight", bench.heap),
             ("stop time", bench.stop), ("browser start", bench.spawn),
             ("instructions per frame", bench.instructions)]
    only = set(args.only.split(",")) if args.only else None
    started = time.monotonic()
    failed = []
    for name, step in steps:
        if only and step.__name__ not in only:
            continue
        print(f"bench: {name} ...", flush=True)
        t = time.monotonic()
        try:
            step()
        except Exception as e:  # one failed measurement leaves the others standing
            failed.append(name)
            print(f"bench: {name} failed: {e}", file=sys.stderr, flush=True)
        print(f"bench: {name} took {time.monotonic() - t:.0f} s", flush=True)
    bench.report(os.path.join(bench.build, "report.json"), time.monotonic() - started)
    print(f"\nreport: {os.path.join(bench.build, 'report.json')}")
    if failed:
        print("bench: failed: " + ", ".join(failed), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
