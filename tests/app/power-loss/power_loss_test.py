#!/usr/bin/env python3
"""The power-loss harness's own judgement, on made-up outcomes: which answers at a
crash point keep the promise and which break it; which log entries are crash
points; which files make a state of the ledger."""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import bridge_peers as peers  # noqa: E402
import log_writes  # noqa: E402
import power_loss  # noqa: E402
from log_writes_test import entry, log_bytes, sectors_of  # noqa: E402

ACCEPTED = {"status": "accepted"}
DUPLICATE = {"status": "duplicate", "detail": "This command has already been performed."}
UNCERTAIN = {"status": "rejected", "detail": peers.UNCERTAIN}
STORAGE = {"status": "rejected", "detail": peers.STORAGE_FAILED}


class Recording:
    commands = [("A", "/a")]


def judged(answer, datagrams, marks, before_first_ack=False, refusal=None):
    """The verdicts for command A at one point, with the given marks before it."""
    outcome = power_loss.Outcome()
    outcome.refusal = refusal
    outcome.answers["A"] = (answer, datagrams)
    acked = {"A"} if "ack" in marks else set()
    sent = {"A"} if "sent" in marks else set()
    verdicts = power_loss.Verdicts()
    power_loss.judge(power_loss.Point(9, {"flush"}), ({"A": 0}, acked, sent, before_first_ack),
                     outcome, verdicts, Recording())
    return verdicts


class JudgeTest(unittest.TestCase):
    def test_which_answers_keep_the_promise(self):
        cases = [  # answer, datagrams at the reboot, marks before the point, lost, doubled, ok
            (DUPLICATE, 0, {"ack", "sent"}, 0, 0, True),
            (UNCERTAIN, 0, {"ack", "sent"}, 1, 0, False),
            (ACCEPTED, 1, {"ack", "sent"}, 1, 1, False),
            (UNCERTAIN, 0, {"sent"}, 0, 0, True),
            (ACCEPTED, 1, {"sent"}, 0, 1, False),
            (ACCEPTED, 1, set(), 0, 0, True),
            (DUPLICATE, 0, set(), 0, 0, True),
            (UNCERTAIN, 0, set(), 0, 0, True),
            (ACCEPTED, 2, set(), 0, 1, False),
            (ACCEPTED, 0, set(), 0, 0, False),
            (STORAGE, 0, set(), 0, 0, False),
            ({}, 0, set(), 0, 0, False),
        ]
        for answer, datagrams, marks, lost, doubled, ok in cases:
            with self.subTest(answer=answer, datagrams=datagrams, marks=marks):
                verdicts = judged(answer, datagrams, marks)
                self.assertEqual(verdicts.acknowledged_lost, lost)
                self.assertEqual(verdicts.duplicates_executed, doubled)
                self.assertEqual(not verdicts.violations, ok, verdicts.violations)

    def test_a_ledger_refused_before_the_first_acknowledgement_needs_attention(self):
        early = judged({}, 0, set(), before_first_ack=True, refusal="needs attention")
        self.assertEqual((early.needs_attention, early.violations, early.started), ([9], [], 0))
        late = judged({}, 0, set(), before_first_ack=False, refusal="needs attention")
        self.assertEqual(late.needs_attention, [])
        self.assertEqual(len(late.violations), 1)
        failed = judged({}, 0, set(), before_first_ack=True, refusal="did not start:\nno")
        self.assertEqual(len(failed.violations), 1)


class CrashPointTest(unittest.TestCase):
    def test_every_flush_and_fua_write_and_chosen_writes_between(self):
        history = [entry(0, 0, sectors_of(1)), entry(1, 0, sectors_of(1)),
                   entry(0, log_writes.FLUSH), entry(0, 0, mark="ack-A"),
                   entry(2, log_writes.FUA, sectors_of(2)),
                   entry(3, log_writes.FLUSH | log_writes.FUA, sectors_of(3)),
                   entry(1, 0, sectors_of(4))]
        with tempfile.NamedTemporaryFile() as file:
            file.write(log_bytes(history))
            file.flush()
            log = log_writes.Log(file.name)
        points = power_loss.crash_points(log, 0, seed=1)
        self.assertEqual([(p.entry, p.kinds) for p in points],
                         [(2, {"flush"}), (4, {"fua"}), (5, {"flush"})])
        every = power_loss.crash_points(log, 10, seed=1)
        self.assertEqual([p.entry for p in every if "random" in p.kinds], [0, 1, 6])


class FolderDigestTest(unittest.TestCase):
    def test_the_state_is_every_file_but_interrupted_saves(self):
        with tempfile.TemporaryDirectory() as folder:
            ledger = os.path.join(folder, "TessaroBridge")
            os.makedirs(ledger)
            with open(os.path.join(ledger, "command-ledger.json"), "w") as file:
                file.write("{}")
            empty = power_loss.folder_digest(folder)
            stray = ".command-ledger.json.0F5B7C1A-2D3E-4F50-8A9B-C0D1E2F3A4B5.tmp"
            with open(os.path.join(ledger, stray), "w") as file:
                file.write("half")
            self.assertEqual(power_loss.folder_digest(folder), empty)
            with open(os.path.join(ledger, "command-ledger.json"), "w") as file:
                file.write("{ }")
            self.assertNotEqual(power_loss.folder_digest(folder), empty)
            os.rename(os.path.join(ledger, "command-ledger.json"),
                      os.path.join(ledger, "command-ledger.json.old"))
            self.assertNotEqual(power_loss.folder_digest(folder), empty)


if __name__ == "__main__":
    unittest.main()
