"""Prints the stub's figures under Wine as Markdown tables, each against its goal: extraction time
against a plain CopyFileW copy of the same bytes, the stub's own overhead around a tiny installer
and its parts, the image size and, on request, the memory a 1 GiB payload takes. Every time is
the median of several runs in one prefix, with the range of the runs beside it. Run it through
bench/run, which builds and boots the prefix."""

import argparse
import getpass
import os
import re
import shutil
import statistics
import subprocess
import tempfile
import sys
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "e2e"))
import package_writer  # noqa: E402

# The goals the figures are held to. Extraction reads and hashes every byte of the package, and
# the hashing runs beside the copy: on one large file it costs little, while on 64 MiB the
# process's start-up weighs more.
HUGE_RATIO_GOAL = 1.35
BIG_RATIO_GOAL = 1.5
MANY_RATIO_GOAL = 1.0
OVERHEAD_GOAL_S = 0.12
IMAGE_GOAL_BYTES = 262144

# Wine closes its desktop process a second after the last program attached to it has ended.
DESKTOP_CLOSE_WAIT_S = 1.5


def run_quietly(command, env, capture=False):
    return subprocess.run(command, env=env, check=False, timeout=1800,
                          stdout=subprocess.PIPE if capture else subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, text=True)


def wall_time(command, env):
    # A blocking wait: subprocess's wait with a time-out polls, up to 50 ms late, which would
    # round every figure up to a step of 50 ms. A timer kills a run that hangs instead.
    start = time.perf_counter()
    process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    watchdog = threading.Timer(1800, process.kill)
    watchdog.start()
    process.wait()
    elapsed = time.perf_counter() - start
    watchdog.cancel()
    return elapsed


class Sample:
    """The runs of one figure: median and range."""

    def __init__(self, values):
        self.values = sorted(values)
        self.median = statistics.median(self.values)

    def seconds(self):
        return (f"{self.median:.3f} s ({self.values[0]:.3f}–{self.values[-1]:.3f})")

    def millis(self):
        return (f"{self.median:.1f} ms ({self.values[0]:.1f}–{self.values[-1]:.1f})")


def interleaved(jobs, env, runs):
    """Times each (command, before) job `runs` times, taking turns, so that a slow spell of a
    shared machine falls on all of them alike."""
    times = [[] for _ in jobs]
    # One run of each first, untimed: the first run of a program in a fresh prefix can take
    # seconds longer, whatever the program does.
    for command, before in jobs:
        if before:
            before()
        wall_time(command, env)
    for _ in range(runs):
        for job, (command, before) in enumerate(jobs):
            if before:
                before()
            settle()
            times[job].append(wall_time(command, env))
    return [Sample(t) for t in times]


def settle():
    """Writes out what earlier runs left dirty in the page cache, so that no run pays for its
    predecessors' write-back (seconds, on a shared virtual disk)."""
    os.sync()


def write_package(out_path, image, files):
    """image + (header + payload)... + end marker + trailer, as the packing tool lays it out."""
    sizes = [Path(f).stat().st_size for f in files]
    tail = sum(package_writer.HEADER_SIZE + size for size in sizes)
    tail += len(package_writer.END_MARKER) + package_writer.HEADER_SIZE
    image += b"\0" * ((-(len(image) + tail)) % 8)
    with open(out_path, "wb") as out:
        out.write(image)
        total = 0
        for ordinal, (path, size) in enumerate(zip(files, sizes), start=2):
            total += size
            out.write(package_writer.header(len(files), ordinal, size, total, Path(path).name))
            with open(path, "rb") as payload:
                shutil.copyfileobj(payload, out, 1024 * 1024)
        out.write(package_writer.END_MARKER)
        out.write(package_writer.header(0, 1, len(image), len(image), Path(out_path).name))


def write_random(path, mib):
    """A file of `mib` MiB of random bytes, one MiB repeated."""
    with open(path, "wb") as out:
        chunk = os.urandom(1024 * 1024)
        for _ in range(mib):
            out.write(chunk)


def windows_path(path):
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def verdict(met):
    return "met" if met else "**not met**"


class Bench:
    def __init__(self, args):
        self.args = args
        self.env = dict(os.environ)
        prefix = Path(os.environ["WINEPREFIX"])
        self.temp = prefix / "drive_c" / "users" / getpass.getuser() / "Temp"
        # Where the elevated stub extracts (a build from before extracted into self.temp).
        self.machine_temp = prefix / "drive_c" / "windows" / "temp"
        self.work = Path(tempfile.mkdtemp(prefix="unpack-bench-"))
        # The stub timed, and with --baseline an earlier build timed beside it, run for run.
        self.stubs = [("", args.stub)]
        if args.baseline:
            self.stubs = [tuple(b.split("=", 1)) if "=" in b else ("before", b)
                          for b in args.baseline] + [("this build", args.stub)]

    def pack(self, name, files, stub, options=()):
        out = self.work / name
        done = subprocess.run([self.args.stubpack, "create", "--exit-code", "zero", *options,
                               "--stub", stub, "--output", str(out), *map(str, files)],
                              capture_output=True, text=True)
        if done.returncode != 0 and "reads no compressed payloads" in done.stderr:
            # A build from before compression, timed as a baseline: its files stored.
            return self.pack(name, files, stub, ("--store", *options))
        if done.returncode != 0 and "it has no settings record" in done.stderr:
            # A build from before the settings record, timed as a baseline: the same layout, written
            # by the tests' own writer, streamed so that a payload of a gigabyte is never held.
            write_package(out, Path(stub).read_bytes(), files)
        elif done.returncode != 0:
            raise SystemExit(f"stubpack create failed: {done.stderr}")
        return out

    def clear_extraction(self):
        for temp in (self.temp, self.machine_temp):
            for folder in temp.glob("unpack*"):
                if folder.is_dir():
                    shutil.rmtree(folder, ignore_errors=True)
        (self.temp / "unpack.log").unlink(missing_ok=True)

    def logged_total(self):
        log = self.temp / "unpack.log"
        text = log.read_bytes().decode("utf-16-le") if log.exists() else ""
        match = re.search(r"UnPack total (\d+) files\.", text)
        return int(match.group(1)) if match else -1

    def extraction_vs_copy(self, label, files, goal, sources=None, stubs=None, packed=None):
        """Extraction and removal of `files` (packed from `sources`, the files themselves unless
        given, or given `packed` as [(label, stub with its package)]) against CopyFileW of the
        same tree and its removal."""
        source = files[0].parent if sources is None else Path(sources[0]).parent
        if packed is None:
            stubs = stubs or self.stubs
            packed = [self.pack(f"{name}-{label.replace(' ', '-')}.exe", sources or files, stub)
                      for name, stub in stubs]
        else:
            stubs = [(name, None) for name, _ in packed]
            packed = [stub for _, stub in packed]
        copy = ([self.args.wine, self.args.copyfiles, windows_path(source),
                 "C:\\users\\" + getpass.getuser() + "\\Temp\\bench-copy"], None)
        # Named-file mode with a name the package does not hold: the stub extracts and checks
        # every file, starts nothing and removes what it extracted, as the copy removes its own.
        jobs = [([self.args.wine, str(stub), "absent.exe", "x"], self.clear_extraction)
                for stub in packed]
        *stub_times, copy_time = interleaved(jobs + [copy], self.env, self.args.runs)
        for stub in packed:
            self.clear_extraction()
            run_quietly([self.args.wine, str(stub), "absent.exe", "x"], self.env)
            if self.logged_total() != len(files):
                raise SystemExit(f"{label}: {stub.name} extracted {self.logged_total()} of "
                                 f"{len(files)}")
        self.clear_extraction()
        rows = []
        for (name, _), stub_time in zip(stubs, stub_times):
            ratio = stub_time.median / copy_time.median
            rows.append(f"| {label}{name and ', ' + name} | {stub_time.seconds()} "
                        f"| {copy_time.seconds()} | {ratio:.2f} "
                        + (f"| ≤ {goal} | {verdict(ratio <= goal)} |" if goal else "| — | |"))
        return "\n".join(rows)

    def compression(self, dlls):
        """Package sizes and packing times, compressed and stored, beside NSIS's, and extraction
        of each against CopyFileW: for the DLL set and for 64 MiB that does not compress."""
        # Each packed as a folder inside one of its own, which the copy copies.
        incompressible = self.work / "random" / "data"
        incompressible.mkdir(parents=True)
        # Random through and through: a MiB repeated would shrink in a compressor whose window
        # reaches back a MiB.
        with open(incompressible / "payload.bin", "wb") as out:
            for _ in range(64):
                out.write(os.urandom(1024 * 1024))
        sizes = ["| Files | Package | Bytes | Packing |", "|---|---|---|---|"]
        timing = ["| Workload | Stub | CopyFileW | Ratio | Goal | |", "|---|---|---|---|---|---|"]
        stub = self.args.stub
        for label, folder in (("100 DLLs", dlls), ("64 MiB of random bytes", incompressible)):
            total = sum(f.stat().st_size for f in folder.rglob("*") if f.is_file())
            sizes.append(f"| {label} | the files | {total:,} | — |")
            packed = []
            for how, options in (("compressed", ()), ("stored", ("--store",))):
                start = time.perf_counter()
                out = self.pack(f"{how}-{folder.name}.exe", [folder], stub, options)
                took = time.perf_counter() - start
                sizes.append(f"| {label} | this tool, {how} | {out.stat().st_size:,} "
                             f"| {took:.1f} s |")
                packed.append((how, out))
            for compressor in ("zlib", "lzma"):
                made = self.nsis(folder, compressor)
                if made:
                    sizes.append(f"| {label} | NSIS, {compressor} | {made[0]:,} "
                                 f"| {made[1]:.1f} s |")
            files = sorted(f for f in folder.rglob("*") if f.is_file())
            timing.append(self.extraction_vs_copy(label, files, None, sources=[folder],
                                                  packed=packed))
            for _, out in packed:
                out.unlink()
        shutil.rmtree(incompressible.parent, ignore_errors=True)
        return sizes + [""] + timing

    def nsis(self, folder, compressor):
        """The size of an NSIS installer holding `folder`, and the time makensis took; None
        without makensis."""
        if shutil.which("makensis") is None:
            return None
        script = self.work / f"nsis-{compressor}.nsi"
        out = self.work / f"nsis-{compressor}.exe"
        script.write_text(f"SetCompressor {compressor}\nOutFile \"{out}\"\n"
                          "RequestExecutionLevel user\nSection\nSetOutPath $TEMP\\nsis\n"
                          f"File /r \"{folder}/*\"\nSectionEnd\n")
        start = time.perf_counter()
        subprocess.run(["makensis", "-V1", str(script)], check=True, capture_output=True)
        took = time.perf_counter() - start
        size = out.stat().st_size
        out.unlink()
        return size, took

    def parts(self, installer):
        """Medians of the start-up pieces startparts.exe times inside its own process."""
        packed = self.pack("startparts-packed.exe", [installer], self.args.startparts)
        values = {}
        for run in range(self.args.runs + 1):
            self.clear_extraction()
            settle()
            out = run_quietly([self.args.wine, str(packed), "payload.exe", "--exit", "0"],
                              self.env, capture=True).stdout
            for name, value in re.findall(r"(\w+)=([0-9.]+)", out):
                if run > 0:  # the first is a warm-up, as in interleaved()
                    values.setdefault(name, []).append(float(value))
        self.clear_extraction()
        if not values:
            raise SystemExit("startparts.exe printed nothing")
        return {name: Sample(v) for name, v in values.items()}

    def overhead_rows(self, kind, built):
        """The stub around a do-nothing installer against that installer alone."""
        installer_dir = self.work / kind
        installer_dir.mkdir()
        installer = installer_dir / "payload.exe"
        shutil.copy(built, installer)
        jobs = [([self.args.wine, str(self.pack(f"{name}-{kind}.exe", [installer], stub)),
                  "payload.exe", "--exit", "0"], self.clear_extraction)
                for name, stub in self.stubs]
        jobs.append(([self.args.wine, str(installer), "--exit", "0"], None))
        *fulls, alone = interleaved(jobs, self.env, self.args.runs)
        self.clear_extraction()
        rows = []
        for (name, _), full in zip(self.stubs, fulls):
            rows.append(f"| stub run, do-nothing {kind} installer{name and ', ' + name} "
                        f"| {full.seconds()} | wall clock |")
        rows.append(f"| {kind} installer alone | {alone.seconds()} | wall clock |")
        for (name, _), full in zip(self.stubs, fulls):
            overhead = full.median - alone.median
            rows.append(f"| **overhead**, {kind} installer{name and ', ' + name} "
                        f"| **{overhead:.3f} s** "
                        f"(goal ≤ {OVERHEAD_GOAL_S} s: {verdict(overhead <= OVERHEAD_GOAL_S)}) "
                        "| the difference of the medians |")
        return rows, installer

    def overhead(self):
        rows = ["| Part | Median (range) | How |", "|---|---|---|"]
        console_rows, installer = self.overhead_rows("console", self.args.payload)
        windowless_rows, _ = self.overhead_rows("windowless", self.args.windowless_payload)
        rows += console_rows + windowless_rows
        empty, = interleaved([([self.args.wine, self.args.startparts], None)], self.env,
                             self.args.runs)
        parts = self.parts(installer)
        self.clear_extraction()
        rows += [
            f"| start and exit of the stub's image doing nothing | {empty.seconds()} "
            "| wall clock, startparts.exe without arguments |",
            f"| preloads (19 system libraries) | {parts['preloads'].millis()} "
            "| in process, startparts.exe |",
            f"| extraction of the installer | {parts['extraction'].millis()} | in process |",
            f"| launch (CreateProcessW until it returns) | {parts['launch'].millis()} "
            "| in process |",
            f"| wait (launch to the installer's end) | {parts['installer'].millis()} "
            "| in process |",
            f"| folder held after the console installer's end | {parts['held'].millis()} "
            "| in process, deletion tried every 1 ms: Wine's console host has it as its "
            "current folder |",
        ]
        return rows

    def memory(self):
        """A 1 GiB payload: the stub's time and peak working set, against a 64 MiB one."""
        rows = ["| Payload | Stub run | Peak working set |", "|---|---|---|"]
        for label, mib in (("64 MiB", 64), ("1 GiB", 1024)):
            folder = self.work / f"mem{mib}"
            folder.mkdir()
            payload = folder / "payload.bin"
            write_random(payload, mib)
            stub = self.pack(f"mem{mib}.exe", [payload], self.args.stub)
            payload.unlink()
            self.clear_extraction()
            settle()
            start = time.perf_counter()
            out = run_quietly([self.args.wine, self.args.peakmem, str(stub), "absent.exe", "x"],
                              self.env, capture=True).stdout
            elapsed = time.perf_counter() - start
            if self.logged_total() != 1:
                raise SystemExit(f"{label}: the stub did not extract the payload")
            stub.unlink()
            self.clear_extraction()
            match = re.search(r"peak_working_set=(\d+)", out)
            peak = int(match.group(1)) if match else 0
            shown = f"{peak / (1024 * 1024):.1f} MiB" if peak else "not reported"
            rows.append(f"| {label} | {elapsed:.2f} s | {shown} |")
        return rows

    def fresh_desktop_cost(self):
        """What a run pays when Wine has no desktop process up: desktop.exe timed a while after
        the last program has gone (Wine then has closed the desktop) against right after."""
        fresh, warm = [], []
        command = [self.args.wine, self.args.desktop]
        # The first window of a new prefix takes seconds more (Wine's font set-up), once.
        wall_time(command, self.env)
        for _ in range(self.args.runs):
            time.sleep(DESKTOP_CLOSE_WAIT_S)
            fresh.append(wall_time(command, self.env))
            warm.append(wall_time(command, self.env))
        return Sample(fresh).median - Sample(warm).median

    def hold_desktop(self):
        """Keeps Wine's desktop process up until the returned process is killed: Windows always
        has one, and a run that started one would time Wine rather than the stub."""
        holder = subprocess.Popen([self.args.wine, self.args.desktop, "--hold"], env=self.env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wall_time([self.args.wine, self.args.desktop], self.env)  # returns once it is up
        return holder

    def run(self):
        desktop_cost = self.fresh_desktop_cost()
        holder = self.hold_desktop()
        try:
            self.timed_tables(desktop_cost)
        finally:
            holder.kill()
            holder.wait()

    def timed_tables(self, desktop_cost):
        shipped = Path(self.args.shipped).stat().st_size
        which = ("the shipped i686 stub" if self.args.arch == "i686" else
                 "the 64-bit build (this host cannot run 32-bit programs)")
        timed = os.path.relpath(self.args.stub, Path(__file__).resolve().parent.parent)
        print(f"Timed: {which}, {timed}; "
              f"{'under Xvfb, Wine desktop up' if self.args.display else 'headless (no display)'}"
              f"; median of {self.args.runs} runs each, range in brackets.")
        print(f"Wine's desktop process is kept up while the runs are timed, as Windows always "
              f"has one; a run that has to start it pays {desktop_cost:.3f} s more.")
        print()

        big = self.work / "big"
        big.mkdir()
        (big / "payload.bin").write_bytes(os.urandom(64 * 1024 * 1024))
        huge = self.work / "huge"
        huge.mkdir()
        write_random(huge / "payload.bin", 1024)
        many = self.work / "many"
        many.mkdir()
        files = []
        for i in range(1000):
            path = many / f"file{i:04}.bin"
            path.write_bytes(os.urandom(4096))
            files.append(path)

        print("| Workload | Stub | CopyFileW | Ratio | Goal | |")
        print("|---|---|---|---|---|---|")
        print(self.extraction_vs_copy("one 1 GiB file", [huge / "payload.bin"], HUGE_RATIO_GOAL))
        (huge / "payload.bin").unlink()
        print(self.extraction_vs_copy("one 64 MiB file", [big / "payload.bin"], BIG_RATIO_GOAL))
        print(self.extraction_vs_copy("1,000 files of 4 KiB", files, MANY_RATIO_GOAL))
        # A tree: a build from before trees cannot hold one, and is left out.
        tree = self.work / "tree" / "data"
        tree_files = []
        for folder in range(100):
            (tree / f"folder{folder:03}").mkdir(parents=True)
            for i in range(30):
                path = tree / f"folder{folder:03}" / f"file{i:02}.bin"
                path.write_bytes(os.urandom(4096))
                tree_files.append(path)
        print(self.extraction_vs_copy("3,000 files of 4 KiB in 100 folders", tree_files,
                                      MANY_RATIO_GOAL, sources=[tree], stubs=self.stubs[-1:]))
        print()
        dlls = self.work / "dlls" / "bin"
        dlls.mkdir(parents=True)
        for dll in sorted(Path(self.args.dll_folder).glob("*.dll"))[:100]:
            shutil.copy(dll, dlls / dll.name)
        print("\n".join(self.compression(dlls)))
        shutil.rmtree(dlls, ignore_errors=True)
        print()
        print("\n".join(self.overhead()))
        print()
        for name, stub in self.stubs[:-1]:
            print(f"Image, {name}: {Path(stub).stat().st_size:,} bytes.")
        print(f"Image: {shipped:,} bytes, shipped i686 stub (goal ≤ {IMAGE_GOAL_BYTES:,}: "
              f"{verdict(shipped <= IMAGE_GOAL_BYTES)}).")
        if self.args.memory:
            print()
            print("\n".join(self.memory()))
        shutil.rmtree(self.work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    for name in ("stub", "shipped", "stubpack", "payload", "copyfiles", "startparts", "peakmem",
                 "windowless_payload", "desktop", "wine", "arch"):
        parser.add_argument(f"--{name.replace('_', '-')}", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--dll-folder", default="/usr/lib/x86_64-linux-gnu/wine/x86_64-windows",
                        help="the first 100 DLLs of this folder, by name, are the DLL set")
    parser.add_argument("--baseline", action="append", metavar="[LABEL=]FILE",
                        help="another build of the stub, timed beside --stub (repeatable)")
    parser.add_argument("--display", action="store_true", help="the prefix runs under Xvfb")
    parser.add_argument("--memory", action="store_true",
                        help="also extract a 1 GiB payload and report the peak working set")
    Bench(parser.parse_args()).run()


if __name__ == "__main__":
    main()
