#!/usr/bin/env python3
"""The log-writes reader and replayer on logs built here in the kernel's layout."""

import os
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import log_writes  # noqa: E402

SECTOR = 512
TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "log_writes.py")


def entry(sector, flags, data=b"", mark=None, sectors=None):
    """One entry as the target writes it: a header sector, then the data sectors."""
    if mark is not None:
        text = mark.encode()
        header = struct.pack("<QQQQ", 0, 0, flags | log_writes.MARK, len(text)) + text
        return header.ljust(SECTOR, b"\0")
    count = len(data) // SECTOR if sectors is None else sectors
    header = struct.pack("<QQQQ", sector, count, flags, 0).ljust(SECTOR, b"\0")
    return header + (b"" if flags & log_writes.DISCARD else data)


def log_bytes(entries, magic=log_writes.MAGIC, version=1, count=None, sector_size=SECTOR):
    header = struct.pack("<QQQI", magic, version, len(entries) if count is None else count,
                         sector_size).ljust(SECTOR, b"\0")
    return header + b"".join(entries)


def sectors_of(byte, count=1):
    return bytes([byte]) * (SECTOR * count)


# A small history: two writes, a flush, a mark, an overwrite with FUA, a discard.
HISTORY = [
    entry(0, 0, sectors_of(1, 2)),
    entry(3, 0, sectors_of(2)),
    entry(0, log_writes.FLUSH),
    entry(0, 0, mark="ack-A"),
    entry(1, log_writes.FUA | log_writes.FLUSH, sectors_of(3)),
    entry(0, log_writes.DISCARD, sectors=1),
]


class LogWritesTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def write(self, name, data):
        path = os.path.join(self.folder.name, name)
        with open(path, "wb") as file:
            file.write(data)
        return path

    def device(self, sectors=4):
        return self.write("device.img", bytes(SECTOR * sectors))

    def replayed(self, log, last, first=0, device=None):
        device = device or self.device()
        descriptor = os.open(device, os.O_RDWR)
        try:
            log.replay(descriptor, first, last)
        finally:
            os.close(descriptor)
        with open(device, "rb") as file:
            data = file.read()
        return [data[n * SECTOR] for n in range(len(data) // SECTOR)]

    def test_reads_every_entry_with_its_flags_and_marks(self):
        log = log_writes.Log(self.write("log", log_bytes(HISTORY)))
        self.assertEqual([(e.sector, e.sectors, e.flags) for e in log.entries],
                         [(0, 2, 0), (3, 1, 0), (0, 0, 1), (0, 0, 8), (1, 1, 3), (0, 1, 4)])
        self.assertEqual(log.marks(), [(3, "ack-A")])
        self.assertEqual([e.number for e in log.entries if e.is_crash_point()], [2, 4])

    def test_replays_the_state_after_each_entry(self):
        cases = [  # last entry applied, first byte of each of the four sectors
            (0, [1, 1, 0, 0]),
            (1, [1, 1, 0, 2]),
            (3, [1, 1, 0, 2]),
            (4, [1, 3, 0, 2]),
            (5, [0, 3, 0, 2]),
        ]
        log = log_writes.Log(self.write("log", log_bytes(HISTORY)))
        for last, expected in cases:
            with self.subTest(last=last):
                self.assertEqual(self.replayed(log, last), expected)

    def test_replays_in_steps_as_in_one_go(self):
        log = log_writes.Log(self.write("log", log_bytes(HISTORY)))
        device = self.device()
        self.replayed(log, 2, device=device)
        self.assertEqual(self.replayed(log, 5, first=3, device=device), self.replayed(log, 5))

    def test_refuses_logs_it_does_not_understand(self):
        whole = log_bytes(HISTORY)
        cases = [
            ("empty", b"", "truncated: no complete super block"),
            ("magic", log_bytes(HISTORY, magic=0x1234), "not a log-writes log"),
            ("version", log_bytes(HISTORY, version=2), "log version 2"),
            ("sector size", log_bytes(HISTORY, sector_size=500), "unsupported sector size 500"),
            ("entry header", log_bytes(HISTORY, count=7), "truncated at entry 6 of 7"),
            ("entry data", whole[:SECTOR * 3 + 100], "truncated in the data of entry 0"),
            ("flags", log_bytes([entry(0, 64, sectors_of(1))]), "unknown flags 0x40"),
            ("mark length", log_bytes([struct.pack("<QQQQ", 0, 0, 8, 600).ljust(SECTOR, b"\0")]),
             "mark longer than its sector"),
        ]
        for name, data, message in cases:
            with self.subTest(name):
                with self.assertRaises(log_writes.LogFormatError) as raised:
                    log_writes.Log(self.write("bad", data))
                self.assertIn(message, str(raised.exception))

    def test_refuses_writes_past_the_device_and_entries_past_the_log(self):
        log = log_writes.Log(self.write("log", log_bytes(HISTORY)))
        with self.assertRaisesRegex(log_writes.LogFormatError, "past the end of the device"):
            self.replayed(log, 1, device=self.device(sectors=3))
        with self.assertRaisesRegex(log_writes.LogFormatError, "outside 0..5"):
            self.replayed(log, 6)

    def test_command_line_lists_replays_and_fails_clearly(self):
        log = self.write("log", log_bytes(HISTORY))
        listing = subprocess.run([sys.executable, TOOL, "list", log], capture_output=True,
                                 text=True, timeout=60)
        self.assertEqual(listing.returncode, 0, listing.stderr)
        self.assertIn("6 entries, sector size 512", listing.stdout)
        self.assertIn("2 flush sector 0 sectors 0", listing.stdout)
        self.assertIn("3 mark ack-A", listing.stdout)
        self.assertIn("4 flush+fua sector 1 sectors 1", listing.stdout)
        device = self.device()
        replay = subprocess.run([sys.executable, TOOL, "replay", log, device, "--to", "4"],
                                capture_output=True, text=True, timeout=60)
        self.assertEqual(replay.returncode, 0, replay.stderr)
        with open(device, "rb") as file:
            self.assertEqual(file.read(SECTOR * 2)[SECTOR], 3)
        bad = subprocess.run([sys.executable, TOOL, "list", self.write("bad", b"x" * 40)],
                             capture_output=True, text=True, timeout=60)
        self.assertEqual(bad.returncode, 2)
        self.assertIn("not a log-writes log", bad.stderr)


if __name__ == "__main__":
    unittest.main()
