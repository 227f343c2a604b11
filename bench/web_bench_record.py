"""The recorder's cost while vorta-web serves 50 downloads at once. One vorta
records music-like sound from the private sound server for the whole run;
its CPU time is taken over equal windows, quiet and loaded (50 clients
downloading hour files from vorta-web over and over) in turn, several times.
The figure is the median of the ratios of each loaded window to the quiet
one before it: the machine's other load drifts slowly and hits both windows
of a pair alike. CPU time is the sum over the recorder's threads of the time
they ran (schedstat, nanoseconds; utime + stime counts only whole ticks).
Used by web_bench.py (FIGURES=record or RECORD=1).

  WINDOW=10 DRAIN=5 PAIRS=6 (seconds quiet or loaded, seconds quiet after
  each, quiet/loaded pairs)"""
import array
import glob
import math
import os
import statistics
import subprocess
import threading
import time
import wave

CLIENTS = 50
WINDOW = float(os.environ.get("WINDOW", "10"))
PAIRS = int(os.environ.get("PAIRS", "6"))
DRAIN = float(os.environ.get("DRAIN", "5"))


def cpu_seconds(pid):
    """utime + stime of a whole process, in ticks (also of threads gone)."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def thread_ns(pid):
    """Nanoseconds each living thread has run, by thread name."""
    ran = {}
    for task in glob.glob(f"/proc/{pid}/task/*"):
        try:
            with open(f"{task}/comm") as f:
                name = f.read().strip()
            with open(f"{task}/schedstat") as f:
                ran[name] = ran.get(name, 0) + int(f.read().split()[0])
        except OSError:
            pass
    return ran


def chords(path, seconds=20, rate=48000):
    """Stereo chords changing every half second, with a little noise."""
    samples = array.array("h")
    noise = 12345
    for i in range(seconds * rate):
        t = i / rate
        step = math.floor(2 * t)
        noise = (noise * 1103515245 + 12345) & 0x7FFFFFFF
        n = (noise / 0x7FFFFFFF - 0.5) * 0.02
        left = 0.25 * math.sin(2 * math.pi * (220 + 110 * step) * t) + 0.15 * math.sin(2 * math.pi * 330 * t) + n
        right = 0.2 * math.sin(2 * math.pi * (440 + 55 * step) * t) + 0.1 * math.sin(2 * math.pi * 1760 * t) - n
        samples.extend((int(left * 32767), int(right * 32767)))
    with wave.open(path, "wb") as w:
        w.setnchannels(2), w.setsampwidth(2), w.setframerate(rate)
        w.writeframes(samples.tobytes())


def pulse_env(root, pulse):
    subprocess.run([os.path.join(root, "scripts/pulse-private.sh"), "start", pulse], check=True)
    env = dict(os.environ)
    with open(os.path.join(pulse, "env")) as f:
        for line in f:
            key, value = line.replace("export ", "").strip().split("=", 1)
            env[key] = value
    return env


class Downloads:
    """CLIENTS clients downloading url over and over, until stop() ends them
    at once (a download under way is cut off)."""
    def __init__(self, url):
        self.stopping = threading.Event()
        self.lock = threading.Lock()
        self.running = set()
        self.threads = [threading.Thread(target=self.client, args=(url,)) for _ in range(CLIENTS)]
        for t in self.threads:
            t.start()

    def client(self, url):
        while True:
            with self.lock:
                if self.stopping.is_set():
                    return
                p = subprocess.Popen(["curl", "-s", "-o", "/dev/null", "--limit-rate", "20M", url])
                self.running.add(p)
            p.wait()
            with self.lock:
                self.running.discard(p)

    def stop(self):
        with self.lock:
            self.stopping.set()
            for p in self.running:
                p.kill()
        for t in self.threads:
            t.join()


REFERENCE = ("import zlib\n"
             "data = b''.join(bytes((i * k) & 255 for i in range(4096)) for k in range(1, 257))\n"
             "for level in (1, 6, 9):\n"
             "    zlib.compress(data, level)\n")


def reference_cpu():
    """CPU seconds of a fixed job (compressing 1 MiB three times): the same
    work quiet and loaded, so its ratio is what the machine alone adds."""
    p = subprocess.Popen(["python3", "-c", REFERENCE])
    _, _, usage = os.wait4(p.pid, 0)
    p.returncode = 0
    return usage.ru_utime + usage.ru_stime


def windows(pid, url):
    """(quiet, loaded) seconds of CPU per pair, the threads' totals and the
    fixed job's ratios (run a third into every window). A
    window is WINDOW seconds quiet or loaded, then DRAIN seconds quiet in
    both: work the recorder put off while loaded (its encoder runs behind,
    the sound waits in its buffer) is done and counted in its own window."""
    pairs, totals, reference = [], {"quiet": {}, "loaded": {}}, []
    for _ in range(PAIRS):
        pair = []
        for kind in ("quiet", "loaded"):
            before = thread_ns(pid)
            start = time.monotonic()
            load = Downloads(url) if kind == "loaded" else None
            time.sleep(WINDOW / 3)
            reference.append(reference_cpu())
            time.sleep(max(0.0, start + WINDOW - time.monotonic()))
            if load:
                load.stop()
            time.sleep(DRAIN)
            after = thread_ns(pid)
            ran = {k: after[k] - before.get(k, 0) for k in after}
            for k, v in ran.items():
                totals[kind][k] = totals[kind].get(k, 0) + v
            pair.append(sum(ran.values()) / 1e9)
        pairs.append(tuple(pair))
    return pairs, totals, [b / a for a, b in zip(reference[::2], reference[1::2])]


def run(rows, build, work, serve, hours):
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    pulse = os.path.join(work, "pulse")
    env = pulse_env(root, pulse)
    sound = os.path.join(work, "chords.wav")
    if not os.path.exists(sound):
        chords(sound)
    web, base = serve(hours()[0], "--max-connections", "128")
    folder = os.path.join(work, "recording")
    os.makedirs(folder, exist_ok=True)
    stop_file = os.path.join(folder, "stop")
    playing = threading.Event()

    def play():
        while not playing.is_set():
            subprocess.run(["paplay", sound], env=env)
    player = threading.Thread(target=play)
    player.start()
    load = os.getloadavg()
    try:
        rec = subprocess.Popen([os.path.join(build, "vorta"), "--log", "-b", "128", "-d", "48", "-x", stop_file,
                                "--dir", folder, "--name", "%Y-%m-%d/%H.mp3"], env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        time.sleep(2)
        pairs, totals, reference = windows(rec.pid, f"{base}/files/a/2025-12-08/13.mp3")
        open(stop_file, "w").close()
        err = rec.communicate(timeout=60)[1]
    finally:
        playing.set()
        player.join()
        web.terminate()
        web.wait()
        subprocess.run([os.path.join(root, "scripts/pulse-private.sh"), "stop", pulse])
    ratios = [loaded / quiet for quiet, loaded in pairs]
    quiet, loaded = sum(p[0] for p in pairs), sum(p[1] for p in pairs)
    losses = [line for line in err.splitlines() if "overrun" in line.lower() or "lost" in line.lower()]
    rows.append((f"Recorder CPU, {CLIENTS} downloads / quiet: median of {PAIRS} pairs of {WINDOW:.0f} + {DRAIN:.0f} s windows",
                 f"{statistics.median(ratios):.3f} (pairs {', '.join(f'{r:.2f}' for r in ratios)}; "
                 f"all {loaded:.2f} / {quiet:.2f} s)", "<= 1.05"))
    rows.append(("A fixed job's CPU (zlib, in each window), loaded / quiet: median of the pairs",
                 f"{statistics.median(reference):.3f} (pairs {', '.join(f'{r:.2f}' for r in reference)})", ""))
    rows.append(("Load average (1, 5, 15 min) at the start / at the end",
                 " ".join(f"{x:.1f}" for x in load) + " / " + " ".join(f"{x:.1f}" for x in os.getloadavg()), ""))
    for kind in ("quiet", "loaded"):
        rows.append((f"Recorder threads' CPU, all {kind} windows (ms)",
                     ", ".join(f"{k} {v / 1e6:.0f}" for k, v in sorted(totals[kind].items(), key=lambda x: -x[1])), ""))
    rows.append(("Recorder's losses over the run (its closing line)", "; ".join(losses) or "none", "none"))
