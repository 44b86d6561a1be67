#!/usr/bin/env python3
"""Power loss, device errors and slow storage under the real bridge, on real block
devices in the alsa-vm guest (alsa-vm --block).

  power_loss.py --bridge BIN crash [--commands N] [--ipads P] [--random R]
      ext4 on a log-writes device; the bridge serves P iPads sending N commands;
      then every flush and FUA write of the log, and R writes between them, is
      replayed onto a fresh device, checked by fsck -p, mounted, and the bridge
      started on it and sent again every command sent before that point.
  power_loss.py --bridge BIN flakey    writes fail for a few seconds under the bridge
  power_loss.py --bridge BIN delay     20 ms on every write and flush; latencies

Exit status 0 when the promise held, 1 when it did not, 77 when this machine
cannot run the checks (outside the guest, no device-mapper).
"""

import argparse
import hashlib
import os
import random
import re
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import block_devices as block  # noqa: E402
import bridge_peers as peers  # noqa: E402
import log_writes  # noqa: E402
from block_devices import DEVICE_MIB  # noqa: E402
from bridge_peers import START_WAIT, Bridge, say, send_from_ipads  # noqa: E402

LW = "varnello-pl-lw"
CHECK = "varnello-pl-check"
TRACE = os.environ.get("VARNELLO_POWER_LOSS_TRACE") == "1"


class Recording:
    """What the world was told during the recorded run, keyed by command identifier."""

    def __init__(self, count):
        self.commands = [(peers.new_command_id(), f"/power-loss/{n}") for n in range(count)]
        self.id_of_address = {address: command_id for command_id, address in self.commands}
        self.statuses = {}
        self.datagrams = 0
        self.lock = threading.Lock()


def record(machine, options, bridge_binary):
    """The run whose writes are logged: the recording, the log and the image it starts from."""
    data_image = machine.image("data.img", DEVICE_MIB)
    log_image = machine.image("log.img", options.log_mib)
    data = machine.loop(data_image)
    block.make_ext4(data)
    base = os.path.join(machine.work, "base.img")
    with open(data_image, "rb") as source, open(base, "wb") as target:
        target.write(source.read())
    log_device = machine.loop(log_image)
    device = machine.create(LW, f"0 {block.sectors(data)} log-writes {data} {log_device}")
    mount_point = os.path.join(machine.work, "recorded")
    machine.mount(device, mount_point)

    recording = Recording(options.commands)

    def datagram(address, _arrival):
        command_id = recording.id_of_address.get(address)
        with recording.lock:
            recording.datagrams += 1
        if command_id:
            block.mark(LW, "sent-" + command_id)

    receiver = peers.Receiver(datagram)
    config = os.path.join(machine.work, "config")
    peers.write_preferences(config, receiver.port)
    bridge = peers.Bridge(bridge_binary, os.path.join(mount_point, "data"), config)
    try:
        port = bridge.await_ready(START_WAIT)
        if port is None:
            raise block.StepFailed("the bridge did not start on the recorded device:\n"
                                   + bridge.output())

        def answered(command_id, answer):
            with recording.lock:
                recording.statuses[command_id] = answer["status"]
            if answer["status"] == "accepted":
                block.mark(LW, "ack-" + command_id)

        failures = send_from_ipads(port, recording.commands, options.ipads,
                                   lambda command_id: block.mark(LW, "cmd-" + command_id),
                                   answered)
        if failures:
            raise block.StepFailed("the recorded run failed: " + "; ".join(failures))
        deadline = time.monotonic() + 10
        while recording.datagrams < len(recording.commands) and time.monotonic() < deadline:
            time.sleep(0.05)
    finally:
        bridge.stop()
        receiver.close()
    machine.unmount(mount_point)
    machine.remove(LW)
    return recording, log_image, base


class Point:
    def __init__(self, entry, kinds):
        self.entry = entry
        self.kinds = kinds


def crash_points(log, extra, seed):
    """Every flush and FUA write, and `extra` writes between them chosen at random."""
    points = {}
    for entry in log.entries:
        if entry.is_crash_point():
            points.setdefault(entry.number, set()).add("fua" if entry.flags & log_writes.FUA
                                                       and not entry.flags & log_writes.FLUSH
                                                       else "flush")
    between = [e.number for e in log.entries if e.is_write() and not e.is_crash_point()]
    for number in random.Random(seed).sample(between, min(extra, len(between))):
        points.setdefault(number, set()).add("random")
    return [Point(number, kinds) for number, kinds in sorted(points.items())]


class Verdicts:
    def __init__(self):
        self.checked = 0
        self.starts = 0
        self.kinds = {"flush": 0, "fua": 0, "random": 0}
        self.started = 0
        self.needs_attention = []
        self.duplicates_executed = 0
        self.acknowledged_lost = 0
        self.violations = []
        self.answers = {}
        self.seconds = {}

    def spent(self, step, since):
        """Adds the time since `since` to the step's total; now."""
        now = time.monotonic()
        self.seconds[step] = self.seconds.get(step, 0) + now - since
        if TRACE:
            say(f"    {step} {now - since:.2f} s")
        return now

    def violation(self, point, text):
        self.violations.append(f"entry {point.entry}: {text}")


TEMPORARY = re.compile(r"^\..+\.[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\.tmp$")


def folder_digest(folder):
    """SHA-256 over the names and contents of everything under the folder that the
    bridge reads at start-up: all but the temporary files of interrupted saves,
    which it only removes."""
    digest = hashlib.sha256()
    for root, folders, files in os.walk(folder):
        folders.sort()
        for name in sorted(files):
            if TEMPORARY.match(name):
                continue
            path = os.path.join(root, name)
            digest.update(os.path.relpath(path, folder).encode() + b"\0")
            with open(path, "rb") as file:
                digest.update(file.read())
        digest.update(b"\1" + root.encode())
    return digest.hexdigest()


class Outcome:
    """What the bridge did on one state of the files: its refusal, or each resent
    command's answer and datagram count. A command's answer depends only on the
    files it was loaded from, never on the other commands resent with it."""

    def __init__(self):
        self.started = False
        self.refusal = None
        self.answers = {}  # command identifier -> (answer, datagrams)


def start_and_resend(bridge_binary, data_home, receiver, config, commands, outcome):
    """Starts the bridge on the rebooted device and sends the commands again."""
    outcome.started = True
    receiver.take_counts()
    bridge = Bridge(bridge_binary, data_home, config)
    answers = {}
    failures = []
    try:
        port = bridge.await_ready(START_WAIT)
        if port is None:
            bridge.stop()
            output = bridge.output()
            outcome.refusal = ("needs attention" if peers.NEEDS_ATTENTION in output
                               else "did not start:\n" + output)
            return failures

        def answered(command_id, answer):
            answers[command_id] = answer

        failures = send_from_ipads(port, commands, 1, lambda _: None, answered, in_flight=8)
        # Datagrams go out before the answer; a moment for the last ones to land.
        time.sleep(0.3)
    finally:
        bridge.stop()
    counts = receiver.take_counts()
    for command_id, address in commands:
        outcome.answers[command_id] = (answers.get(command_id, {}), counts.get(address, 0))
    return failures


def judge(point, expectations, outcome, verdicts, recording):
    """The four conditions of the promise at one crash point."""
    sent_before, acked, datagram_before, before_first_ack = expectations
    if outcome.refusal == "needs attention":
        if before_first_ack:
            verdicts.needs_attention.append(point.entry)
        else:
            verdicts.violation(point, "refused the ledger after the first acknowledgement")
        return
    if outcome.refusal:
        verdicts.violation(point, "the bridge " + outcome.refusal)
        return
    verdicts.started += 1
    for command_id, address in recording.commands:
        if command_id not in sent_before:
            continue
        answer, count = outcome.answers[command_id]
        status = answer.get("status")
        detail = answer.get("detail")
        label = status if status != "rejected" else f"rejected: {detail}"
        verdicts.answers[label] = verdicts.answers.get(label, 0) + 1
        if command_id in acked and status != "duplicate":
            verdicts.acknowledged_lost += 1
            verdicts.violation(point, f"{address} was acknowledged before this point but "
                                      f"answers {label}")
        if (command_id in acked or command_id in datagram_before) and count > 0:
            verdicts.duplicates_executed += 1
            verdicts.violation(point, f"{address} had been executed before this point and "
                                      f"sent {count} datagram(s) again")
        elif count > 1:
            verdicts.duplicates_executed += 1
            verdicts.violation(point, f"{address} sent {count} datagrams")
        if status not in ("accepted", "duplicate") and not (
                status == "rejected" and detail == peers.UNCERTAIN):
            verdicts.violation(point, f"{address} answered {label}")
        if status == "accepted" and count != 1:
            verdicts.violation(point, f"{address} answered accepted but sent {count}")


def check_point(machine, bridge_binary, check_device, mount_point, receiver, config, point,
                expectations, verdicts, recording, outcomes):
    """One reboot: fsck, mount, the bridge's outcome on these files (started once per
    state of the files, again for commands sent since), judged. The outcome, or None
    when the device did not come up."""
    step = time.monotonic()
    usable, status, report = block.fsck(check_device)
    step = verdicts.spent("fsck", step)
    if not usable:
        verdicts.violation(point, f"fsck.ext4 -p failed with status {status}: {report}")
        return None
    sent_before = expectations[0]
    try:
        machine.mount(check_device, mount_point)
    except block.StepFailed as error:
        verdicts.violation(point, f"the file system did not mount: {error}")
        return None
    try:
        data_home = os.path.join(mount_point, "data")
        # The bridge starts once on each state of its files, and again only
        # for commands sent since.
        outcome = outcomes.setdefault(folder_digest(data_home), Outcome())
        step = verdicts.spent("mount", step)
        missing = [(c, a) for c, a in recording.commands
                   if c in sent_before and c not in outcome.answers]
        if not outcome.started or (missing and outcome.refusal is None):
            verdicts.starts += 1
            missing.sort(key=lambda command: sent_before[command[0]])
            for failure in start_and_resend(bridge_binary, data_home, receiver, config,
                                            missing, outcome):
                verdicts.violation(point, failure)
        judge(point, expectations, outcome, verdicts, recording)
        step = verdicts.spent("bridge", step)
    finally:
        machine.unmount(mount_point)
        verdicts.spent("unmount", step)
    return outcome


def check_crash_points(machine, options, bridge_binary, recording, log_path, base):
    log = log_writes.Log(log_path)
    points = crash_points(log, options.random, options.seed)
    marks = log.marks()
    say(f"log: {len(log.entries)} entries, {len(marks)} marks, {len(points)} crash points")
    work = os.path.join(machine.work, "replayed.img")
    with open(base, "rb") as source, open(work, "wb") as target:
        target.write(source.read())
    receiver = peers.Receiver()
    config = os.path.join(machine.work, "config-check")
    peers.write_preferences(config, receiver.port)
    mount_point = os.path.join(machine.work, "rebooted")
    verdicts = Verdicts()
    first_ack = next((number for number, text in marks if text.startswith("ack-")), None)
    replayed = os.open(work, os.O_RDWR)
    origin = machine.attach(work)
    cow = machine.attach(machine.image("cow.img", DEVICE_MIB))
    applied = -1
    outcomes = {}
    previous = None
    mark_index = 0
    sent_before, acked, datagram_before = {}, set(), set()
    started = time.monotonic()
    try:
        for point in points:
            if options.first_violation and verdicts.violations:
                say("stopped at the first violation (--first-violation)")
                break
            if verdicts.checked % 25 == 0:
                say(f"  {verdicts.checked}/{len(points)} points, "
                    f"{verdicts.starts} bridge starts, {len(verdicts.violations)} violations, "
                    f"{time.monotonic() - started:.0f} s")
            for kind in point.kinds:
                verdicts.kinds[kind] += 1
            verdicts.checked += 1
            while mark_index < len(marks) and marks[mark_index][0] < point.entry:
                text = marks[mark_index][1]
                kind, _, command_id = text.partition("-")
                if kind == "cmd":
                    sent_before[command_id] = len(sent_before)
                elif kind == "ack":
                    acked.add(command_id)
                elif kind == "sent":
                    datagram_before.add(command_id)
                mark_index += 1
            step = time.monotonic()
            before_first_ack = first_ack is None or point.entry < first_ack
            expectations = (sent_before, acked, datagram_before, before_first_ack)
            wrote = any(entry.sectors > 0 and not entry.flags & log_writes.MARK
                        for entry in log.entries[applied + 1:point.entry + 1])
            log.replay(replayed, applied + 1, point.entry)
            applied = point.entry
            if not wrote and previous is not None and not any(
                    c in sent_before and c not in previous.answers for c, _ in recording.commands):
                # Nothing written since the last point: the same device, fsck and files.
                judge(point, expectations, previous, verdicts, recording)
                continue
            # A fresh device for each reboot: a snapshot of the replayed image, so that
            # what fsck, the mount and the bridge write leaves the image as replayed.
            check_device = block.create_quickly(
                CHECK, f"0 {DEVICE_MIB * 2048} snapshot {origin} {cow} N 8")
            step = verdicts.spent("replay", step)
            try:
                previous = check_point(machine, bridge_binary, check_device, mount_point,
                                       receiver, config, point, expectations, verdicts,
                                       recording, outcomes)
            finally:
                block.remove_quickly(CHECK)
    finally:
        os.close(replayed)
        receiver.close()
    return verdicts, first_ack


def crash(machine, options, bridge_binary):
    started = time.monotonic()
    recording, log_path, base = record(machine, options, bridge_binary)
    recorded = time.monotonic()
    accepted = sum(1 for status in recording.statuses.values() if status == "accepted")
    say(f"recorded: {len(recording.commands)} commands from {options.ipads} iPads, "
        f"{accepted} acknowledged accepted, {recording.datagrams} datagrams, "
        f"{recorded - started:.0f} s")
    verdicts, first_ack = check_crash_points(machine, options, bridge_binary, recording,
                                                  log_path, base)
    finished = time.monotonic()
    attention = verdicts.needs_attention
    say(f"crash points: {verdicts.checked} ({verdicts.kinds['flush']} flushes, with or without "
        f"FUA, {verdicts.kinds['fua']} FUA-only writes, {verdicts.kinds['random']} random), "
        f"each replayed, checked by fsck, mounted and judged; the bridge started "
        f"{verdicts.starts} times (once per state of its files, again for commands sent since)")
    say(f"starts: {verdicts.started} points served, {len(attention)} needs-attention refusals "
        f"(entries {', '.join(map(str, attention)) or 'none'}; first ack- mark at entry "
        f"{first_ack})")
    say("answers to the resent commands, over all points: " + ", ".join(f"{count} {label}"
                                       for label, count in sorted(verdicts.answers.items())))
    say(f"duplicates executed: {verdicts.duplicates_executed}, acknowledged commands lost: "
        f"{verdicts.acknowledged_lost}, violations: {len(verdicts.violations)}")
    say(f"time: record {recorded - started:.0f} s, checks {finished - recorded:.0f} s ("
        + ", ".join(f"{step} {seconds:.0f} s" for step, seconds in verdicts.seconds.items())
        + ")")
    for text in verdicts.violations[:40]:
        say("VIOLATION " + text)
    ok = (not verdicts.violations and accepted == len(recording.commands)
          and recording.datagrams == len(recording.commands))
    if accepted != len(recording.commands) or recording.datagrams != len(recording.commands):
        say("the recorded run itself did not accept and send every command once")
    return ok


def main(arguments):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bridge", required=True, help="the varnello-bridge binary")
    parser.add_argument("--work", help="a folder for the images (default: a temporary one)")
    modes = parser.add_subparsers(dest="mode", required=True)
    crash_mode = modes.add_parser("crash", help="log-writes replay at every crash point")
    crash_mode.add_argument("--commands", type=int, default=16)
    crash_mode.add_argument("--ipads", type=int, default=4)
    crash_mode.add_argument("--random", type=int, default=4,
                            help="writes between flushes also taken as crash points")
    crash_mode.add_argument("--seed", type=int, default=20261211)
    crash_mode.add_argument("--log-mib", type=int, default=192)
    crash_mode.add_argument("--first-violation", action="store_true",
                            help="stop the checks at the first violation")
    modes.add_parser("flakey", help="a few seconds of failing writes under the bridge")
    delay_mode = modes.add_parser("delay", help="slow writes and flushes; latencies")
    delay_mode.add_argument("--milliseconds", type=int, default=20)
    delay_mode.add_argument("--commands", type=int, default=48)
    options = parser.parse_args(arguments)

    reason = block.why_unavailable()
    if reason:
        say(f"skipped: {reason}")
        return block.SKIP
    with tempfile.TemporaryDirectory(prefix="varnello-power-loss.",
                                     dir=options.work) as work:
        machine = block.Machine(work)
        try:
            if options.mode == "crash":
                ok = crash(machine, options, options.bridge)
            else:
                import storage_faults  # noqa: E402
                ok = getattr(storage_faults, options.mode)(machine, options, options.bridge)
        except (block.StepFailed, log_writes.LogFormatError) as error:
            say(f"failed: {error}")
            ok = False
        finally:
            machine.close()
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
