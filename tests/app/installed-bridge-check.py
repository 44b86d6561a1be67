#!/usr/bin/env python3
"""Runs an installed bridge the way a service would and proves it serves an iPad:
    installed-bridge-check.py BINARY

BINARY starts headless on JACK with a fresh home in a temporary folder. Once its log says
it is ready, a peer says hello on the iPad port and sends one OSC command; the command must
be accepted and its datagram reach a UDP receiver on 127.0.0.1. Then SIGTERM must stop the
bridge with status 0. Every wait is bounded; the bridge is stopped by its pid whatever
happens. Uses only the standard library, so that it checks the package, not the build tree.
"""

import json
import os
import re
import select
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import uuid

READY_WITHIN = 20.0
ANSWER_WITHIN = 10.0
STOP_WITHIN = 10.0
ADDRESS = "/package/check/go"
READY_LINE = re.compile(r"Server status: Beschikbaar via wifi \(TCP (\d+)\)")


def fail(message, log=""):
    print("installed-bridge-check: " + message, file=sys.stderr)
    if log:
        print("".join("  | " + line + "\n" for line in log.splitlines()), file=sys.stderr, end="")
    sys.exit(1)


def frame(message):
    payload = json.dumps(message).encode("utf-8")
    return struct.pack(">I", len(payload)) + payload


def read_exactly(connection, count, deadline):
    data = b""
    while len(data) < count:
        connection.settimeout(max(0.01, deadline - time.monotonic()))
        chunk = connection.recv(count - len(data))
        if not chunk:
            raise ConnectionError("the bridge closed the connection")
        data += chunk
    return data


def read_frame(connection, deadline):
    (length,) = struct.unpack(">I", read_exactly(connection, 4, deadline))
    return json.loads(read_exactly(connection, length, deadline).decode("utf-8"))


def osc_string(text):
    encoded = text.encode("utf-8") + b"\0"
    return encoded + b"\0" * (-len(encoded) % 4)


class Bridge:
    """The bridge process and what it has written to standard error so far."""

    def __init__(self, binary, home):
        environment = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": home,
            "XDG_CONFIG_HOME": os.path.join(home, ".config"),
            "XDG_DATA_HOME": os.path.join(home, ".local", "share"),
        }
        # Where the JACK server and the system bus are, when the caller moved them.
        for name, value in os.environ.items():
            if name.startswith("JACK_") or name == "DBUS_SYSTEM_BUS_ADDRESS":
                environment[name] = value
        self.process = subprocess.Popen(
            [binary, "--headless", "--midi=jack"],
            env=environment,
            stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE,
        )
        self.log = ""

    def read_log(self, timeout):
        ready, _, _ = select.select([self.process.stderr], [], [], timeout)
        if ready:
            chunk = os.read(self.process.stderr.fileno(), 65536)
            self.log += chunk.decode("utf-8", "replace")
            return bool(chunk)
        return True

    def wait_for_port(self):
        deadline = time.monotonic() + READY_WITHIN
        while time.monotonic() < deadline:
            found = READY_LINE.search(self.log)
            if found:
                return int(found.group(1))
            if not self.read_log(0.2) and self.process.poll() is not None:
                break
        fail("the bridge did not become ready", self.log)

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        deadline = time.monotonic() + STOP_WITHIN
        while self.process.poll() is None and time.monotonic() < deadline:
            self.read_log(0.1)
        if self.process.poll() is None:
            self.kill()
            fail("the bridge did not stop within %d s of SIGTERM" % STOP_WITHIN, self.log)
        self.log += self.process.stderr.read().decode("utf-8", "replace")
        return self.process.returncode

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


def exchange(port, receiver):
    deadline = time.monotonic() + ANSWER_WITHIN
    command_id = str(uuid.uuid4()).upper()
    with socket.create_connection(("127.0.0.1", port), timeout=ANSWER_WITHIN) as connection:
        connection.sendall(frame({"type": "hello", "body": {
            "role": "tessaro", "protocolVersion": 1, "peerID": "package-check",
            "displayName": "Package check", "capabilities": ["osc"]}}))
        hello = read_frame(connection, deadline)
        if hello.get("type") != "hello" or hello["body"].get("role") != "bridge":
            fail("expected the bridge's hello, got %r" % hello)
        connection.sendall(frame({"type": "command", "body": {
            "id": command_id, "payload": {"type": "osc", "address": ADDRESS}}}))
        answer = read_frame(connection, deadline)
    expected = {"type": "acknowledgement", "body": {"commandID": command_id, "status": "accepted"}}
    if answer != expected:
        fail("expected %r, got %r" % (expected, answer))
    receiver.settimeout(max(0.01, deadline - time.monotonic()))
    try:
        datagram = receiver.recv(65536)
    except socket.timeout:
        fail("no OSC datagram arrived")
    if datagram != osc_string(ADDRESS) + osc_string(","):
        fail("unexpected OSC datagram %r" % datagram)


def main():
    if len(sys.argv) != 2:
        fail("usage: installed-bridge-check.py BINARY")
    with tempfile.TemporaryDirectory(prefix="varnello-installed-") as home, \
            socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as receiver:
        receiver.bind(("127.0.0.1", 0))
        preferences = os.path.join(home, ".config", "TessaroBridge", "preferences.json")
        os.makedirs(os.path.dirname(preferences))
        with open(preferences, "w", encoding="utf-8") as file:
            json.dump({"oscForwardingHost": "127.0.0.1",
                       "oscForwardingPort": receiver.getsockname()[1]}, file)
        bridge = Bridge(sys.argv[1], home)
        try:
            port = bridge.wait_for_port()
            try:
                exchange(port, receiver)
            except (OSError, ValueError, KeyError) as error:
                fail("the exchange with the bridge failed: %s" % error, bridge.log)
            status = bridge.stop()
        finally:
            bridge.kill()
        if status != 0:
            fail("the bridge exited with status %s after SIGTERM" % status, bridge.log)
    print("installed bridge on TCP %d: ready, OSC command accepted and sent, exit 0 on SIGTERM"
          % port)


if __name__ == "__main__":
    main()
