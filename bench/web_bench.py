#!/usr/bin/env python3
"""vorta-web's figures (printed, never asserted):
  - download of an hour file (57.6 MB, 128 kbit/s) over loopback, vorta-web
    against nginx serving the same file (goal: ratio >= 0.8)
  - a clip of one hour across two hour files against cat of those bytes
  - start-up and the day view over a year of hourly files with time maps
    (goals: start < 1 s, day view < 100 ms)
  - with RECORD=1: a recording from the private sound server, quiet and
    while 50 clients download hour files: overruns and the recorder's CPU

  bench/web_bench.py BUILD_DIR [WORK_DIR]
BUILD_DIR holds vorta and src/web/vorta-web (a Release build: bench/run.sh
makes one in build/bench). The archives are made of silent frames."""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

BUILD = os.path.abspath(sys.argv[1])
WORK = sys.argv[2] if len(sys.argv) > 2 else tempfile.mkdtemp(prefix="vorta-web-bench.")
SERVER = os.path.join(BUILD, "src/web/vorta-web")
# MPEG-1 Layer III, 128 kbit/s, 48 kHz, joint stereo: 384 bytes, 24 ms, silent.
FRAME = bytes([0xFF, 0xFB, 0x94, 0x44]) + bytes(380)
HOUR_FRAMES = 150000
DAY0 = 1765152000  # 2025-12-08 00:00 UTC
ROUNDS = int(os.environ.get("ROUNDS", "5"))


def write_hour(folder, start, frames, levels=True):
    t = time.gmtime(start)
    day = os.path.join(folder, time.strftime("%Y-%m-%d", t))
    os.makedirs(day, exist_ok=True)
    path = os.path.join(day, time.strftime("%H.mp3", t))
    with open(path, "wb") as f:
        f.write(FRAME * frames)
    lines = ["vorta-times 1 rate=48000 channels=2 frame-samples=1152 kbps=128", f"S {start * 1000} 0 0 start"]
    if levels:
        lines += [f"L {start * 1000 + k * 10000} {k * 10000 // 24} {k * 10000 // 24 * 384} -23.0 -6.0 -6.1"
                  for k in range(1, 361)]
    with open(path + ".times", "w") as f:
        f.write("\n".join(lines) + "\n")
    return path


def serve(archive, *extra):
    p = subprocess.Popen([SERVER, "--port", "0", "--archive", f"a={archive}:%Y-%m-%d/%H.mp3", *extra],
                         stdout=subprocess.PIPE, text=True, env=dict(os.environ, TZ="UTC"))
    return p, p.stdout.readline().split()[-1].rstrip("/")


def curl(url):
    """Seconds and bytes of one download."""
    out = subprocess.run(["curl", "-s", "-o", "/dev/null", "-w", "%{time_total} %{size_download}", url],
                         check=True, capture_output=True, text=True).stdout.split()
    return float(out[0]), int(out[1])


def best_rate(url):
    return max(b / t for t, b in (curl(url) for _ in range(ROUNDS)))


def nginx(root, port):
    conf = os.path.join(WORK, "nginx.conf")
    with open(conf, "w") as f:
        f.write(f"""daemon off; worker_processes 1; pid {WORK}/nginx.pid; error_log stderr;
events {{}}
http {{ access_log off; sendfile on; tcp_nopush on; types {{ audio/mpeg mp3; }}
  server {{ listen 127.0.0.1:{port}; root {root}; }} }}
""")
    return subprocess.Popen(["nginx", "-c", conf, "-p", WORK], stderr=subprocess.DEVNULL)


def throughput_and_clip(rows):
    archive = os.path.join(WORK, "hours")
    first = write_hour(archive, DAY0 + 13 * 3600, HOUR_FRAMES)
    second = write_hour(archive, DAY0 + 14 * 3600, HOUR_FRAMES)
    web, base = serve(archive)
    ng = nginx(archive, 18931)
    time.sleep(0.5)
    name = os.path.relpath(first, archive)
    try:
        for _ in range(2):  # interleaved, the best of each
            w = best_rate(f"{base}/files/a/{name}")
            n = best_rate(f"http://127.0.0.1:18931/{name}")
        rows.append(("Hour file download, vorta-web / nginx", f"{w / n:.2f} ({w / 1e6:.0f} / {n / 1e6:.0f} MB/s)", ">= 0.8"))
        frm, to = (DAY0 + 13 * 3600 + 1800) * 1000, (DAY0 + 14 * 3600 + 1800) * 1000
        clip = best_rate(f"{base}/api/archives/a/clip?from={frm}&to={to}")
        cat = []
        for _ in range(ROUNDS):
            t = time.perf_counter()
            subprocess.run(f"cat '{first}' '{second}' > /dev/null", shell=True, check=True)
            cat.append(2 * len(FRAME) * HOUR_FRAMES / (time.perf_counter() - t))
        rows.append(("Clip of an hour across two files / cat", f"{clip / max(cat):.2f} ({clip / 1e6:.0f} / {max(cat) / 1e6:.0f} MB/s)", ">= 0.8"))
    finally:
        web.terminate(), ng.terminate()
        web.wait(), ng.wait()


def year(rows):
    archive = os.path.join(WORK, "year")
    if not os.path.isdir(archive):
        for h in range(365 * 24):
            write_hour(archive, DAY0 + h * 3600, 10)
    t = time.perf_counter()
    web, base = serve(archive)
    curl(f"{base}/api/archives")
    rows.append(("Start-up to the first answer, a year of hourly files", f"{(time.perf_counter() - t) * 1000:.0f} ms", "< 1 s"))
    try:
        days = [time.strftime("%Y-%m-%d", time.gmtime(DAY0 + d * 86400)) for d in range(0, 365, 36)]
        day = [curl(f"{base}/api/archives/a/day/{d}")[0] for d in days]
        rows.append(("Day view (24 files, 360 levels each), median of 11", f"{statistics.median(day) * 1000:.0f} ms", "< 100 ms"))
        month = [curl(f"{base}/api/archives/a/month/{d[:7]}")[0] for d in days]
        rows.append(("Month view (which days have files), median of 11", f"{statistics.median(month) * 1000:.0f} ms", ""))
    finally:
        web.terminate()
        web.wait()


def main():
    rows = []
    throughput_and_clip(rows)
    year(rows)
    if os.environ.get("RECORD") == "1":
        import web_bench_record
        web_bench_record.run(rows, BUILD, WORK, serve, write_hour, HOUR_FRAMES)
    print(f"\n| Figure | Value | Goal |\n| ------ | ----- | ---- |")
    for r in rows:
        print(f"| {r[0]} | {r[1]} | {r[2]} |")


if __name__ == "__main__":
    main()
