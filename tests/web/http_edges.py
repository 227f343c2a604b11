"""HTTP edges of vorta-web with a plain client: ranges, 416, HEAD, conditional
requests, a growing file, and paths that lead outside the archive."""
import base64
import http.client
import json
import os
import socket
import struct
import subprocess
import time
import unittest

import webtest

FILE = "/files/studio/2026-12-07/13.mp3"


class HttpEdges(webtest.ServerCase):
    def prepare(self):
        webtest.make_archive(self.archive)
        self.path = os.path.join(self.archive, "2026-12-07/13.mp3")
        with open(self.path, "rb") as f:
            self.bytes = f.read()
        # Outside the archive, and links into it that lead there.
        self.secret = os.path.join(self.dir, "secret.mp3")
        with open(self.secret, "wb") as f:
            f.write(b"secret" * 100)
        os.makedirs(os.path.join(self.dir, "outside"))
        os.link(self.secret, os.path.join(self.dir, "outside/00.mp3"))
        os.symlink(self.secret, os.path.join(self.archive, "2026-12-07/15.mp3"))
        os.symlink(os.path.join(self.dir, "outside"), os.path.join(self.archive, "2026-12-08"))
        day_ago2 = os.stat(self.secret).st_mtime - 2 * 86400
        os.utime(self.secret, (day_ago2, os.stat(self.secret).st_mtime))

    def get(self, path, method="GET", **headers):
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        c.putrequest(method, path, skip_accept_encoding=True)
        for k, v in headers.items():
            c.putheader(k.replace("_", "-"), v)
        c.endheaders()
        r = c.getresponse()
        body = r.read()
        c.close()
        return r, body

    def test_ranges_and_conditions(self):
        size = len(self.bytes)
        whole, _ = self.get(FILE)
        tag, modified = whole.getheader("ETag"), whole.getheader("Last-Modified")
        cases = [  # headers, status, body, Content-Range
            ({}, 200, self.bytes, None),
            ({"Range": "bytes=10-19"}, 206, self.bytes[10:20], f"bytes 10-19/{size}"),
            ({"Range": "bytes=100-"}, 206, self.bytes[100:], f"bytes 100-{size - 1}/{size}"),
            ({"Range": "bytes=-5"}, 206, self.bytes[-5:], f"bytes {size - 5}-{size - 1}/{size}"),
            ({"Range": f"bytes={size - 1}-{size + 50}"}, 206, self.bytes[-1:], f"bytes {size - 1}-{size - 1}/{size}"),
            ({"Range": f"bytes={size}-"}, 416, b"", f"bytes */{size}"),
            ({"Range": "bytes=-0"}, 416, b"", f"bytes */{size}"),
            ({"Range": "bytes=5-2"}, 200, self.bytes, None),
            ({"Range": "bytes=0-1,4-5"}, 200, self.bytes, None),
            ({"Range": "lines=1-2"}, 200, self.bytes, None),
            ({"If-None-Match": tag}, 304, b"", None),
            ({"If-None-Match": '"other", ' + tag}, 304, b"", None),
            ({"If-None-Match": '"other"'}, 200, self.bytes, None),
            ({"If-Modified-Since": modified}, 304, b"", None),
            ({"If-Modified-Since": "Sun, 06 Nov 1994 08:49:37 GMT"}, 200, self.bytes, None),
            ({"Range": "bytes=0-3", "If-Range": tag}, 206, self.bytes[:4], f"bytes 0-3/{size}"),
            ({"Range": "bytes=0-3", "If-Range": '"old"'}, 200, self.bytes, None),
        ]
        for headers, status, body, content_range in cases:
            with self.subTest(headers=headers):
                r, got = self.get(FILE, **headers)
                self.assertEqual((r.status, r.getheader("Content-Range")), (status, content_range))
                self.assertEqual(got, body)
        r, got = self.get(FILE, "HEAD", Range="bytes=0-9")
        self.assertEqual((r.status, r.getheader("Content-Length"), got), (206, "10", b""))
        r, got = self.get(FILE, "HEAD")
        self.assertEqual((r.status, r.getheader("Content-Length"), got), (200, str(size), b""))

    def test_chains_of_files(self):
        """A day's stream and a clip are the files' own bytes, joined at the hour."""
        with open(os.path.join(self.archive, "2026-12-07/14.mp3"), "rb") as f:
            day = self.bytes + f.read()
        r, clip = self.get("/api/archives/studio/clip?from=1796651990000&to=1796652010000")
        at, cut = day.find(clip), len(self.bytes)
        self.assertTrue(clip.startswith(b"\xff\xfb") and 0 < at < cut < at + len(clip), (at, len(clip), cut))
        self.assertEqual(r.getheader("Content-Disposition"), 'attachment; filename="studio-2026-12-07-135950-140010.mp3"')
        day_later = "/api/archives/studio/clip?from=1796651990000&to=%d"  # a clip spans at most a day
        stream = "/api/archives/studio/stream/2026-12-07.mp3"
        cases = [  # path, method, headers, status, body, Content-Length
            (stream, "GET", {}, 200, day, len(day)),
            (stream, "GET", {"Range": f"bytes={cut - 2}-{cut + 1}"}, 206, day[cut - 2:cut + 2], 4),
            (stream, "GET", {"Range": f"bytes={cut}-"}, 206, day[cut:], len(day) - cut),
            (stream, "GET", {"Range": "bytes=-3"}, 206, day[-3:], 3),
            (stream, "GET", {"Range": f"bytes={len(day)}-"}, 416, b"", None),
            (stream, "HEAD", {}, 200, b"", len(day)),
            (stream, "HEAD", {"Range": f"bytes={cut - 1}-{cut}"}, 206, b"", 2),
            ("/api/archives/studio/clip?from=1796651990000&to=1796652010000", "GET", {"Range": "bytes=1-"}, 206,
             clip[1:], len(clip) - 1),
            (day_later % 1796738390000, "GET", {}, 200, day[at:], len(day) - at),
            (day_later % 1796738390001, "GET", {}, 400,
             b"to= wants milliseconds since the epoch, after from=, at most a day later.\n", None),
        ]
        for path, method, headers, status, body, length in cases:
            with self.subTest(path=path, method=method, headers=headers):
                r, got = self.get(path, method, **headers)
                self.assertEqual((r.status, got), (status, body))
                if length is not None:
                    self.assertEqual(r.getheader("Content-Length"), str(length))

    def test_a_growing_file(self):
        r, _ = self.get(FILE)
        with open(self.path, "ab") as f:
            f.write(b"\xff" * 1000)
        grown = self.bytes + b"\xff" * 1000
        r2, got = self.get(FILE, Range=f"bytes={len(self.bytes)}-", If_Range=r.getheader("ETag"))
        self.assertEqual((r2.status, got), (200, grown))  # changed since: all of it
        r3, got = self.get(FILE, Range=f"bytes={len(self.bytes)}-")
        self.assertEqual((r3.status, got), (206, b"\xff" * 1000))
        self.assertNotEqual(r.getheader("ETag"), r3.getheader("ETag"))

    def test_nothing_outside_is_served_or_read(self):
        atime = os.stat(self.secret).st_atime
        for path in ["/files/studio/../secret.mp3", "/files/studio/%2e%2e/secret.mp3",
                     "/files/studio/2026-12-07/..%2f..%2fsecret.mp3", "/files/studio/2026-12-07/15.mp3",
                     "/files/studio/2026-12-08/00.mp3", "/files/studio//etc/passwd", "/files/studio/%2fetc/passwd",
                     "/files/studio/2026-12-07/13.mp3.times", "/files/studio/2026-12-07/13.mp3/",
                     "/files/studio/2026-12-07/./13.mp3", "/files/nobody/2026-12-07/13.mp3",
                     "/page/../../../etc/passwd", "/api/archives/studio/stream/../../secret.mp3"]:
            with self.subTest(path=path):
                r, body = self.get(path)
                self.assertEqual(r.status, 404)
                self.assertNotIn(b"secret", body)
        r, _ = self.get(FILE, "POST")
        self.assertEqual(r.status, 405)
        self.assertEqual(os.stat(self.secret).st_atime, atime)  # never opened for reading


class Users(webtest.ServerCase):
    def prepare(self):
        webtest.make_archive(self.archive, seconds=1)
        hashed = subprocess.run([webtest.SERVER, "--hash-password"], input="right horse\n", check=True,
                                capture_output=True, text=True).stdout.strip()
        self.assertTrue(hashed.startswith("$"), hashed)
        with open(os.path.join(self.dir, "users"), "w") as f:
            f.write(f"# who may listen\nalice:{hashed}\n")
        self.server_args = ["--users", os.path.join(self.dir, "users")]

    def test_only_a_user_with_the_password_gets_in(self):
        for credentials, status in [(None, 401), ("alice:wrong", 401), ("bob:right horse", 401),
                                    ("alice:", 401), ("alice:right horse", 200), ("alice:right horse", 200),
                                    ("alice:wrong", 401)]:
            with self.subTest(credentials=credentials):
                c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
                auth = {"Authorization": "Basic " + base64.b64encode(credentials.encode()).decode()} if credentials else {}
                c.request("GET", "/api/archives", headers=auth)
                r = c.getresponse()
                self.assertEqual((r.status, b"studio" in r.read()), (status, status == 200))
                if status == 401:
                    self.assertEqual(r.getheader("WWW-Authenticate"), 'Basic realm="vorta", charset="UTF-8"')


class Live(webtest.ServerCase):
    """The live view's alarms, each from a recorder's status file as found."""
    rows = [  # status file (None: none), seconds since it was replaced, alarms
        ({"state": "recording"}, 0, []),
        ({"state": "recording"}, 8, []),
        ({"state": "recording"}, 60, ["stopped"]),  # a recorder that stopped replacing it
        ({"state": "ended", "exit_code": 0}, 0, ["stopped"]),
        ({"state": "recording", "dead_air": {"now": True}}, 0, ["dead-air"]),
        ({"state": "recording", "last_error": {"kind": "input-lost"}}, 0, ["input-lost"]),
        ("{not json", 0, ["stopped"]),
        (None, 0, ["stopped"]),
    ]

    def prepare(self):
        webtest.make_archive(self.archive, seconds=1)
        for i, (doc, age, _) in enumerate(self.rows):
            path = os.path.join(self.dir, f"s{i}.json")
            if doc is not None:
                with open(path, "w") as f:
                    f.write(doc if isinstance(doc, str) else json.dumps(doc))
                os.utime(path, (os.stat(path).st_atime - age,) * 2)
            self.server_args += ["--archive", f"r{i}={self.archive}", "--status", f"r{i}={path}"]

    def test_alarms(self):
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        c.connect()
        sock = c.sock
        c.request("GET", "/api/live")
        r = c.getresponse()
        line = r.fp.readline()
        while not line.startswith(b"data: "):
            line = r.fp.readline()
        got = {a["name"]: a["alarms"] for a in json.loads(line[6:])["archives"]}
        self.assertEqual([got[f"r{i}"] for i in range(len(self.rows))], [alarms for _, _, alarms in self.rows])
        # The viewer leaves with a reset; the next change has nowhere to go,
        # which is no news for the server's own output (see tearDown).
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        r.close()
        sock.close()
        with open(os.path.join(self.dir, "s0.json"), "w") as f:
            json.dump({"state": "recording", "dead_air": {"now": True}}, f)
        time.sleep(1.5)


class ConfigDir(webtest.ServerCase):
    """The archives of the recording services' configuration files."""
    tz = "CET-2"  # two hours east of UTC, no summer time
    stderr = ("vorta-web: DIR/conf/plain.conf: the recording makes no hourly files (-split1, -split3 or --name); "
              "left out\nvorta-web: DIR/conf/weekly.conf: weekday names (-split2) cannot be read back; use --name; "
              "left out\n")
    def prepare(self):
        webtest.make_archive(self.archive, seconds=1)
        hour = os.path.join(self.archive, "2026-12-07")
        os.utime(os.path.join(hour, "13.mp3"), ns=(webtest.START_MS * 10**6,) * 2)
        conf = os.path.join(self.dir, "conf")
        os.mkdir(conf)
        for name, options in [("weekly", "-b 128 -split2"), ("night", '-split1 --dir /srv/night --status=/run/n.json'),
                              ("desk", f"--dir={self.archive} --name %F/%H.mp3"), ("plain", "-b 64 rec"),
                              ("daily", f"--dir {hour} --name %H.mp3")]:
            with open(os.path.join(conf, name + ".conf"), "w") as f:
                f.write(f'# a recording\nVORTA_OPTIONS="{options}"\n')
        self.server_args = ["--config-dir", conf]

    def test_archives_from_the_files(self):
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        c.request("GET", "/api/archives")
        got = [(a["name"], a["pattern"]) for a in json.loads(c.getresponse().read())["archives"]]
        self.assertEqual(got, [("studio", "%Y-%m-%d/%H.mp3"), ("daily", "%H.mp3"), ("desk", "%F/%H.mp3"),
                               ("night", "%H.mp3")])
        for path, status in [("/files/desk/2026-12-07/13.mp3", 200), ("/files/daily/13.mp3", 200)]:
            c.request("GET", path)
            self.assertEqual(c.getresponse().read()[:2], b"\xff\xfb")
        # A daily cycle's 13.mp3 was written on the 7th: no later day of the month has it yet.
        c.request("GET", "/api/archives/studio/day/2026-12-07")
        self.assertEqual(json.loads(c.getresponse().read())["utcOffsetMinutes"], 120)
        c.request("GET", "/api/archives/daily/month/2026-12")
        self.assertEqual(json.loads(c.getresponse().read())["days"], [f"2026-12-{d:02d}" for d in range(1, 8)])


class CommandLine(unittest.TestCase):
    def test_refusals(self):
        for args, message in [
            (["--archive", "a=/tmp", "--listen", "0.0.0.0"], "listening on 0.0.0.0 needs --users FILE (only 127.0.0.1 and ::1 go without)"),
            (["--archive", "a=/tmp", "--listen", "::"], "listening on :: needs --users FILE (only 127.0.0.1 and ::1 go without)"),
            (["--archive", "a b=/tmp"], "archive name 'a b': letters, digits, '.', '_' and '-' only"),
            (["--archive", "a=/tmp:/abs/%H.mp3"], "archive a: '/abs/%H.mp3' is not a name pattern"),
            (["--archive", "a=/tmp:%H/../%M.mp3"], "archive a: '%H/../%M.mp3' is not a name pattern"),
            (["--archive", "a=/tmp", "--archive", "a=/var"], "two archives named a"),
            (["--archive", "a=/tmp", "--status", "b=/run/s.json"], "--status names no archive: b"),
            (["--archive", "a=/tmp", "--port", "65536"], "bad --port 65536"),
            (["--archive", "a=/tmp", "--users", "/nonexistent"], "/nonexistent: cannot be read"),
            ([], "no archive: give --archive NAME=FOLDER:PATTERN, --config FILE or --config-dir DIR"),
            (["--bogus"], "unknown option --bogus"),
        ]:
            with self.subTest(args=args):
                r = subprocess.run([webtest.SERVER] + args, capture_output=True, text=True, timeout=10)
                self.assertEqual((r.returncode, r.stdout, r.stderr.splitlines()[0]), (2, "", "vorta-web: " + message))


if __name__ == "__main__":
    unittest.main()
