#!/usr/bin/env python3
"""The recorder end to end: velloran -headless records the generator inputs in real time for a
little over two minutes. 1-minute aligned WAV files of "GEN:ramp" land at the minute boundaries
under their default names, the database rows carry their start times and durations, and the ramp
runs on across the file boundaries (no sample missing; an overlap of at most one pull block).
MP3, MP2 and Ogg slots write files that ffprobe decodes. SIGTERM closes the current files and
writes their durations.

Usage: recorder_test.py <path to velloran>
"""
import datetime
import os
import signal
import sqlite3
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import wave

VELLORAN = None
RATE = 44100
MAX_PULL_BLOCK_FRAMES = 2 * RATE  # the pull thread reads at most two seconds at a time

# The space rule of the clean-up is off: a test machine short of disk space must not delete the
# files under test.
CONFIG = """[General]
SlotCount=4
AlarmSlotCount=0
CloseConfirmation=off
[Webserver]
Enabled=off
[Slot0]
Name=Ramp
Source=Soundcard
Device=GEN:ramp
Format=wav16
TimeSlotLength=1
CleanupSpaceEnabled=off
Folder={root}/ramp
[Slot1]
Name=ToneMP3
Source=Soundcard
Device=GEN:tone
Format=mp3
TimeSlotLength=1
CleanupSpaceEnabled=off
Folder={root}/mp3
[Slot2]
Name=ToneMP2
Source=Soundcard
Device=GEN:tone
Format=mp2
Bitrate=192
TimeSlotLength=1
CleanupSpaceEnabled=off
Folder={root}/mp2
[Slot3]
Name=ToneOgg
Source=Soundcard
Device=GEN:tone
Format=ogg
TimeSlotLength=1
CleanupSpaceEnabled=off
Folder={root}/ogg
"""


def read_ramp(path):
    with wave.open(path, "rb") as w:
        assert w.getnchannels() == 2 and w.getsampwidth() == 2 and w.getframerate() == RATE
        data = w.readframes(w.getnframes())
    return struct.unpack("<%dh" % (len(data) // 2), data)[0::2]  # left channel


def ramp_breaks(values):
    """Steps of the ramp other than +1 as (frame, value, next value); the silence before the
    input's first block (the start of the first file) does not count, and neither does the
    value the ramp has reached when that block arrives (it started with the device, not with
    the file)."""
    start = 0
    while start + 1 < len(values) and values[start] == 0 and values[start + 1] == 0:
        start += 1
    if start > 0 and start + 1 < len(values) and values[start + 1] != 1:
        start += 1  # the last silent frame, then the ramp where the input joined it
    return [(start + i, a, b) for i, (a, b) in enumerate(zip(values[start:], values[start + 1:]))
            if (a + 1 - b) & 0xFFFF]


def overlap(previous, following):
    """Frames by which following repeats the end of previous; negative = frames missing."""
    d = (previous[-1] + 1 - following[0]) & 0xFFFF
    return d - 0x10000 if d >= 0x8000 else d


def files_below(folder, ext):
    found = []
    for base, _, names in os.walk(folder):
        found += [os.path.join(base, n) for n in names if n.endswith(ext)]
    return sorted(found)


class RecorderEndToEnd(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="velloran-e2e-")
        cls.root = cls.tmp.name
        with open(os.path.join(cls.root, "Velloran.ini"), "w") as f:
            f.write(CONFIG.format(root=cls.root))
        cls.output = []
        proc = subprocess.Popen([VELLORAN, "-headless", "-rootfolder", cls.root],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        reader = threading.Thread(target=lambda: cls.output.extend(proc.stdout), daemon=True)
        reader.start()
        cls.started = datetime.datetime.now()
        # Run until a little after the second full minute after the start.
        first_boundary = cls.started.replace(second=0, microsecond=0) + datetime.timedelta(minutes=1)
        cls.boundaries = [first_boundary, first_boundary + datetime.timedelta(minutes=1)]
        end = cls.boundaries[1] + datetime.timedelta(seconds=5)
        while datetime.datetime.now() < end:
            if proc.poll() is not None:
                break
            time.sleep(0.5)
        proc.send_signal(signal.SIGTERM)
        try:
            cls.exit_code = proc.wait(timeout=60)
        except subprocess.TimeoutExpired:
            proc.kill()
            cls.exit_code = None
        reader.join(timeout=5)
        proc.stdout.close()

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def log(self):
        return "".join(self.output)

    def test_exit(self):
        self.assertEqual(self.exit_code, 0, self.log())

    def test_ramp_files_rows_and_continuity(self):
        folder = os.path.join(self.root, "ramp")
        files = files_below(folder, ".wav")
        names = [os.path.relpath(f, folder) for f in files]
        expected = [b.strftime("%Y/%m/%d/%Y-%m-%d-%H-%M-%S.wav") for b in self.boundaries]
        self.assertEqual(len(names), 3, (names, self.log()))
        self.assertEqual(names[1:], expected)

        db = sqlite3.connect(os.path.join(folder, "Velloran.db"))
        rows = db.execute(
            "SELECT starttime, duration, filename FROM recordings ORDER BY id").fetchall()
        self.assertEqual([r[2] for r in rows], names)
        for row, boundary in zip(rows[1:], self.boundaries):
            start = datetime.datetime.strptime(row[0], "%Y-%m-%d %H:%M:%S.%f")
            self.assertLess(abs((start - boundary).total_seconds()), 1.0, row)
        self.assertAlmostEqual(rows[1][1], 60.0, delta=0.5)
        self.assertIsNotNone(rows[2][1], "SIGTERM must write the duration of the last file")

        ramps = [read_ramp(f) for f in files]
        for name, values in zip(names, ramps):
            breaks = ramp_breaks(values)
            self.assertEqual(len(breaks), 0, f"{name}: first breaks (frame, value, next) "
                             f"{breaks[:3]} of {len(values)} frames; log:\n{self.log()}")
        self.assertAlmostEqual(len(ramps[1]) / RATE, 60.0, delta=0.5)
        self.assertAlmostEqual(len(ramps[2]) / RATE, rows[2][1], delta=0.5)
        for i in range(1, len(ramps)):
            d = overlap(ramps[i - 1], ramps[i])
            self.assertGreaterEqual(d, 0, f"frames missing before {names[i]}")
            self.assertLessEqual(d, MAX_PULL_BLOCK_FRAMES, names[i])

    def test_encoded_files_decode(self):
        for sub, ext in (("mp3", ".mp3"), ("mp2", ".mp2"), ("ogg", ".ogg")):
            files = files_below(os.path.join(self.root, sub), ext)
            self.assertGreaterEqual(len(files), 3, (sub, files, self.log()))
            for path in files:
                probe = subprocess.run(
                    ["ffprobe", "-v", "error", "-show_entries", "format=duration", "-of",
                     "default=nw=1:nk=1", path], capture_output=True, text=True)
                self.assertEqual(probe.returncode, 0, (path, probe.stderr))
                self.assertGreater(float(probe.stdout.strip()), 0.5, path)
            middle = files[1]
            probe = subprocess.run(
                ["ffprobe", "-v", "error", "-show_entries", "format=duration", "-of",
                 "default=nw=1:nk=1", middle], capture_output=True, text=True)
            self.assertAlmostEqual(float(probe.stdout.strip()), 60.0, delta=1.5, msg=middle)


if __name__ == "__main__":
    VELLORAN = sys.argv.pop(1)
    unittest.main()
