"""Shared by the vorta-web tests: a made archive and the server on a free port."""
import os
import subprocess
import tempfile
import unittest

BUILD = os.environ["VORTA_BUILD_DIR"]
SERVER = os.path.join(BUILD, "src/web/vorta-web")
MAKER = os.path.join(BUILD, "tests/web/vorta_web_archive")
# 2026-12-07 13:59:40 UTC: twenty seconds before an hour's end.
START_MS = 1796651980000


def make_archive(folder, seconds=40):
    subprocess.run([MAKER, folder, str(START_MS), str(seconds)], check=True)


class ServerCase(unittest.TestCase):
    """A folder of its own and vorta-web serving the archive "studio" in it."""
    server_args = []
    tz = "UTC"
    stderr = ""  # all it says; clients that leave are no news

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="vorta-web.")
        self.dir = self.tmp.name
        self.archive = os.path.join(self.dir, "studio")
        os.mkdir(self.archive)
        self.prepare()
        self.server = subprocess.Popen(
            [SERVER, "--port", "0", "--archive", f"studio={self.archive}:%Y-%m-%d/%H.mp3"] + self.server_args,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=dict(os.environ, TZ=self.tz))
        line = self.server.stdout.readline()
        self.assertIn("http://127.0.0.1:", line)
        self.base = line.split()[-1].rstrip("/")
        self.port = int(self.base.rsplit(":", 1)[1])

    def prepare(self):
        make_archive(self.archive)

    def tearDown(self):
        self.server.terminate()
        self.assertEqual(self.server.wait(10), 0)
        self.assertEqual(self.server.stderr.read().replace(self.dir, "DIR"), self.stderr)
        self.server.stdout.close()
        self.server.stderr.close()
        self.tmp.cleanup()
