#!/usr/bin/env python3
"""Runs the real program headless with its web server: started at start-up when the
configuration enables it, the frame's answers over HTTP, the log lines on standard output, the
stop at close and a start failure on a port in use.

Usage: web_test.py <path to velloran>
Every wait is on the program's own output or exit, with a time-out; there are no fixed sleeps.
"""
import base64
import hashlib
import http.client
import json
import os
import queue
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

VELLORAN = None
TIMEOUT = 30.0


def web_hash(password):
    return hashlib.md5(b"QuorvexTamblinPrade" + password.encode()).hexdigest().upper()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Service:
    def __init__(self, root):
        self.lines = []
        self._queue = queue.Queue()
        self.proc = subprocess.Popen([VELLORAN, "-headless", "-rootfolder", root],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self._queue.put(line.rstrip("\n"))
        self._queue.put(None)

    def wait_for(self, text):
        for line in self.lines:
            if text in line:
                return line
        deadline = time.monotonic() + TIMEOUT
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise AssertionError(f"no line with {text!r}: {self.lines}")
            try:
                line = self._queue.get(timeout=remaining)
            except queue.Empty:
                continue
            if line is None:
                raise AssertionError(f"program ended before {text!r}: {self.lines}")
            self.lines.append(line)
            if text in line:
                return line

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(timeout=TIMEOUT)
        while True:
            try:
                line = self._queue.get(timeout=TIMEOUT)
            except queue.Empty:
                break
            if line is None:
                break
            self.lines.append(line)
        self.proc.stderr.close()
        self.proc.stdout.close()


def request(port, method, path, user=None):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=TIMEOUT)
    headers = {}
    if user:
        headers["Authorization"] = "Basic " + base64.b64encode(user.encode()).decode()
    conn.request(method, path, headers=headers)
    reply = conn.getresponse()
    body = reply.read()
    result = (reply.status, dict((k.lower(), v) for k, v in reply.getheaders()), body)
    conn.close()
    return result


class WebServerTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="velloran-web-")
        self.port = free_port()

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def write_ini(self, port_text):
        with open(os.path.join(self.root, "Velloran.ini"), "w") as f:
            f.write("[General]\nSlotCount=0\n[Webserver]\nEnabled=on\n"
                    f"Port={port_text}\nAdminUser=admin\nAdminPassword={web_hash('pw')}\n"
                    "AnonymousAccess=none\n")

    def read_ini(self):
        with open(os.path.join(self.root, "Velloran.ini")) as f:
            return f.read()

    def test_started_at_start_up_answers_and_stops_at_close(self):
        self.write_ini(f"127.0.0.1:{self.port}")
        service = Service(self.root)
        try:
            service.wait_for(": Web server started")
            status, headers, _ = request(self.port, "GET", "/", "admin:pw")
            self.assertEqual((status, headers.get("location")), (302, "/index.html"))
            status, headers, _ = request(self.port, "GET", "/ws/slots")
            self.assertEqual(status, 401)
            self.assertEqual(headers["www-authenticate"], 'Basic realm="Sondrel Velloran"')
            status, headers, body = request(self.port, "GET", "/ws/slots", "admin:pw")
            self.assertEqual((status, headers["content-type"], body),
                             (200, "application/json", b"[]"))
            status, _, body = request(self.port, "GET", "/nothing", "admin:pw")
            self.assertEqual((status, body), (404, b"not found"))
            self.assertEqual(request(self.port, "GET", "/nothing", "admin:no")[0], 401)
            status, _, body = request(self.port, "DELETE", "/x")
            self.assertEqual((status, body), (200, b""))
            service.wait_for(": DELETE")
        finally:
            service.stop()
        self.assertTrue(any(": Web server stopped" in line for line in service.lines),
                        service.lines)
        self.assertIn("Enabled=on", self.read_ini())  # starts again at the next start
        with self.assertRaises(OSError):
            request(self.port, "GET", "/")

    def test_remote_commands_and_recordings_of_a_generator_slot(self):
        rec = os.path.join(self.root, "rec")
        with open(os.path.join(self.root, "Velloran.ini"), "w") as f:
            f.write("[General]\nSlotCount=1\n[Webserver]\nEnabled=on\n"
                    f"Port=127.0.0.1:{self.port}\nAdminUser=admin\n"
                    f"AdminPassword={web_hash('pw')}\nAnonymousAccess=ReadOnly\n"
                    "[Slot0]\nName=Tone\nSource=Soundcard\nDevice=GEN:tone\nFormat=wav16\n"
                    f"Folder={rec}\n")
        service = Service(self.root)

        def text(path):
            status, _, body = request(self.port, "GET", path)
            self.assertEqual(status, 200, path)
            return body.decode()

        def wait_recording(value):
            deadline = time.monotonic() + TIMEOUT
            while text("/ws/slot/0/recording") != value:
                self.assertLess(time.monotonic(), deadline, f"recording never became {value}")
                time.sleep(0.05)

        try:
            service.wait_for(": Web server started")
            service.wait_for("Encoding to file")
            wait_recording("1")
            self.assertEqual(text("/ws/slots/0/name"), "Tone")
            # Anonymous read-only: "/ws/execute" runs the command, "/execute" does not.
            self.assertEqual(request(self.port, "GET", "/execute?command=SLOT%201%20STOP")[0], 404)
            status, _, body = request(self.port, "GET", "/ws/execute?command=SLOT%201%20STOP")
            self.assertEqual((status, body), (200, b""))
            wait_recording("0")
            conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=TIMEOUT)
            conn.request("POST", "/execute", body="command=SLOT+01+START", headers={
                "Content-Type": "application/x-www-form-urlencoded",
                "Authorization": "Basic " + base64.b64encode(b"admin:pw").decode()})
            reply = conn.getresponse()
            self.assertEqual((reply.status, reply.read()), (200, b""))
            conn.close()
            wait_recording("1")

            # The first file, finished by the stop, from the calendar to the download.
            # The rows are written by the slot's database worker, a moment after the file starts.
            deadline = time.monotonic() + TIMEOUT
            while True:
                events = json.loads(text("/ws/slots/0/calendarevents"
                                         "?start=2000-01-01T00:00:00Z&end=2100-01-01T00:00:00Z"))
                if len(events) >= 2 or time.monotonic() > deadline:
                    break
                time.sleep(0.05)
            self.assertEqual(len(events), 2)  # the finished file and the current one
            first_id = min(event["id"] for event in events)
            status, headers, body = request(self.port, "GET",
                                            f"/ws/slots/0/getfile/{first_id}/tone.wav")
            self.assertEqual(status, 200)
            self.assertTrue(headers["content-disposition"].startswith("attachment;"))
            self.assertEqual(body[:4], b"RIFF")
        finally:
            service.stop()

    def test_port_in_use_is_a_logged_start_failure(self):
        blocker = socket.socket()
        blocker.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        blocker.bind(("127.0.0.1", self.port))
        blocker.listen(1)
        try:
            self.write_ini(f"127.0.0.1:{self.port}")
            service = Service(self.root)
            try:
                line = service.wait_for(": Error starting web server: ")
                self.assertIn(str(self.port), line)
                service.wait_for("started (headless)")
            finally:
                service.stop()
        finally:
            blocker.close()
        self.assertIn("Enabled=off", self.read_ini())


if __name__ == "__main__":
    VELLORAN = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
