#!/usr/bin/env python3
"""Silence alarms of the real program: a slot on the generator's silence raises its alarm,
which is logged, calls its URL on a real HTTP server and sends its e-mail to a real SMTP server
(both on loopback); a slot on the tone raises nothing.

Usage: alarms_test.py <path to velloran> <folder of the alarm test servers>
Every wait is on output or files with a time-out; there are no fixed sleeps.
"""
import glob
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import headless_test  # noqa: E402  (the Service helper)

SERVERS = None
TIMEOUT = 30.0
PYTHON = "/usr/bin/python3"  # Debian's, with aiosmtpd

CONFIG = """[General]
SlotCount=2
AlarmSlotCount=0
CloseConfirmation=off
[Webserver]
Enabled=off
[EMail]
SMTPServer=127.0.0.1
SMTPPort={smtp}
Encryption=none
FromAddress=recorder@station.example
Receipients=engineer@station.example
[Slot0]
Name=Studio A
Source=Soundcard
Device=GEN:silence
Format=none
SilenceDetection=2
HTTPAlarmSilenceDetected=http://127.0.0.1:{http}/ok?slot=studio-a
SendEmailSilenceDetected=on
[Slot1]
Name=Tone
Source=Soundcard
Device=GEN:tone
Format=none
SilenceDetection=2
HTTPAlarmSilenceDetected=http://127.0.0.1:{http}/ok?slot=tone
"""


def start_server(args):
    """Starts a test server that prints "PORT <n>" first; returns (process, port)."""
    proc = subprocess.Popen([PYTHON, *args], stdout=subprocess.PIPE, text=True)
    first = proc.stdout.readline().split()
    if len(first) != 2 or first[0] != "PORT":
        proc.kill()
        raise AssertionError(f"server {args} did not start: {first}")
    return proc, int(first[1])


class AlarmsTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.mail = os.path.join(self.tmp.name, "mail")
        os.makedirs(self.mail)
        self.http, http_port = start_server([os.path.join(SERVERS, "http_alarm_server.py")])
        self.smtp, smtp_port = start_server(
            [os.path.join(SERVERS, "smtp_server.py"), "--out", self.mail])
        self.root = os.path.join(self.tmp.name, "root")
        os.makedirs(self.root)
        with open(os.path.join(self.root, "Velloran.ini"), "w", encoding="utf-8") as f:
            f.write(CONFIG.format(http=http_port, smtp=smtp_port))

    def tearDown(self):
        for proc in (self.http, self.smtp):
            proc.kill()
            proc.wait()
            proc.stdout.close()
        self.tmp.cleanup()

    def test_silence_alarm_is_logged_called_and_mailed(self):
        service = headless_test.Service(self.root)
        try:
            service.wait_for('Slot "Studio A" SILENCE DETECTED (2 seconds)')
            service.wait_for("Making alarm call to http://127.0.0.1:")
            request = self.http.stdout.readline()
            self.assertIn("REQUEST /ok?slot=studio-a", request)
            self.assertIn("UA=Mozilla/5.0 (compatible; Velloran/", request)
            deadline = time.monotonic() + TIMEOUT
            while not glob.glob(os.path.join(self.mail, "*.eml")):
                self.assertLess(time.monotonic(), deadline, "no e-mail arrived")
                time.sleep(0.1)
            service.proc.send_signal(signal.SIGTERM)
            self.assertEqual(service.finish(), 0)
        finally:
            service.kill()
        with open(glob.glob(os.path.join(self.mail, "*.eml"))[0], encoding="utf-8") as f:
            mail = f.read()
        self.assertIn("rcpt_to: engineer@station.example", mail)
        self.assertIn('Subject: Slot "Studio A" SILENCE DETECTED (2 seconds)', mail)
        self.assertIn("Date/Time: ", mail)
        log = "\n".join(service.lines)
        self.assertNotIn('"Tone"', log)  # the tone is loud: no alarm
        self.assertNotIn("Error sending e-mail", log)
        self.assertNotIn("Error executing HTTP alarm call", log)


if __name__ == "__main__":
    headless_test.VELLORAN = sys.argv[1]
    SERVERS = sys.argv[2]
    unittest.main(argv=[sys.argv[0]])
