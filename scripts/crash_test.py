#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Kills `kalivor-cli run --simulate` with SIGKILL at random moments and checks the records.

Each trial runs both built-in simulated meters "By Pressing Stop Button" with a short scan
interval, each logging into its own record, and kills the program at a random moment: mostly
while it stores scans, sometimes while it finds and sets up the meters or opens the records.
After every kill, before anything opens the records again:
  - PRAGMA integrity_check is "ok" for every record,
  - NUM runs 1..n in stored order, without gaps or doubles (the raw values: a run's opening
    would renumber them),
  - every scan the program printed is in its record, with the same time stamp and readings,
    and at most one scan more is stored than was printed (the one being stored at the kill).
At the end every lane runs once more and is stopped with SIGTERM: the run must end cleanly and
append after what the killed runs left.

Trials run in lanes side by side (each lane its own data folder), as the program mostly waits
for the simulated meters.
"""
import argparse
import os
import random
import re
import signal
import sqlite3
import subprocess
import sys
import tempfile
import threading
import traceback
import time

SCAN_LINE = re.compile(r"^(\d+)\t(\d+)\t([^\t]*)((?:\t[^\t]*)*)$")


def make_setups(cli, folder):
    """Templates of both meters, turned into short runs on three channels until Stop."""
    paths = []
    for n in (1, 2):
        path = os.path.join(folder, "meter%d.ini" % n)
        subprocess.run([cli, "setup", "--simulate", "--template", str(n), path], check=True,
                       stdout=subprocess.DEVNULL)
        with open(path, newline="") as f:
            text = f.read()
        text = re.sub(r"scanCount_Status=[^\r\n]*", "scanCount_Status=2", text)
        text = re.sub(r"ScanTime=[^\r\n]*", "ScanTime=0.1", text)
        text = re.sub(r"EnableChannel\((\d+)\)=[^\r\n]*",
                      lambda m: "EnableChannel(%s)=%d" % (m.group(1), int(int(m.group(1)) < 3)), text)
        with open(path, "w", newline="") as f:
            f.write(text)
        paths.append(path)
    return paths


def read_record(path):
    """Rows (NUM, Time, CH1..CH20) in stored order and the integrity check, without renumbering."""
    db = sqlite3.connect(path, timeout=5, isolation_level=None)
    try:
        integrity = "; ".join(r[0] for r in db.execute("PRAGMA integrity_check"))
        cols = ", ".join(["NUM", "Time"] + ["CH%d" % c for c in range(1, 21)])
        rows = db.execute("SELECT %s FROM DATA ORDER BY rowid" % cols).fetchall()
    finally:
        db.close()
    return integrity, rows


class Lane:
    def __init__(self, index, cli, setups, root, rng, log):
        self.index = index
        self.cli = cli
        self.setups = setups
        self.data = os.path.join(root, "lane%d" % index)
        self.rng = rng
        self.log = log
        self.rows = [0, 0]  # rows of Record1, Record2 after the last check
        self.failures = []
        self.killed_storing = 0
        self.killed_starting = 0
        self.scans_printed = 0

    def record(self, slot):
        return os.path.join(self.data, "db", "Record%d.mdb" % (slot + 1))

    def start(self):
        cmd = [self.cli, "run", "--simulate", "--data-dir", self.data]
        for slot, setup in enumerate(self.setups):
            cmd += ["--use", "%d:%s:Record%d" % (slot + 1, setup, slot + 1)]
        proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                bufsize=1)
        out = {"lines": [], "first_scan": threading.Event(), "stderr": ""}

        def reader():
            for line in proc.stdout:
                out["lines"].append(line.rstrip("\n"))
                if SCAN_LINE.match(line.rstrip("\n")):
                    out["first_scan"].set()

        def err_reader():
            out["stderr"] = proc.stderr.read()

        threads = [threading.Thread(target=reader, daemon=True),
                   threading.Thread(target=err_reader, daemon=True)]
        for t in threads:
            t.start()
        return proc, out, threads

    def check(self, trial, lines, what):
        printed = [{}, {}]
        for line in lines:
            m = SCAN_LINE.match(line)
            if not m:
                continue
            # Instruments are numbered as --use numbers them (from 1); the lanes use 1 and 2.
            slot, n = int(m.group(1)) - 1, int(m.group(2))
            if slot not in (0, 1):
                self.fail(trial, "scan line of an instrument not used: %r" % line)
                continue
            readings = {}
            for field in m.group(4).split("\t")[1:]:
                name, _, value = field.partition("=")
                readings[int(name[2:])] = value
            if n in printed[slot]:
                self.fail(trial, "scan %d of slot %d printed twice" % (n, slot))
            printed[slot][n] = (m.group(3), readings)
        for slot in (0, 1):
            self.scans_printed += len(printed[slot])
            path = self.record(slot)
            if not os.path.exists(path):
                if printed[slot]:
                    self.fail(trial, "%s: scans printed but no record" % path)
                continue
            try:
                integrity, rows = read_record(path)
            except sqlite3.Error as e:
                self.fail(trial, "%s: cannot be read after %s: %s" % (path, what, e))
                continue
            if integrity != "ok":
                self.fail(trial, "%s: integrity check says %s" % (path, integrity))
            nums = [r[0] for r in rows]
            if nums != [str(i) for i in range(1, len(rows) + 1)]:
                self.fail(trial, "%s: NUM is not 1..%d in stored order: %s" %
                          (path, len(rows), summarize(nums)))
            before = self.rows[slot]
            got = sorted(printed[slot])
            if got != list(range(1, len(got) + 1)):
                self.fail(trial, "slot %d printed scans %s, not 1..%d" % (slot, summarize(got), len(got)))
            if len(rows) < before + len(got):
                self.fail(trial, "%s: %d rows, but %d before and %d printed since" %
                          (path, len(rows), before, len(got)))
            elif len(rows) > before + len(got) + 1:
                self.fail(trial, "%s: %d rows, more than the %d before, %d printed and one being "
                          "stored" % (path, len(rows), before, len(got)))
            for n, (stamp, readings) in printed[slot].items():
                if before + n - 1 >= len(rows):
                    continue
                row = rows[before + n - 1]
                if row[1] != stamp:
                    self.fail(trial, "%s row %d: time %r, printed %r" % (path, before + n, row[1], stamp))
                for channel, value in readings.items():
                    if row[1 + channel] != value:
                        self.fail(trial, "%s row %d CH%d: %r, printed %r" %
                                  (path, before + n, channel, row[1 + channel], value))
            self.rows[slot] = len(rows)

    def fail(self, trial, text):
        self.failures.append("lane %d trial %d: %s" % (self.index, trial, text))

    def trial(self, trial, startup_s):
        proc, out, threads = self.start()
        storing = self.rng.random() < 0.8
        t0 = time.monotonic()
        if storing:
            # While scans are being stored: some time after the first one.
            if not out["first_scan"].wait(timeout=max(60.0, 4 * startup_s)):
                self.fail(trial, "no scan stored within a minute")
            time.sleep(self.rng.uniform(0.0, 1.5))
        else:
            # Anywhere in finding, setting up, creating and opening the records.
            time.sleep(self.rng.uniform(0.0, startup_s * 1.1))
        if proc.poll() is not None:
            for t in threads:
                t.join(timeout=10)
            self.fail(trial, "the run ended by itself (exit %s): %s" %
                      (proc.returncode, out["stderr"].strip()[:300]))
        else:
            proc.send_signal(signal.SIGKILL)
            proc.wait()
            for t in threads:
                t.join(timeout=10)
        if out["first_scan"].is_set():
            self.killed_storing += 1
        else:
            self.killed_starting += 1
        self.check(trial, out["lines"], "a kill after %.2f s" % (time.monotonic() - t0))

    def final_run(self):
        """A run after all the kills, stopped as the user would: it must end cleanly."""
        proc, out, threads = self.start()
        if not out["first_scan"].wait(timeout=60):
            self.fail(-1, "final run stored no scan: %s" % out["stderr"][:300])
        time.sleep(0.5)
        proc.send_signal(signal.SIGTERM)
        try:
            code = proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            proc.kill()
            code = "hung"
        for t in threads:
            t.join(timeout=10)
        if code != 0:
            self.fail(-1, "final run stopped by SIGTERM exited %s: %s" % (code, out["stderr"].strip()[:300]))
        if "End of Job." not in out["stderr"].splitlines():
            self.fail(-1, "final run did not say End of Job.")
        # A clean end leaves no companion files beside the records.
        for slot in (0, 1):
            for suffix in ("-wal", "-shm", "-lock"):
                if os.path.exists(self.record(slot) + suffix):
                    self.fail(-1, "final run left %s" % (self.record(slot) + suffix))
        self.check(-1, out["lines"], "the final run")


def summarize(values):
    values = list(values)
    return str(values) if len(values) <= 12 else "%s ... %s" % (values[:6], values[-6:])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", required=True)
    parser.add_argument("--trials", type=int, default=30)
    parser.add_argument("--lanes", type=int, default=3)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--keep", action="store_true", help="keep the data folders")
    args = parser.parse_args()
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    print("crash test: %d trials in %d lanes, seed %d" % (args.trials, args.lanes, seed), flush=True)

    root = tempfile.mkdtemp(prefix="kalivor-crash-")
    started = time.monotonic()
    setups = make_setups(args.cli, root)

    # How long finding and setting up takes here, so early kills spread over all of it.
    t0 = time.monotonic()
    probe = Lane(99, args.cli, setups, root, random.Random(seed), None)
    proc, out, threads = probe.start()
    out["first_scan"].wait(timeout=120)
    startup_s = time.monotonic() - t0
    proc.send_signal(signal.SIGTERM)
    proc.wait()

    lanes = [Lane(i, args.cli, setups, root, random.Random(seed + i), None) for i in range(args.lanes)]
    counts = [args.trials // args.lanes + (1 if i < args.trials % args.lanes else 0) for i in range(args.lanes)]

    def work(lane, count):
        # A lane that breaks down is a failure of the test, not a silent "ok".
        try:
            for trial in range(count):
                lane.trial(trial, startup_s)
            lane.final_run()
        except Exception:
            lane.failures.append("lane %d stopped: %s" % (lane.index, traceback.format_exc()))

    workers = [threading.Thread(target=work, args=(lane, count)) for lane, count in zip(lanes, counts)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()

    failures = [f for lane in lanes for f in lane.failures]
    storing = sum(l.killed_storing for l in lanes)
    starting = sum(l.killed_starting for l in lanes)
    printed = sum(l.scans_printed for l in lanes)
    rows = sum(sum(l.rows) for l in lanes)
    print("crash test: %d kills (%d while storing scans, %d while starting), %d scans printed, "
          "%d rows in the records, %.0f s (start-up %.1f s)" %
          (storing + starting, storing, starting, printed, rows, time.monotonic() - started, startup_s))
    if not args.keep:
        subprocess.run(["rm", "-rf", root])
    else:
        print("crash test: data kept in " + root)
    if storing and not printed:
        failures.append("runs were killed while storing scans, but no scan line was read: "
                        "nothing was checked")
    if failures:
        print("crash test: FAILED, seed %d" % seed)
        for f in failures[:40]:
            print("  " + f)
        return 1
    print("crash test: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
