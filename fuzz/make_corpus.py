#!/usr/bin/env python3
"""Writes the seed corpora below fuzz/corpus/, one folder per fuzz target: a few
small valid inputs and a few that are wrong in one field. Run it again after a
file format changes."""

import hashlib
import json
import pathlib
import struct

CORPUS = pathlib.Path(__file__).resolve().parent / "corpus"

LEDGER_ID = "6F9619FF-8B86-D011-B42D-00C04FC964FF"
OTHER_ID = "0B1C2D3E-4F5A-4B6C-8D7E-9F0A1B2C3D4E"
COMMAND_IDS = ["8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B", "4D3C2B1A-9F8E-4D7C-8B6A-5F4E3D2C1B0A"]

MESSAGES = [
    '{"type":"hello","body":{"role":"tessaro","protocolVersion":1,"peerID":"ipad-stage-left",'
    '"displayName":"Stage Left iPad","capabilities":["midi","osc","agentAPI"]}}',
    '{"type":"command","body":{"id":"8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B",'
    '"payload":{"type":"midi","bytes":[144,60,100]}}}',
    '{"type":"command","body":{"id":"8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B",'
    '"payload":{"type":"osc","address":"/cue/12/go"}}}',
    '{"type":"acknowledgement","body":{"commandID":"8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B",'
    '"status":"duplicate","detail":"This command has already been performed."}}',
    '{"type":"agentRequest","body":{"requestID":"4D3C2B1A-9F8E-4D7C-8B6A-5F4E3D2C1B0A",'
    '"operation":"execute","targetPeerID":"ipad-2","payload":"AQID"}}',
    '{"type":"agentResponse","body":{"requestID":"4D3C2B1A-9F8E-4D7C-8B6A-5F4E3D2C1B0A",'
    '"status":"rejected","payload":"","detail":"No iPad."}}',
    '{"type":"hello","body":{"role":"bridge","protocolVersion":2,"peerID":"a","displayName":"b",'
    '"capabilities":["osc"]}}',
    '{"type":"command","body":{"id":"8E6F2C1A-5B3D-4E7F-9A0B-1C2D3E4F5A6B",'
    '"payload":{"type":"midi","bytes":[144,60]}}}',
]


def frame(text):
    data = text.encode()
    return struct.pack(">I", len(data)) + data


def filter_bits(identifiers, bit_count, hash_count):
    bits = bytearray(bit_count // 8)
    for identifier in identifiers:
        digest = hashlib.sha256(identifier.upper().encode()).digest()
        h1 = int.from_bytes(digest[0:8], "big")
        h2 = int.from_bytes(digest[8:16], "big") | 1
        x = h1
        for _ in range(hash_count):
            index = x % bit_count
            bits[index // 8] |= 1 << (index % 8)
            x = (x + h2) % (1 << 64)
    return bytes(bits)


def tombstone_body(ledger_id, identifiers, bit_count=64, hash_count=3, maximum=8, version=1,
                   count=None):
    bits = filter_bits(identifiers, bit_count, hash_count)
    count = len(identifiers) if count is None else count
    return (b"TSCLTB01" + struct.pack(">I", version) + ledger_id.encode()
            + struct.pack(">QIQQQ", bit_count, hash_count, maximum, count, len(bits)) + bits)


def with_digest(body):
    return body + hashlib.sha256(body).digest()


def ledger_file(ledger_id, entries, minimum=None):
    payload = {
        "entries": [{"id": i, "state": s} for i, s in entries],
        "ledgerID": ledger_id,
        "minimumTombstoneInsertionCount": len(entries) if minimum is None else minimum,
        "schemaVersion": 3,
        "tombstoneFormatVersion": 1,
    }
    canonical = json.dumps(payload, separators=(",", ":"), sort_keys=True)
    payload["checksum"] = hashlib.sha256(canonical.encode()).hexdigest()
    return (json.dumps(payload, indent=2, sort_keys=True) + "\n").encode()


def ledger_input(flags, maximum_entries, ledger, tombstones):
    return bytes([flags, maximum_entries - 1]) + struct.pack(">H", len(ledger)) + ledger + tombstones


def write(target, seeds):
    folder = CORPUS / target
    folder.mkdir(parents=True, exist_ok=True)
    for old in folder.iterdir():
        old.unlink()
    for name, data in seeds.items():
        (folder / name).write_bytes(data)


def main():
    write("message_decoding_fuzz", {f"message-{n}": m.encode() for n, m in enumerate(MESSAGES)})

    frames = [frame(m) for m in MESSAGES]
    write("frame_decoder_fuzz", {
        # 0: the whole rest in one chunk.
        "two-frames": b"\x00" + frames[0] + frames[1],
        "byte-by-byte": b"".join(b"\x01" + bytes([c]) for c in frames[2]),
        "split-header": b"\x03" + frames[3][:3] + b"\x00" + frames[3][3:],
        "oversized-length": b"\x00" + struct.pack(">I", 0x10001) + b"{}",
        "empty-payload": b"\x00" + struct.pack(">I", 0),
    })

    entries = [(COMMAND_IDS[0], "executed"), (COMMAND_IDS[1], "accepted")]
    ids = [i for i, _ in entries]
    # A first byte of 1 makes the target append the digest itself.
    write("tombstone_decoding_fuzz", {
        "valid": b"\x00" + with_digest(tombstone_body(LEDGER_ID, ids)),
        "valid-body": b"\x01" + tombstone_body(LEDGER_ID, ids),
        "lower-case-id": b"\x01" + tombstone_body(LEDGER_ID.lower(), ids),
        "version-2": b"\x01" + tombstone_body(LEDGER_ID, ids, version=2),
        "count-above-maximum": b"\x01" + tombstone_body(LEDGER_ID, ids, count=9),
        "bad-digest": b"\x00" + tombstone_body(LEDGER_ID, ids) + bytes(32),
    })

    current = ledger_file(LEDGER_ID, entries)
    body = tombstone_body(LEDGER_ID, ids)
    legacy1 = json.dumps({"formatVersion": 1, "executedCommandIDs": ids}).encode()
    legacy2 = json.dumps({"formatVersion": 2, "entries": [
        {"id": i, "state": s} for i, s in entries]}).encode()
    # Flags: 1 no ledger file, 2 no tombstone file, 4 append the tombstone digest.
    write("ledger_loading_fuzz", {
        "current": ledger_input(0, 8, current, with_digest(body)),
        "current-body": ledger_input(4, 8, current, body),
        "current-empty": ledger_input(4, 8, ledger_file(LEDGER_ID, []),
                                      tombstone_body(LEDGER_ID, [])),
        "current-limit-1": ledger_input(4, 1, current, body),
        "other-ledger-id": ledger_input(4, 8, current, tombstone_body(OTHER_ID, ids)),
        "minimum-above-count": ledger_input(4, 8, ledger_file(LEDGER_ID, entries, minimum=3), body),
        "legacy-1": ledger_input(2, 8, legacy1, b""),
        "legacy-2": ledger_input(2, 1, legacy2, b""),
        "legacy-beside-tombstones": ledger_input(4, 8, legacy2, body),
        "tombstones-alone": ledger_input(5, 8, b"", body),
        "no-files": ledger_input(3, 8, b"", b""),
    })


if __name__ == "__main__":
    main()
