#!/usr/bin/env python3
"""The screencast's formats compared on real Chromium, without the simulator: for PNG and for
JPEG at several qualities, the browser's CPU per frame and per minute and the frames' size on a
page of small text that repaints every frame and on a page animating in colour, then (through
frame_decode_probe) the time libpng / libjpeg-turbo take to decode a frame and its fidelity to
a PNG snapshot of the same still page. Prints one JSON object; scripts/bench runs it as the step
"formats" and docs/performance.md explains its table. Not a test: the figures depend on the
machine and its load.

  screencast_formats.py --decoder PATH [--browser PATH] [--seconds S] [--scale F] [--out DIR]
  screencast_formats.py --latency-period S [--seconds S]"""

import argparse
import base64
import json
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
VARIANTS = [("png", None), ("jpeg", 60), ("jpeg", 75), ("jpeg", 85), ("jpeg", 90), ("jpeg", 95)]


def page(name, query=""):
    return "file://" + os.path.join(HERE, "pages", name) + query


class Browser:
    """Headless Chromium on the DevTools pipe, started with the flags the plugin uses."""

    def __init__(self, executable, scale):
        self.scale = scale
        self.profile = tempfile.mkdtemp(prefix="cv-formats-")
        to_browser, self.write_fd = os.pipe()
        self.read_fd, from_browser = os.pipe()
        args = [executable, "--headless", "--remote-debugging-pipe", "--user-data-dir=" + self.profile,
                "--no-first-run", "--no-default-browser-check", "--disable-background-networking",
                "--disable-component-update", "--disable-sync", "--disable-gpu", "--hide-scrollbars",
                "--mute-audio", "--disable-features=WebUIOmniboxPopup,WebUIOmniboxAimPopup"]
        if os.geteuid() == 0:
            args.append("--no-sandbox")

        def wire():  # the browser reads commands on fd 3 and writes on fd 4 (kept open by pass_fds)
            os.dup2(to_browser, 3)
            os.dup2(from_browser, 4)
            os.setpgid(0, 0)  # its own group, for counting its CPU

        self.process = subprocess.Popen(args + ["about:blank"], preexec_fn=wire, pass_fds=(3, 4),
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_browser)
        os.close(from_browser)
        self.buffer = b""
        self.next_id = 0
        self.events = []
        target = next(t["targetId"] for t in self.call("Target.getTargets")["targetInfos"] if t["type"] == "page")
        self.session = self.call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
        self.call("Page.enable", session=True)
        # Frames at the device scale need the visible size too: new headless mode otherwise
        # renders the screencast at 768 x 512 and scales the page down into it.
        self.call("Emulation.setDeviceMetricsOverride",
                  {"width": 768, "height": 512, "deviceScaleFactor": scale, "mobile": False, "scale": scale,
                   "dontSetVisibleSize": True}, session=True)
        self.call("Emulation.setVisibleSize", {"width": round(768 * scale), "height": round(512 * scale)},
                  session=True)

    def close(self):
        try:
            self.send("Browser.close")
            self.process.wait(timeout=5)
        except Exception:
            self.process.kill()
            self.process.wait()
        os.close(self.read_fd)
        os.close(self.write_fd)
        shutil.rmtree(self.profile, ignore_errors=True)

    def send(self, method, params=None, session=False):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = self.session
        os.write(self.write_fd, json.dumps(message).encode() + b"\0")
        return self.next_id

    def receive(self, timeout):
        """The next message, or None after timeout seconds."""
        deadline = time.monotonic() + timeout
        while b"\0" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.read_fd], [], [], left)[0]:
                return None
            chunk = os.read(self.read_fd, 1 << 20)
            if not chunk:
                raise RuntimeError("the browser closed its pipe")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(line)

    def call(self, method, params=None, session=False):
        wanted = self.send(method, params, session)
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            message = self.receive(deadline - time.monotonic())
            if message is None:
                break
            if message.get("id") == wanted:
                if "error" in message:
                    raise RuntimeError(f"{method}: {message['error']}")
                return message["result"]
            if "method" in message:
                self.events.append(message)
        raise RuntimeError(f"{method}: no answer within 30 s")

    def navigate(self, url):
        self.call("Page.navigate", {"url": url}, session=True)
        time.sleep(1.5)  # it loads and paints

    def cpu_seconds(self):
        ticks = 0
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open(f"/proc/{entry}/stat") as f:
                    stat = f.read()
            except OSError:
                continue
            fields = stat[stat.rfind(")") + 2:].split()
            if int(fields[2]) == self.process.pid:
                ticks += sum(int(v) for v in fields[11:15])
        return ticks / os.sysconf("SC_CLK_TCK")

    def screencast(self, fmt, quality, seconds):
        """Runs a screencast for that long, acknowledging each frame at once: frames, their
        mean size, the browser's CPU seconds and the first and last frame's bytes."""
        self.events.clear()
        params = {"format": fmt, "maxWidth": round(768 * self.scale), "maxHeight": round(512 * self.scale),
                  "everyNthFrame": 1}
        if quality is not None:
            params["quality"] = quality
        before, start = self.cpu_seconds(), time.monotonic()
        self.call("Page.startScreencast", params, session=True)
        frames, sizes, first, last = 0, 0, None, None
        pending = list(self.events)
        self.events.clear()
        while time.monotonic() - start < seconds:
            message = pending.pop(0) if pending else self.receive(start + seconds - time.monotonic())
            if message is None or message.get("method") != "Page.screencastFrame":
                continue
            params = message["params"]
            self.send("Page.screencastFrameAck", {"sessionId": params["sessionId"]}, session=True)
            data = base64.b64decode(params["data"])
            frames += 1
            sizes += len(data)
            first = first or data
            last = data
        cpu, wall = self.cpu_seconds() - before, time.monotonic() - start
        self.call("Page.stopScreencast", session=True)
        return {"frames": frames, "fps": frames / wall, "bytes_mean": sizes / frames if frames else None,
                "cpu_s_per_min": cpu / wall * 60, "cpu_ms_per_frame": cpu / frames * 1000 if frames else None,
                "first": first, "last": last}


def browser_latency(browser, url, period, seconds):
    """The browser's share of the live latency: the latency page's changes (every period
    seconds since the epoch) to the arrival of their frame on our end of the pipe, JPEG at the
    plugin's quality, and the part of it after the browser's own frame timestamp (encoding and
    the pipe)."""
    browser.navigate(url)
    browser.events.clear()
    browser.call("Page.startScreencast", {"format": "jpeg", "quality": 90, "maxWidth": 768, "maxHeight": 512},
                 session=True)
    pending, latest = list(browser.events), {}
    start = time.monotonic()
    while time.monotonic() - start < seconds:
        message = pending.pop(0) if pending else browser.receive(start + seconds - time.monotonic())
        if message is None or message.get("method") != "Page.screencastFrame":
            continue
        arrived = time.time()
        params = message["params"]
        browser.send("Page.screencastFrameAck", {"sessionId": params["sessionId"]}, session=True)
        change = (arrived // period) * period
        if change not in latest:  # the first frame after each change
            latest[change] = (arrived - change, arrived - params["metadata"]["timestamp"])
    browser.call("Page.stopScreencast", session=True)
    samples = list(latest.values())[1:]  # the first is the page as it stood at the start
    ordered = sorted(s[0] for s in samples)
    after = sorted(s[1] for s in samples)
    return {"samples": len(samples), "p50_s": ordered[len(ordered) // 2], "p95_s": ordered[int(len(ordered) * 0.95)],
            "encode_and_pipe_p50_s": after[len(after) // 2]}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--decoder", help="frame_decode_probe (needed unless --latency-period)")
    parser.add_argument("--browser", default="/usr/bin/chromium")
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--scale", type=float, default=1, help="device pixels per page pixel")
    parser.add_argument("--out", default=tempfile.gettempdir())
    parser.add_argument("--latency-period", type=float, help="only the browser's latency on the latency page")
    args = parser.parse_args()
    if not args.decoder and not args.latency_period:
        parser.error("--decoder is needed to compare formats")
    os.makedirs(args.out, exist_ok=True)
    browser = Browser(args.browser, args.scale)
    if args.latency_period:
        try:
            url = page("latency.html", f"?period={round(args.latency_period * 1000)}")
            print(json.dumps(browser_latency(browser, url, args.latency_period, args.seconds), indent=2))
        finally:
            browser.close()
        return 0
    report = {}
    try:
        # The still text page: the PNG snapshot it is compared with, and each format's first frame.
        browser.navigate(page("text.html"))
        snapshot = base64.b64decode(browser.call("Page.captureScreenshot", {"format": "png"}, session=True)["data"])
        reference = os.path.join(args.out, "text-snapshot.png")
        with open(reference, "wb") as f:
            f.write(snapshot)
        still = {}
        for fmt, quality in VARIANTS:
            name = fmt + (str(quality) if quality else "")
            run = browser.screencast(fmt, quality, 3)
            report[name] = {"still_frames_in_3_s": run["frames"]}
            if run["first"]:
                still[name] = os.path.join(args.out, f"text-{name}.{fmt}")
                with open(still[name], "wb") as f:
                    f.write(run["first"])
        # Frames as fast as the browser draws: the text page with its ticking counter, then the
        # animated page; the formats in turns so that drift in the load falls on all alike.
        for url, label in [(page("text.html", "?tick=1"), "text"), (page("animated.html"), "animated")]:
            browser.navigate(url)
            for fmt, quality in VARIANTS:
                name = fmt + (str(quality) if quality else "")
                run = browser.screencast(fmt, quality, args.seconds)
                report[name][label] = {k: v for k, v in run.items() if k not in ("first", "last")}
                if label == "animated" and run["last"]:
                    path = os.path.join(args.out, f"animated-{name}.{fmt}")
                    with open(path, "wb") as f:
                        f.write(run["last"])
                    report[name]["animated_frame"] = path
    finally:
        browser.close()
    # Decoding and fidelity, in our process with the libraries the plugin uses.
    for name, path in still.items():
        out = subprocess.run([args.decoder, reference, path], capture_output=True, text=True, timeout=300)
        if out.returncode != 0:
            raise RuntimeError(f"frame_decode_probe failed on {path}: {out.stderr}")
        report[name]["text_frame"] = json.loads(out.stdout)
    for name, entry in report.items():
        if "animated_frame" in entry:
            out = subprocess.run([args.decoder, "", entry.pop("animated_frame")], capture_output=True, text=True,
                                 timeout=300)
            if out.returncode == 0:
                entry["animated_decode_ms"] = json.loads(out.stdout)["decode_ms_median"]
    print(json.dumps(report, indent=2))
    return 0


if __name__ == "__main__":
    sys.exit(main())
