"""The bridge program and its peers for the power-loss runs: the headless bridge
as a child process, an iPad speaking the framing (a 4-byte big-endian length,
then the JSON text), and a UDP receiver for its OSC output."""

import json
import os
import re
import signal
import socket
import struct
import subprocess
import threading
import time
import uuid

READY = re.compile(r"Server status: Beschikbaar via wifi \(TCP (\d+)\)")
UNCERTAIN = "This command was already received; the earlier execution is uncertain."
NEEDS_ATTENTION = "The command ledger has an unknown or corrupted format."
STORAGE_FAILED = "Could not save the command ledger safely."
START_WAIT = 120  # seconds; the bridge starts slowly under software emulation


def say(text):
    print(text, flush=True)


def write_preferences(config_home, osc_port):
    folder = os.path.join(config_home, "TessaroBridge")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "preferences.json"), "w") as file:
        json.dump({"oscForwardingEnabled": True, "oscForwardingHost": "127.0.0.1",
                   "oscForwardingPort": osc_port}, file)


class Bridge:
    """varnello-bridge --headless on the sequencer, with its data folder under
    data_home. Its standard error is collected; it is stopped by its pid."""

    def __init__(self, binary, data_home, config_home):
        environment = {key: value for key, value in os.environ.items()
                       if key not in ("DISPLAY", "WAYLAND_DISPLAY", "JOURNAL_STREAM")}
        environment["XDG_DATA_HOME"] = data_home
        environment["XDG_CONFIG_HOME"] = config_home
        self.process = subprocess.Popen([binary, "--headless", "--midi=alsa"],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.PIPE, env=environment)
        self._lines = []
        self._changed = threading.Condition()
        self._reader = threading.Thread(target=self._collect, daemon=True)
        self._reader.start()

    def _collect(self):
        for raw in self.process.stderr:
            with self._changed:
                self._lines.append(raw.decode("utf-8", "replace"))
                self._changed.notify_all()
        with self._changed:
            self._changed.notify_all()

    def output(self):
        with self._changed:
            return "".join(self._lines)

    def await_ready(self, wait):
        """The iPad port once the bridge reports it serves; None when it exited or timed out."""
        deadline = time.monotonic() + wait
        seen = 0
        with self._changed:
            while True:
                for line in self._lines[seen:]:
                    match = READY.search(line)
                    if match:
                        return int(match.group(1))
                seen = len(self._lines)
                remaining = deadline - time.monotonic()
                if remaining <= 0 or (self.process.poll() is not None
                                      and not self._reader.is_alive()):
                    return None
                self._changed.wait(min(remaining, 0.2))

    def stop(self, wait=30):
        """SIGTERM, then SIGKILL by pid when it does not end in time; its exit status."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(wait)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(10)
        self._reader.join(10)
        return self.process.returncode


class IPad:
    """One iPad connection that has exchanged hellos."""

    def __init__(self, port, name, timeout=60):
        self.socket = socket.create_connection(("127.0.0.1", port), timeout=timeout)
        self.receive()
        self.send({"type": "hello", "body": {"role": "tessaro", "protocolVersion": 1,
                                              "peerID": name, "displayName": name,
                                              "capabilities": ["osc", "midi"]}})

    def send(self, message):
        text = json.dumps(message, separators=(",", ":")).encode()
        self.socket.sendall(struct.pack(">I", len(text)) + text)

    def send_command(self, command_id, address):
        self.send({"type": "command", "body": {"id": command_id,
                                                "payload": {"type": "osc", "address": address}}})

    def _read(self, count):
        data = b""
        while len(data) < count:
            chunk = self.socket.recv(count - len(data))
            if not chunk:
                raise ConnectionError("the bridge closed the connection")
            data += chunk
        return data

    def receive(self):
        (length,) = struct.unpack(">I", self._read(4))
        return json.loads(self._read(length))

    def receive_acknowledgement(self):
        message = self.receive()
        if message.get("type") != "acknowledgement":
            raise ConnectionError(f"expected an acknowledgement, got {message}")
        return message["body"]

    def close(self):
        self.socket.close()


class Receiver:
    """Counts the OSC datagrams per address on a port of 127.0.0.1; calls
    on_datagram(address, arrival time) for each."""

    def __init__(self, on_datagram=None):
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.socket.bind(("127.0.0.1", 0))
        self.socket.settimeout(0.1)
        self.port = self.socket.getsockname()[1]
        self.on_datagram = on_datagram
        self._lock = threading.Lock()
        self._counts = {}
        self._stopping = False
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        while not self._stopping:
            try:
                datagram = self.socket.recv(65536)
            except socket.timeout:
                continue
            arrival = time.monotonic()
            address = datagram.split(b"\0", 1)[0].decode("utf-8", "replace")
            with self._lock:
                self._counts[address] = self._counts.get(address, 0) + 1
            if self.on_datagram:
                self.on_datagram(address, arrival)

    def take_counts(self):
        """The counts so far, and a fresh start."""
        with self._lock:
            counts, self._counts = self._counts, {}
            return counts

    def close(self):
        self._stopping = True
        self._thread.join(5)
        self.socket.close()


def new_command_id():
    return str(uuid.uuid4()).upper()


def send_from_ipads(port, commands, ipads, before_send, after_answer, in_flight=1):
    """Each iPad sends its share of the commands, `in_flight` at a time, and waits
    for their answers, which must come in order; all iPads at once."""
    failures = []

    def one(index):
        share = commands[index::ipads]
        try:
            ipad = IPad(port, f"power-loss-ipad-{index}")
            for start in range(0, len(share), in_flight):
                burst = share[start:start + in_flight]
                for command_id, address in burst:
                    before_send(command_id)
                    ipad.send_command(command_id, address)
                for command_id, _ in burst:
                    answer = ipad.receive_acknowledgement()
                    if answer["commandID"] != command_id:
                        raise ConnectionError(f"answer for {answer['commandID']} where "
                                              f"{command_id} was due")
                    after_answer(command_id, answer)
            ipad.close()
        except (OSError, ConnectionError, ValueError) as error:
            failures.append(f"iPad {index}: {error}")

    threads = [threading.Thread(target=one, args=(n,)) for n in range(ipads)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return failures
