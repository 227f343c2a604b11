"""The page in headless chromium: a day of a made archive, playing from a
clock time (the time code heard must be the clock's), across an hour's end,
a clip exported and decoded, the live view and its alarm. Screenshots of the
day view go to the build folder's web-screenshots."""
import base64
import http.client
import json
import os
import subprocess
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

import webtest

SHOTS = os.path.join(webtest.BUILD, "web-screenshots")
# The audio the page's player sends out, as mono 16-bit samples from the
# first that is not silence.
CAPTURE = """
const a = document.getElementById('player'), ctx = new AudioContext();
const tap = ctx.createScriptProcessor(4096, 1, 1);
window.pcm = [];
tap.onaudioprocess = (e) => { if (window.capturing) window.pcm.push(...e.inputBuffer.getChannelData(0)); };
ctx.createMediaElementSource(a).connect(tap);
tap.connect(ctx.destination);
window.heard = () => {
  const from = window.pcm.findIndex((x) => Math.abs(x) > 1e-3);
  const s = Int16Array.from(window.pcm.slice(from < 0 ? 0 : from), (x) => Math.round(x * 32767));
  const bytes = new Uint8Array(s.buffer);
  let text = '';
  for (let i = 0; i < bytes.length; i += 4096) text += String.fromCharCode(...bytes.subarray(i, i + 4096));
  return [ctx.sampleRate, btoa(text)];
};
"""


def code_of(clock_ms):
    return clock_ms / 1000 % 8


def circular(a, b):
    return abs((a - b + 4) % 8 - 4)


class Page(webtest.ServerCase):
    server_args = []

    def prepare(self):
        # 13:59:40 to 14:00:20 with 13:59:50-52 cut out as silence.
        webtest.make_archive(self.archive, cut=(10, 2))
        self.status = os.path.join(self.dir, "status.json")
        self.write_status(-20.0, False)
        self.server_args = ["--status", f"studio={self.status}"]

    def write_status(self, peak, dead):
        doc = {"state": "recording", "file": "2026-12-07/14.mp3", "peak_dbfs": [peak, peak - 3],
               "losses": {"overruns": 0}, "dead_air": {"now": dead, "seconds": 0, "times": 0}}
        with open(self.status + ".new", "w") as f:
            json.dump(doc, f)
        os.replace(self.status + ".new", self.status)

    def setUp(self):
        super().setUp()
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for a in ["--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1280,900",
                  "--autoplay-policy=no-user-gesture-required", "--mute-audio"]:
            options.add_argument(a)
        self.browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        self.addCleanup(self.browser.quit)

    def js(self, script, *args):
        return self.browser.execute_script(script, *args)

    def wait_for(self, script, seconds=20):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            value = self.js(script)
            if value:
                return value
            time.sleep(0.1)
        self.fail(f"never true: {script}")

    def hear(self, start, seconds):
        """Plays from what `start` does, and reads the time code heard."""
        self.js("document.getElementById('player').pause(); window.capturing = false; window.pcm = [];")
        time.sleep(0.3)
        self.js("window.capturing = true;")
        start()
        self.wait_for(f"return window.pcm.filter((x) => Math.abs(x) > 1e-3).length > {seconds} * 44100", 15)
        rate, pcm = self.js("return window.heard();")
        raw = os.path.join(self.dir, "heard.raw")
        with open(raw, "wb") as f:
            f.write(base64.b64decode(pcm))
        return [float(x) for x in subprocess.run([webtest.MAKER, "--read", raw, str(rate)], check=True,
                                                 capture_output=True, text=True).stdout.split()]

    def test_day_player_clip_and_live(self):
        self.browser.get(self.base + "/?day=2026-12-07")
        self.assertEqual(self.wait_for("return document.body.dataset.ready"), "yes")
        os.makedirs(SHOTS, exist_ok=True)
        self.browser.save_screenshot(os.path.join(SHOTS, "day.png"))
        self.assertEqual(self.js("return document.querySelectorAll('#hour-strip .rec').length"), 2)
        self.assertEqual(self.js("return document.querySelectorAll('#hour-strip .cut').length"), 1)
        self.js(CAPTURE)

        # An hour clicked: 14:00:00 heard.
        first, _, lost, _ = self.hear(lambda: self.js("document.querySelector('#hours [data-hour=\"14\"]').click()"), 0.5)
        self.assertLess(circular(first, code_of(webtest.START_MS + 20000)), 0.2)
        # A clock time typed just before the hour's end: heard on into the next file.
        self.js("document.getElementById('play-time').value = '13:59:59.5'")
        first, last, lost, _ = self.hear(lambda: self.js("document.querySelector('#play-at button').click()"), 1.5)
        self.assertLess(circular(first, code_of(webtest.START_MS + 19500)), 0.2)
        self.assertGreater(last - first, 1.2)
        self.assertLess(lost, 0.15)
        self.browser.save_screenshot(os.path.join(SHOTS, "playing.png"))

        # A clip across the hour: one file, named by station and times, that decodes.
        self.js("document.getElementById('clip-from').value = '13:59:55';"
                "document.getElementById('clip-to').value = '14:00:05';"
                "document.querySelector('#export button').click()")
        href = self.wait_for("return document.getElementById('clip-link').getAttribute('href')")
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        c.request("GET", href)
        r = c.getresponse()
        clip = os.path.join(self.dir, "clip.mp3")
        with open(clip, "wb") as f:
            f.write(r.read())
        self.assertEqual(r.getheader("Content-Disposition"), 'attachment; filename="studio-2026-12-07-135955-140005.mp3"')
        first, last, lost, seconds = [float(x) for x in subprocess.run(
            [webtest.MAKER, "--read", clip], check=True, capture_output=True, text=True).stdout.split()]
        self.assertLess(circular(first, code_of(webtest.START_MS + 15000)), 0.2)
        self.assertAlmostEqual(seconds, 10, delta=0.1)
        self.assertLess(lost, 0.15)

        # The live meter follows the recorder; dead air raises the banner.
        width = "return document.querySelector('.recorder .meter div')?.style.width"
        before = self.wait_for(width)
        self.write_status(-6.0, False)
        self.wait_for(width.replace("return ", f"return '{before}' !== "))
        self.assertTrue(self.js("return document.getElementById('alarm').hidden"))
        self.write_status(-70.0, True)
        self.wait_for("return !document.getElementById('alarm').hidden")
        self.assertIn("dead air", self.js("return document.getElementById('alarm').textContent"))


if __name__ == "__main__":
    import unittest
    unittest.main()
