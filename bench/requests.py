"""Counts the Wine server requests the stub makes for each entry it extracts and removes, against
CopyFileW and DeleteFileW of the same files: each program runs on N and on N + 100 files of
4 KiB, under a server that traces every request, and the requests of its own process (its threads
alone, not those of the services it wakes) are counted; the difference, divided by 100, is what one
entry costs, shown whole and by request. Run it through bench/requests, which builds and boots
the prefix."""

import argparse
import collections
import getpass
import os
import re
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

EXTRA = 100

# "0024: create_file( access=..." is a request of thread 0024; its reply reads "create_file() =".
REQUEST = re.compile(r"^([0-9a-f]{4,8}): (\w+)\( ")
# The first thread of a process, and the threads a process creates.
FIRST_THREAD = re.compile(r"^([0-9a-f]{4,8}): init_first_thread\(\) = \w+ \{ pid=([0-9a-f]+), "
                          r"tid=([0-9a-f]+)")
NEW_THREAD_REQUEST = re.compile(r"^([0-9a-f]{4,8}): new_thread\( process=(\w+)")
NEW_THREAD_REPLY = re.compile(r"^([0-9a-f]{4,8}): new_thread\(\) = \w+ \{ tid=([0-9a-f]+)")
NEW_PROCESS_REPLY = re.compile(r"^([0-9a-f]{4,8}): new_process\(\) = \w+ \{ info=\w+, "
                               r"pid=([0-9a-f]+)")


def requests_of_started_process(lines):
    """Requests by name of the process the Unix side started (the one no Windows process created
    with new_process): the program run, not what it or Wine starts."""
    created = set()
    pid_of = {}
    started = None
    pending = {}  # thread -> whether its new_thread is for its own process
    counts = collections.Counter()
    for line in lines:
        if match := NEW_PROCESS_REPLY.match(line):
            created.add(match.group(2))
        elif match := FIRST_THREAD.match(line):
            pid_of[match.group(3)] = match.group(2)
            if started is None and match.group(2) not in created:
                started = match.group(2)
        elif match := NEW_THREAD_REQUEST.match(line):
            pending[match.group(1)] = match.group(2) in ("ffffffff", "-1")
        elif match := NEW_THREAD_REPLY.match(line):
            if pending.pop(match.group(1), False) and match.group(1) in pid_of:
                pid_of[match.group(2)] = pid_of[match.group(1)]
        if match := REQUEST.match(line):
            thread = match.group(1)
            if started is not None and pid_of.get(thread) == started:
                counts[match.group(2)] += 1
    return counts


class Tracer:
    """A Wine server of the prefix's own that writes every request it serves to a file."""

    def __init__(self, wine, work):
        self.wine = wine
        self.trace = work / "server-trace"
        self.env = dict(os.environ)
        subprocess.run(["wineserver", "-k"], env=self.env, check=False,
                       stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env, check=False,
                       stderr=subprocess.DEVNULL)
        self.out = open(self.trace, "wb")
        self.server = subprocess.Popen(["wineserver", "-f", "-p", "-d1"], env=self.env,
                                       stderr=self.out, stdout=subprocess.DEVNULL)
        time.sleep(0.5)
        # Wine's services start with the first program of a server; they are up before a count.
        self.run(["cmd", "/c", "exit"])

    def run(self, command):
        subprocess.run([self.wine, *command], env=self.env, check=False, timeout=600,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def count(self, command):
        """The requests by name of one run of `command`."""
        self.out.flush()
        start = self.trace.stat().st_size
        self.run(command)
        time.sleep(0.2)  # the server writes its last lines after the process has gone
        with open(self.trace, "rb") as trace:
            trace.seek(start)
            text = trace.read().decode("utf-8", "replace")
        return requests_of_started_process(text.splitlines())

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, check=False,
                       stderr=subprocess.DEVNULL)
        self.server.wait()
        self.out.close()


def make_files(folder, count):
    folder.mkdir(parents=True)
    for i in range(count):
        (folder / f"file{i:05}.bin").write_bytes(os.urandom(4096))
    return sorted(folder.iterdir())


def windows_path(path):
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def per_entry(small, large):
    """Requests per entry by name, the most first, and in all."""
    names = set(small) | set(large)
    rows = [(name, (large[name] - small[name]) / EXTRA) for name in names]
    rows = [row for row in rows if row[1] != 0]
    rows.sort(key=lambda row: (-row[1], row[0]))
    return rows, (sum(large.values()) - sum(small.values())) / EXTRA


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    for name in ("stub", "stubpack", "copyfiles", "wine"):
        parser.add_argument(f"--{name}", required=True)
    parser.add_argument("--files", type=int, default=100, help="N, the smaller of the two runs")
    args = parser.parse_args()

    work = Path(tempfile.mkdtemp(prefix="unpack-requests-"))
    prefix = Path(os.environ["WINEPREFIX"])
    user_temp = prefix / "drive_c" / "users" / getpass.getuser() / "Temp"
    machine_temp = prefix / "drive_c" / "windows" / "temp"
    tracer = Tracer(args.wine, work)
    try:
        results = {}
        for count in (args.files, args.files + EXTRA):
            files = make_files(work / f"files{count}", count)
            packed = work / f"stub{count}.exe"
            subprocess.run([args.stubpack, "create", "--exit-code", "zero", "--stub", args.stub,
                            "--output", str(packed), *map(str, files)], check=True,
                           capture_output=True)
            # Named-file mode with a name the package does not hold: every entry is extracted,
            # checked and removed, and nothing is started.
            for temp in (user_temp, machine_temp):
                for folder in temp.glob("unpack*"):
                    shutil.rmtree(folder, ignore_errors=True)
            stub = tracer.count([str(packed), "absent.exe", "x"])
            log = user_temp / "unpack.log"
            text = log.read_bytes().decode("utf-16-le", "replace") if log.exists() else ""
            if f"UnPack total {count} files." not in text:
                raise SystemExit(f"the stub did not extract {count} files")
            log.unlink()
            copy = tracer.count([args.copyfiles, windows_path(work / f"files{count}"),
                                 "C:\\users\\" + getpass.getuser() + "\\Temp\\requests-copy"])
            results[count] = (stub, copy)
    finally:
        tracer.stop()
        shutil.rmtree(work, ignore_errors=True)

    small, large = results[args.files], results[args.files + EXTRA]
    print(f"Wine server requests per entry: runs on {args.files} and {args.files + EXTRA} files "
          f"of 4 KiB, the difference divided by {EXTRA}.")
    print()
    print("| Program | Requests per entry | Requests of the run, N files | N + 100 files |")
    print("|---|---|---|---|")
    for label, index in (("stub: extraction and removal", 0),
                         ("CopyFileW + DeleteFileW", 1)):
        _, total = per_entry(small[index], large[index])
        print(f"| {label} | {total:.2f} | {sum(small[index].values())} "
              f"| {sum(large[index].values())} |")
    for label, index in (("stub", 0), ("CopyFileW + DeleteFileW", 1)):
        rows, _ = per_entry(small[index], large[index])
        print()
        print(f"{label}, by request: " +
              ", ".join(f"{name} {value:g}" for name, value in rows))


if __name__ == "__main__":
    main()
