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
  FIGURES=clip bench/web_bench.py BUILD_DIR      # only some: download, clip, year, record
BUILD_DIR holds vorta and src/web/vorta-web (a Release build: bench/run.sh
makes one in build/bench; VORTA_WEB=PATH runs another vorta-web). The
archives are made of silent frames."""
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

from web_bench_record import cpu_seconds

BUILD = os.path.abspath(sys.argv[1])
WORK = sys.argv[2] if len(sys.argv) > 2 else tempfile.mkdtemp(prefix="vorta-web-bench.")
SERVER = os.environ.get("VORTA_WEB", os.path.join(BUILD, "src/web/vorta-web"))
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


def hours():
    archive = os.path.join(WORK, "hours")
    first = write_hour(archive, DAY0 + 13 * 3600, HOUR_FRAMES)
    second = write_hour(archive, DAY0 + 14 * 3600, HOUR_FRAMES)
    return archive, first, second


def download(rows):
    archive, first, _ = hours()
    web, base = serve(archive)
    ng = nginx(archive, 18931)
    time.sleep(0.5)
    name = os.path.relpath(first, archive)
    try:
        for _ in range(2):  # interleaved, the best of each
            w = best_rate(f"{base}/files/a/{name}")
            n = best_rate(f"http://127.0.0.1:18931/{name}")
        rows.append(("Hour file download, vorta-web / nginx", f"{w / n:.2f} ({w / 1e6:.0f} / {n / 1e6:.0f} MB/s)", ">= 0.8"))
    finally:
        web.terminate(), ng.terminate()
        web.wait(), ng.wait()


def cat_rate(files):
    t = time.perf_counter()
    subprocess.run(["cat", *files], stdout=subprocess.DEVNULL, check=True)
    return sum(os.path.getsize(f) for f in files) / (time.perf_counter() - t)


def cat_socket_rate(files):
    """cat writing the files into a loopback connection that curl reads, after
    a bare HTTP header: the least any server can do with the same bytes."""
    size = sum(os.path.getsize(f) for f in files)
    listener = socket.create_server(("127.0.0.1", 0))

    def answer():
        conn, _ = listener.accept()
        conn.recv(65536)
        conn.sendall(f"HTTP/1.1 200 OK\r\nContent-Length: {size}\r\nConnection: close\r\n\r\n".encode())
        subprocess.run(["cat", *files], stdout=conn.fileno(), check=True)
        conn.close()

    server = threading.Thread(target=answer)
    server.start()
    t, b = curl(f"http://127.0.0.1:{listener.getsockname()[1]}/")
    server.join()
    listener.close()
    return b / t


def clip(rows):
    """The last half of one hour file and the first half of the next, as one
    clip, against cat of both whole files, to /dev/null and into a loopback
    connection; and one whole hour file, which goes out by sendfile. Rates
    interleaved, the best of each; vorta-web's CPU time per clip."""
    archive, first, second = hours()
    web, base = serve(archive)
    time.sleep(0.5)
    frm, to = (DAY0 + 13 * 3600 + 1800) * 1000, (DAY0 + 14 * 3600 + 1800) * 1000
    rates = {"clip": [], "cat": [], "cat into a socket": [], "hour file": []}
    try:
        cpu = 0.0
        for _ in range(ROUNDS):
            before = cpu_seconds(web.pid)
            t, b = curl(f"{base}/api/archives/a/clip?from={frm}&to={to}")
            cpu += cpu_seconds(web.pid) - before
            rates["clip"].append(b / t)
            rates["cat"].append(cat_rate([first, second]))
            rates["cat into a socket"].append(cat_socket_rate([first, second]))
            t, b = curl(f"{base}/files/a/{os.path.relpath(first, archive)}")
            rates["hour file"].append(b / t)
        best = {k: max(v) for k, v in rates.items()}
        for other, goal in [("cat", ">= 0.8"), ("cat into a socket", ">= 0.8"), ("hour file", "")]:
            rows.append((f"Clip of an hour across two files / {other}, best of {ROUNDS}",
                         f"{best['clip'] / best[other]:.2f} ({best['clip'] / 1e6:.0f} / {best[other] / 1e6:.0f} MB/s)", goal))
        rows.append(("Medians of the rates (MB/s): " + ", ".join(rates),
                     " / ".join(f"{statistics.median(v) / 1e6:.0f}" for v in rates.values()), ""))
        rows.append(("vorta-web's CPU per clip of 57.6 MB", f"{cpu / ROUNDS * 1000:.0f} ms", ""))
    finally:
        web.terminate()
        web.wait()


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


FIGURES = {"download": download, "clip": clip, "year": year}


def main():
    rows = []
    chosen = os.environ.get("FIGURES", "download,clip,year").split(",")
    for name in chosen:
        if name in FIGURES:
            FIGURES[name](rows)
    if os.environ.get("RECORD") == "1" or "record" in chosen:
        import web_bench_record
        web_bench_record.run(rows, BUILD, WORK, serve, hours)
    print(f"\n1-minute load average at the end: {os.getloadavg()[0]:.1f} on {os.cpu_count()} processors")
    print(f"\n| Figure | Value | Goal |\n| ------ | ----- | ---- |")
    for r in rows:
        print(f"| {r[0]} | {r[1]} | {r[2]} |")


if __name__ == "__main__":
    main()
