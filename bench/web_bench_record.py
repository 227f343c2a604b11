"""The recorder's cost while vorta-web serves 50 downloads at once: vorta
records 20 s from the private sound server, once quiet and once while 50
clients download hour files from vorta-web over and over; its CPU time and
its closing line (losses) are compared. Used by web_bench.py (RECORD=1)."""
import os
import subprocess
import threading
import time

SECONDS = 20
CLIENTS = 50


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def record(build, work, env, load=None):
    folder = os.path.join(work, "recording")
    os.makedirs(folder, exist_ok=True)
    stop = os.path.join(folder, "stop")
    p = subprocess.Popen([os.path.join(build, "vorta"), "--log", "-b", "128", "-d", "48", "-x", stop, "--dir", folder,
                          "--name", "%Y-%m-%d/%H.mp3"], env=env, stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    time.sleep(2)
    start = cpu_seconds(p.pid)
    done = threading.Event()
    threads = [threading.Thread(target=load, args=(done,)) for _ in range(CLIENTS if load else 0)]
    for t in threads:
        t.start()
    time.sleep(SECONDS)
    used = cpu_seconds(p.pid) - start
    done.set()
    for t in threads:
        t.join()
    open(stop, "w").close()
    err = p.communicate(timeout=60)[1]
    losses = [line for line in err.splitlines() if "overrun" in line.lower() or "lost" in line.lower()]
    return used, losses


def run(rows, build, work, serve, hours):
    pulse = os.path.join(work, "pulse")
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    subprocess.run([os.path.join(root, "scripts/pulse-private.sh"), "start", pulse], check=True)
    env = dict(os.environ)
    with open(os.path.join(pulse, "env")) as f:
        for line in f:
            key, value = line.replace("export ", "").strip().split("=", 1)
            env[key] = value
    hours = hours()[0]
    web, base = serve(hours, "--max-connections", "128")
    url = f"{base}/files/a/2025-12-08/13.mp3"
    deadline = time.monotonic() + SECONDS + 30

    def download(done):
        while not done.is_set() and time.monotonic() < deadline:
            subprocess.run(["curl", "-s", "-o", "/dev/null", "--limit-rate", "20M", url])

    try:
        quiet, quiet_losses = record(build, work, env)
        busy, busy_losses = record(build, work, env, download)
    finally:
        web.terminate()
        web.wait()
        subprocess.run([os.path.join(root, "scripts/pulse-private.sh"), "stop", pulse])
    rows.append((f"Recorder CPU over {SECONDS} s, 50 downloads / quiet", f"{busy / quiet:.2f} ({busy:.2f} / {quiet:.2f} s)", "<= 1.05"))
    rows.append(("Recorder's losses, 50 downloads / quiet", f"{busy_losses or 'none'} / {quiet_losses or 'none'}", "none"))
