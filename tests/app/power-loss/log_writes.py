#!/usr/bin/env python3
"""Reads a log recorded by the kernel's log-writes device-mapper target and
writes onto a device the state the recorded device had after a given entry.

The log: a super block in its first sector (magic, version, number of entries,
sector size, little-endian), then from the second sector on one entry after the
other. An entry is one sector holding its sector, its number of sectors, its
flags and its data length (four 64-bit fields); a mark keeps its text in the
rest of that sector; a write is followed by its data, a discard and a flush by
nothing. Sectors and lengths are counted in the log's sector size.

  log_writes.py list LOG                   one line per entry: number, flags, sectors, mark
  log_writes.py replay LOG DEVICE --to N   the state after entry N (counted from 0)
                 [--from M]                entries M..N only, onto a device already at M-1
"""

import argparse
import os
import struct
import sys

MAGIC = 0x6A736677736872
VERSION = 1
FLUSH = 1
FUA = 2
DISCARD = 4
MARK = 8
METADATA = 16  # the file system's own metadata; replayed like any write
KNOWN_FLAGS = FLUSH | FUA | DISCARD | MARK | METADATA
SECTOR_SIZES = (512, 1024, 2048, 4096)

_SUPER = struct.Struct("<QQQI")
_ENTRY = struct.Struct("<QQQQ")


class LogFormatError(Exception):
    """A log this tool does not understand."""


class Entry:
    __slots__ = ("number", "sector", "sectors", "flags", "mark", "data_offset")

    def __init__(self, number, sector, sectors, flags, mark, data_offset):
        self.number = number
        self.sector = sector
        self.sectors = sectors
        self.flags = flags
        self.mark = mark
        self.data_offset = data_offset

    def is_write(self):
        return not self.flags & (MARK | DISCARD) and self.sectors > 0

    def is_crash_point(self):
        """A flush or a FUA write: what it covers is on stable storage once it completes."""
        return bool(self.flags & (FLUSH | FUA))

    def describe(self):
        names = [name for bit, name in ((FLUSH, "flush"), (FUA, "fua"), (DISCARD, "discard"),
                                        (MARK, "mark"), (METADATA, "metadata")) if self.flags & bit]
        kind = "+".join(names) if names else "write"
        if self.flags & MARK:
            return f"{self.number} mark {self.mark}"
        return f"{self.number} {kind} sector {self.sector} sectors {self.sectors}"


class Log:
    """The entries of one log file, read once; the data stays in the file."""

    def __init__(self, path):
        self.path = path
        with open(path, "rb") as file:
            self.size = os.fstat(file.fileno()).st_size
            head = file.read(_SUPER.size)
            if len(head) < _SUPER.size:
                raise LogFormatError(f"{path}: truncated: no complete super block")
            magic, version, count, sector_size = _SUPER.unpack(head)
            if magic != MAGIC:
                raise LogFormatError(f"{path}: not a log-writes log (magic {magic:#x})")
            if version != VERSION:
                raise LogFormatError(f"{path}: log version {version}, this tool reads {VERSION}")
            if sector_size not in SECTOR_SIZES:
                raise LogFormatError(f"{path}: unsupported sector size {sector_size}")
            self.sector_size = sector_size
            self.entries = []
            offset = sector_size
            for number in range(count):
                file.seek(offset)
                header = file.read(sector_size)
                if len(header) < sector_size:
                    raise LogFormatError(f"{path}: truncated at entry {number} of {count}")
                sector, sectors, flags, data_length = _ENTRY.unpack_from(header)
                if flags & ~KNOWN_FLAGS:
                    raise LogFormatError(f"{path}: entry {number} has unknown flags {flags:#x}")
                mark = None
                if flags & MARK:
                    if data_length > sector_size - _ENTRY.size:
                        raise LogFormatError(f"{path}: entry {number}: mark longer than its sector")
                    mark = header[_ENTRY.size:_ENTRY.size + data_length].decode("utf-8", "replace")
                    sectors = 0
                data_offset = offset + sector_size
                offset = data_offset
                if not flags & (DISCARD | MARK):
                    offset += sectors * sector_size
                    if offset > self.size:
                        raise LogFormatError(
                            f"{path}: truncated in the data of entry {number} of {count}")
                self.entries.append(Entry(number, sector, sectors, flags, mark, data_offset))

    def marks(self):
        """(entry number, text) of every mark, in log order."""
        return [(entry.number, entry.mark) for entry in self.entries if entry.flags & MARK]

    def replay(self, device, first, last):
        """Applies entries first..last (inclusive) to the open device file."""
        if not 0 <= first <= last + 1 or last >= len(self.entries):
            raise LogFormatError(
                f"{self.path}: entries {first}..{last} are outside 0..{len(self.entries) - 1}")
        device_size = os.lseek(device, 0, os.SEEK_END)
        with open(self.path, "rb") as log:
            for entry in self.entries[first:last + 1]:
                if entry.flags & MARK or entry.sectors == 0:
                    continue
                start = entry.sector * self.sector_size
                length = entry.sectors * self.sector_size
                if start + length > device_size:
                    raise LogFormatError(
                        f"{self.path}: entry {entry.number} writes past the end of the device")
                if entry.flags & DISCARD:
                    data = bytes(length)
                else:
                    log.seek(entry.data_offset)
                    data = log.read(length)
                written = os.pwrite(device, data, start)
                if written != length:
                    raise OSError(f"short write at entry {entry.number}")


def main(arguments):
    parser = argparse.ArgumentParser(description="Lists or replays a log-writes log.")
    commands = parser.add_subparsers(dest="command", required=True)
    listing = commands.add_parser("list", help="one line per entry")
    listing.add_argument("log")
    replay = commands.add_parser("replay", help="write the state after entry N onto a device")
    replay.add_argument("log")
    replay.add_argument("device")
    replay.add_argument("--to", type=int, required=True, metavar="N")
    replay.add_argument("--from", dest="first", type=int, default=0, metavar="M")
    options = parser.parse_args(arguments)
    try:
        log = Log(options.log)
        if options.command == "list":
            print(f"{len(log.entries)} entries, sector size {log.sector_size}")
            for entry in log.entries:
                print(entry.describe())
            return 0
        device = os.open(options.device, os.O_WRONLY)
        try:
            log.replay(device, options.first, options.to)
            os.fsync(device)
        finally:
            os.close(device)
        return 0
    except LogFormatError as error:
        print(f"log_writes: {error}", file=sys.stderr)
        return 2
    except OSError as error:
        print(f"log_writes: {error}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
