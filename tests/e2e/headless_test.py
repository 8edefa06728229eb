#!/usr/bin/env python3
"""Runs the real program as a headless service: start-up on an empty root folder, the hand-over
of a second start, the close path on SIGTERM and SIGINT, and bad root folders.

Usage: headless_test.py <path to velloran>
Every wait is on the program's own output or exit, with a time-out; there are no fixed sleeps.
"""
import os
import queue
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

VELLORAN = None
TIMEOUT = 30.0
STAMP = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d: ")
# Log stamps follow the time locale; the C locale gives the form STAMP looks for.
C_TIME_ENV = {k: v for k, v in os.environ.items() if k != "LC_ALL"}
C_TIME_ENV["LC_TIME"] = "C"

GLOBAL_KEYS = [
    "General/ColumnCount", "General/VerticalAutoSize",
    "Webserver/Enabled", "Webserver/Port", "Webserver/AdminUser", "Webserver/AdminPassword",
    "Webserver/ReadOnlyUser", "Webserver/ReadOnlyPassword", "Webserver/AnonymousAccess",
    "EMail/SMTPServer", "EMail/SMTPPort", "EMail/Encryption", "EMail/User", "EMail/Password",
    "EMail/FromAddress", "EMail/Receipients",
]


class Service:
    """One running velloran -headless process whose standard output is read line by line."""

    def __init__(self, root, *extra, program=None):
        self.lines = []
        self._queue = queue.Queue()
        self.proc = subprocess.Popen(
            [program or VELLORAN, "-headless", "-rootfolder", root, *extra],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=C_TIME_ENV)
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for line in self.proc.stdout:
            self._queue.put(line.rstrip("\n"))
        self._queue.put(None)

    def wait_for(self, text, timeout=TIMEOUT):
        """Returns the first line (seen or coming) that contains text; fails on time-out/exit."""
        for line in self.lines:
            if text in line:
                return line
        deadline = time.monotonic() + timeout
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise AssertionError(f"no line with {text!r} within {timeout}s: {self.lines}")
            try:
                line = self._queue.get(timeout=remaining)
            except queue.Empty:
                continue
            if line is None:
                raise AssertionError(f"output ended without {text!r}: {self.lines}")
            self.lines.append(line)
            if text in line:
                return line

    def finish(self, timeout=TIMEOUT):
        code = self.proc.wait(timeout=timeout)
        self._reader.join(timeout=timeout)
        self._close()
        while True:
            try:
                line = self._queue.get_nowait()
            except queue.Empty:
                break
            if line is not None:
                self.lines.append(line)
        return code

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self._reader.join(timeout=TIMEOUT)
        self._close()

    def _close(self):
        self.proc.stdout.close()
        self.proc.stderr.close()


def key_order(path):
    keys, section = [], ""
    with open(path, encoding="utf-8") as f:
        for line in f.read().splitlines():
            if line.startswith("["):
                section = line[1:line.index("]")]
            elif "=" in line:
                keys.append(section + "/" + line.split("=", 1)[0])
    return keys


class HeadlessTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.root = os.path.join(self.tmp.name, "new", "root")
        self.services = []

    def tearDown(self):
        for service in self.services:
            service.kill()
        self.tmp.cleanup()

    def start(self, root=None, *extra):
        service = Service(root or self.root, *extra)
        self.services.append(service)
        return service

    def test_start_handover_and_sigterm(self):
        first = self.start()
        started = first.wait_for("started (headless)")
        self.assertRegex(started, STAMP)
        self.assertIn(self.root + "/", started)
        self.assertTrue(os.path.isdir(self.root))
        ini = os.path.join(self.root, "Velloran.ini")

        second = subprocess.run([VELLORAN, "-headless", "-rootfolder", self.root],
                                capture_output=True, text=True, timeout=TIMEOUT)
        self.assertEqual(second.returncode, 1, second.stderr)  # handed over, did not record
        self.assertEqual(second.stdout, "")  # it logged and started nothing
        first.wait_for("Restore requested")
        self.assertFalse(os.path.exists(ini), "the second start wrote the configuration")

        first.proc.send_signal(signal.SIGTERM)
        self.assertEqual(first.finish(), 0)
        first.wait_for("Stopping (SIGTERM)")
        first.wait_for("Velloran stopped")
        for line in first.lines:
            self.assertRegex(line, STAMP)
        # The global sections in their order, then every slot writes its section as it is freed,
        # in index order (default: four slots).
        keys = key_order(ini)
        self.assertEqual(keys[:len(GLOBAL_KEYS)], GLOBAL_KEYS)
        sections = []
        for key in keys[len(GLOBAL_KEYS):]:
            section = key.split("/")[0]
            if not sections or sections[-1] != section:
                sections.append(section)
        self.assertEqual(sections, ["Slot0", "Slot1", "Slot2", "Slot3"])

    def test_sigint_keeps_window_section_and_reads_bad_values(self):
        os.makedirs(self.root)
        ini = os.path.join(self.root, "Velloran.ini")
        with open(ini, "w", encoding="utf-8") as f:
            f.write("[MainWindowPosition]\nLeft=12\n[General]\nColumnCount=many\n"
                    "SlotCount=0\nAlarmSlotCount=many\n[webserver]\nAnonymousAccess=readonly\nEnabled=yes\n"
                    "[email]\nEncryption=ssl\n")
        service = self.start()
        service.wait_for("started (headless)")
        service.proc.send_signal(signal.SIGINT)
        self.assertEqual(service.finish(), 0)
        service.wait_for("Stopping (SIGINT)")
        with open(ini, encoding="utf-8") as f:
            text = f.read()
        self.assertIn("[MainWindowPosition]\nLeft=12\n", text)
        self.assertNotIn("Top=", text)
        self.assertNotIn("[Slot", text)  # no slots: an unparsable alarm-slot count reads as 0
        self.assertIn("ColumnCount=1\n", text)
        self.assertIn("AnonymousAccess=none", text)
        self.assertIn("Enabled=off", text)
        self.assertIn("Encryption=none", text)

    def test_root_folder_that_cannot_be_created(self):
        blocker = os.path.join(self.tmp.name, "plainfile")
        with open(blocker, "w", encoding="utf-8") as f:
            f.write("x")
        root = os.path.join(blocker, "root")
        service = self.start(root)
        service.wait_for("Unable to create the root folder")
        service.wait_for("started (headless)")
        service.proc.send_signal(signal.SIGTERM)
        self.assertEqual(service.finish(), 0)
        service.wait_for("Unable to write to " + root + "/Velloran.ini")
        with open(blocker, encoding="utf-8") as f:
            self.assertEqual(f.read(), "x")

    def test_plugin_folder_with_a_file_that_is_no_plugin(self):
        # The program looks for plug-ins in plugins/bass/ next to its own file.
        bindir = os.path.join(self.tmp.name, "bin")
        plugins = os.path.join(bindir, "plugins", "bass")
        os.makedirs(plugins)
        program = os.path.join(bindir, "velloran")
        shutil.copy2(VELLORAN, program)
        for name, text in (("notaplugin.so", "not a plug-in"), ("readme.txt", "x")):
            with open(os.path.join(plugins, name), "w", encoding="utf-8") as f:
                f.write(text)
        service = Service(self.root, program=program)
        self.services.append(service)
        service.wait_for("started (headless)")
        line = service.wait_for("Error loading BASS plugin")
        self.assertTrue(line.endswith(": Error loading BASS plugin notaplugin.so: BASS error 41"),
                        line)
        service.proc.send_signal(signal.SIGTERM)
        self.assertEqual(service.finish(), 0)
        self.assertEqual(sum("Error loading BASS plugin" in l for l in service.lines), 1)

    def test_sighup_closes_files_cleanly_and_sigusr_is_ignored(self):
        os.makedirs(self.root)
        rec = os.path.join(self.root, "rec")
        with open(os.path.join(self.root, "Velloran.ini"), "w", encoding="utf-8") as f:
            f.write(f"[General]\nSlotCount=1\n[Slot0]\nFolder={rec}\nSource=Soundcard\n"
                    "Device=GEN:tone\nFormat=wav16\nFlatFilenames=on\nCleanupSpaceEnabled=off\n")
        service = self.start(None, "-bogus")
        self.assertTrue(service.wait_for("Unknown option").endswith(
            ': Unknown option "-bogus" ignored'))
        wav = service.wait_for("Encoding to file ").split("Encoding to file ", 1)[1]
        service.proc.send_signal(signal.SIGUSR1)
        service.proc.send_signal(signal.SIGUSR2)
        service.proc.send_signal(signal.SIGHUP)
        self.assertEqual(service.finish(), 0)  # neither SIGUSR killed it
        service.wait_for("Stopping (SIGHUP)")
        service.wait_for("Velloran stopped")
        # The WAV header counts every byte of the file, and the row has its duration.
        with open(wav, "rb") as f:
            data = f.read()
        self.assertEqual(data[:4], b"RIFF")
        self.assertEqual(int.from_bytes(data[4:8], "little"), len(data) - 8)
        import sqlite3
        db = sqlite3.connect(os.path.join(rec, "Velloran.db"))
        rows = db.execute("SELECT filename, duration FROM recordings").fetchall()
        db.close()
        self.assertEqual(len(rows), 1)
        self.assertEqual(os.path.join(rec, rows[0][0]), wav)
        self.assertIsNotNone(rows[0][1])

    def test_help_and_version_exit_without_recording(self):
        for option in ("-h", "--help"):
            done = subprocess.run([VELLORAN, option, "-rootfolder", self.root],
                                  capture_output=True, text=True, timeout=TIMEOUT)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertTrue(done.stdout.startswith("Usage: velloran"), done.stdout)
        done = subprocess.run([VELLORAN, "--version"], capture_output=True, text=True,
                              timeout=TIMEOUT)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertRegex(done.stdout, r"^Sondrel Velloran Version \d+\.\d+\.\d+ Build \d+\n$")
        self.assertFalse(os.path.exists(self.root), "an option that only informs started it")

    def test_without_headless_flag_and_no_display_says_so_in_one_line(self):
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        root = os.path.join(self.root, "window")
        proc = subprocess.run([VELLORAN, "-rootfolder", root], env=env, capture_output=True,
                              text=True, timeout=TIMEOUT)
        self.assertNotEqual(proc.returncode, 0)
        self.assertEqual(proc.stderr, "no display: start with -headless or set DISPLAY\n")
        self.assertEqual(proc.stdout, "")
        self.assertFalse(os.path.exists(root))  # nothing was created

if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: headless_test.py <velloran>")
    VELLORAN = sys.argv.pop(1)
    unittest.main(verbosity=2)
