"""Device errors (the flakey target) and slow storage (the delay target) under the
real bridge, for power_loss.py."""

import os
import statistics
import threading
import time

import block_devices as block
import bridge_peers as peers
from block_devices import DEVICE_MIB
from bridge_peers import START_WAIT, say, send_from_ipads

FLAKEY = "varnello-pl-flakey"
DELAY = "varnello-pl-delay"
WINDOW_SECONDS = 4


class Served:
    """Commands sent one after the other from one iPad, each with its answer."""

    def __init__(self, ipad):
        self.ipad = ipad
        self.sent = []  # (phase, identifier, address, answer)

    def send(self, phase, count=None, until=None):
        number = 0
        while (count is not None and number < count) or (until is not None
                                                          and time.monotonic() < until):
            command_id = peers.new_command_id()
            address = f"/flakey/{len(self.sent)}"
            self.ipad.send_command(command_id, address)
            self.sent.append((phase, command_id, address, self.ipad.receive_acknowledgement()))
            number += 1


def tally(answers):
    counts = {}
    for answer in answers:
        label = answer["status"]
        if label == "rejected":
            label += ": " + answer.get("detail", "")
        counts[label] = counts.get(label, 0) + 1
    return ", ".join(f"{count} {label}" for label, count in sorted(counts.items()))


def mount_options(folder):
    """The options the kernel reports for the file system mounted on the folder."""
    with open("/proc/mounts") as mounts:
        for line in mounts:
            fields = line.split()
            if len(fields) > 3 and fields[1] == folder:
                return fields[3]
    return "(not mounted)"


def flakey(machine, _options, bridge_binary):
    data = machine.loop(machine.image("data.img", DEVICE_MIB))
    block.make_ext4(data)
    size = block.sectors(data)
    linear = f"0 {size} linear {data} 0"
    failing = f"0 {size} flakey {data} 0 0 {WINDOW_SECONDS * 10} 1 error_writes"
    device = machine.create(FLAKEY, linear)
    mount_point = os.path.join(machine.work, "flakey")
    machine.mount(device, mount_point)
    receiver = peers.Receiver()
    config = os.path.join(machine.work, "config")
    peers.write_preferences(config, receiver.port)
    data_home = os.path.join(mount_point, "data")
    problems = []

    bridge = peers.Bridge(bridge_binary, data_home, config)
    try:
        port = bridge.await_ready(START_WAIT)
        if port is None:
            raise block.StepFailed("the bridge did not start:\n" + bridge.output())
        served = Served(peers.IPad(port, "flakey-ipad"))
        served.send("before", count=6)
        machine.reload(FLAKEY, failing)
        served.send("window", until=time.monotonic() + WINDOW_SECONDS)
        machine.reload(FLAKEY, linear)
        served.send("after", count=6)
        time.sleep(0.3)
        first_life = receiver.take_counts()
        alive = bridge.process.poll() is None
        options = mount_options(mount_point)
    finally:
        bridge.stop()
    say(f"flakey: the file system after the window: mounted {options}")
    phases = {phase: [answer for p, _, _, answer in served.sent if p == phase]
              for phase in ("before", "window", "after")}
    for phase in ("before", "window", "after"):
        say(f"flakey {phase}: {len(phases[phase])} commands: {tally(phases[phase])}")
    for phase, command_id, address, answer in served.sent:
        executed = first_life.get(address, 0)
        if phase == "window" and (answer["status"] == "accepted" or executed):
            problems.append(f"{address} ran while writes failed ({answer}, {executed} sent)")
        if phase == "window" and answer.get("detail") != peers.STORAGE_FAILED:
            problems.append(f"{address} in the window answered {answer}")
        if answer["status"] == "accepted" and executed != 1:
            problems.append(f"{address} accepted but sent {executed} datagrams")
        if answer["status"] != "accepted" and executed:
            problems.append(f"{address} answered {answer} but sent {executed} datagrams")
    if not alive:
        problems.append("the bridge did not survive the window")
    if not phases["window"]:
        problems.append("no command was sent in the window")
    if not any(answer["status"] == "accepted" for answer in phases["before"]):
        problems.append("nothing was accepted before the window")

    machine.unmount(mount_point)
    usable, status, report = block.fsck(device)
    say(f"flakey remount: fsck.ext4 -p status {status}")
    if not usable:
        problems.append(f"fsck.ext4 -p failed ({status}): {report}")
    else:
        machine.mount(device, mount_point)
        bridge = peers.Bridge(bridge_binary, data_home, config)
        try:
            port = bridge.await_ready(START_WAIT)
            if port is None:
                problems.append("the ledger did not load after the remount:\n" + bridge.output())
            else:
                again = Served(peers.IPad(port, "flakey-ipad-again"))
                resent = []
                for phase, command_id, address, answer in served.sent:
                    again.ipad.send_command(command_id, address)
                    reply = again.ipad.receive_acknowledgement()
                    resent.append(reply)
                    if answer["status"] == "accepted" and reply["status"] != "duplicate":
                        problems.append(f"{address} acknowledged, then answered {reply}")
                time.sleep(0.3)
                second_life = receiver.take_counts()
                for _, _, address, _ in served.sent:
                    if first_life.get(address, 0) + second_life.get(address, 0) > 1:
                        problems.append(f"{address} ran twice")
                say(f"flakey after the remount: the files load; resent: {tally(resent)}")
        finally:
            bridge.stop()
        machine.unmount(mount_point)
    receiver.close()
    for problem in problems:
        say("VIOLATION " + problem)
    return not problems


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def figures(values):
    return (f"median {statistics.median(values):.0f} ms, p99 {percentile(values, 0.99):.0f} ms, "
            f"max {max(values):.0f} ms")


def floor_milliseconds(folder, samples=5):
    """The saves one command costs the ledger, timed on this device: the tombstone
    file and the ledger file as at a reservation, the ledger file again as at its
    record, each written, synced, renamed and its folder synced, under other names."""
    files = [os.path.join(folder, "command-ledger.tombstones-v1.bin"),
             os.path.join(folder, "command-ledger.json")]
    contents = []
    for path in files:
        with open(path, "rb") as file:
            contents.append(file.read())
    contents.append(contents[1])
    folder_descriptor = os.open(folder, os.O_RDONLY)
    totals = []
    try:
        for sample in range(samples):
            started = time.monotonic()
            for number, content in enumerate(contents):
                temporary = os.path.join(folder, f".floor-{sample}-{number}.tmp")
                target = os.path.join(folder, f"floor-{number}")
                descriptor = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
                try:
                    os.write(descriptor, content)
                    os.fsync(descriptor)
                finally:
                    os.close(descriptor)
                os.rename(temporary, target)
                os.fsync(folder_descriptor)
            totals.append((time.monotonic() - started) * 1000)
        for number in range(len(contents)):
            os.remove(os.path.join(folder, f"floor-{number}"))
        os.fsync(folder_descriptor)
    finally:
        os.close(folder_descriptor)
    return totals


def delay(machine, options, bridge_binary):
    data = machine.loop(machine.image("data.img", DEVICE_MIB))
    block.make_ext4(data)
    size = block.sectors(data)
    ms = options.milliseconds
    try:
        device = machine.create(DELAY, f"0 {size} delay {data} 0 0 {data} 0 {ms} {data} 0 {ms}")
        slowed = f"writes and flushes {ms} ms"
    except block.StepFailed:
        device = machine.create(DELAY, f"0 {size} delay {data} 0 0 {data} 0 {ms}")
        slowed = f"writes {ms} ms (this kernel's delay target takes no flush delay)"
    mount_point = os.path.join(machine.work, "delayed")
    machine.mount(device, mount_point)
    say(f"delay: {slowed}, reads undelayed")
    problems = []
    for ipads in (1, 8):
        sent_at = {}
        datagram_ms = []
        lock = threading.Lock()

        def arrived(address, arrival):
            with lock:
                started = sent_at.get(address)
                if started is not None:
                    datagram_ms.append((arrival - started) * 1000)

        receiver = peers.Receiver(arrived)
        config = os.path.join(machine.work, f"config-{ipads}")
        peers.write_preferences(config, receiver.port)
        data_home = os.path.join(mount_point, f"data-{ipads}")
        bridge = peers.Bridge(bridge_binary, data_home, config)
        try:
            port = bridge.await_ready(START_WAIT)
            if port is None:
                raise block.StepFailed("the bridge did not start:\n" + bridge.output())
            warm = send_from_ipads(port, [(peers.new_command_id(), "/warm-up")], 1,
                                   lambda _: None, lambda *_: None)
            floor = floor_milliseconds(os.path.join(data_home, "TessaroBridge"))
            commands = [(peers.new_command_id(), f"/delay/{ipads}/{n}")
                        for n in range(options.commands)]
            address_of = dict(commands)
            acknowledgement_ms = []
            statuses = {}

            def before(command_id):
                with lock:
                    sent_at[address_of[command_id]] = time.monotonic()

            def answered(command_id, answer):
                with lock:
                    acknowledgement_ms.append(
                        (time.monotonic() - sent_at[address_of[command_id]]) * 1000)
                    statuses[answer["status"]] = statuses.get(answer["status"], 0) + 1

            failures = warm + send_from_ipads(port, commands, ipads, before, answered,
                                              in_flight=2)
            time.sleep(0.5)
        finally:
            bridge.stop()
            receiver.close()
        problems += failures
        if statuses.get("accepted", 0) != len(commands) or len(datagram_ms) != len(commands):
            problems.append(f"{ipads} iPads: {statuses}, {len(datagram_ms)} datagrams "
                            f"for {len(commands)} commands")
        if acknowledgement_ms and datagram_ms:
            say(f"delay {ipads} iPad(s), {len(commands)} commands: acknowledgement "
                f"{figures(acknowledgement_ms)}; datagram {figures(datagram_ms)}; "
                f"floor {statistics.median(floor):.0f} ms (median of {len(floor)}); "
                f"{len(failures)} timeouts or order faults")
    machine.unmount(mount_point)
    for problem in problems:
        say("VIOLATION " + problem)
    return not problems
