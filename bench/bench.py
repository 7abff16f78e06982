"""Prints the stub's figures under Wine: extraction time against a plain CopyFileW copy of the
same bytes, and the stub's own overhead around a tiny installer. Every figure is the median of
several runs in one prefix. Run it through bench/run, which builds and boots the prefix."""

import argparse
import getpass
import os
import shutil
import statistics
import subprocess
import tempfile
import time
from pathlib import Path


def wall_time(command, env):
    start = time.perf_counter()
    subprocess.run(command, env=env, check=False, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=600)
    return time.perf_counter() - start


def median_time(command, env, runs, before=None):
    times = []
    for _ in range(runs):
        if before:
            before()
        times.append(wall_time(command, env))
    return statistics.median(times)


def windows_path(path):
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


class Bench:
    def __init__(self, args):
        self.args = args
        self.env = dict(os.environ)
        prefix = Path(os.environ["WINEPREFIX"])
        self.temp = prefix / "drive_c" / "users" / getpass.getuser() / "Temp"
        self.work = Path(tempfile.mkdtemp(prefix="unpack-bench-"))

    def pack(self, name, files):
        out = self.work / name
        subprocess.run([self.args.stubpack, "create", "--stub", self.args.stub, "--output",
                        str(out), *map(str, files)], check=True, capture_output=True)
        return out

    def clear_extraction(self):
        shutil.rmtree(self.temp / "unpack", ignore_errors=True)
        (self.temp / "unpack.log").unlink(missing_ok=True)

    def extraction_vs_copy(self, label, files):
        source = files[0].parent
        stub = self.pack(f"{label}.exe", files)
        # Named-file mode with a file the package does not hold: the launch fails at once and
        # the extracted files stay, so the run is start-up plus extraction.
        stub_time = median_time([self.args.wine, str(stub), "not-in-package.exe", "x"],
                                self.env, self.args.runs, self.clear_extraction)
        extracted = sum(1 for _ in (self.temp / "unpack").iterdir())
        target = self.temp / "bench-copy"
        copy_time = median_time(
            [self.args.wine, self.args.copyfiles, windows_path(source),
             "C:\\users\\" + getpass.getuser() + "\\Temp\\bench-copy"],
            self.env, self.args.runs, lambda: shutil.rmtree(target, ignore_errors=True))
        shutil.rmtree(target, ignore_errors=True)
        self.clear_extraction()
        print(f"{label}: stub {stub_time:.3f} s, CopyFileW {copy_time:.3f} s, "
              f"ratio {stub_time / copy_time:.2f} ({extracted} of {len(files)} files extracted)")

    def overhead(self):
        installer = self.work / "tiny"
        installer.mkdir()
        shutil.copy(self.args.payload, installer / "payload.exe")
        stub = self.pack("overhead.exe", [installer / "payload.exe"])
        full = median_time([self.args.wine, str(stub), "payload.exe", "--exit", "0"], self.env,
                           self.args.runs, self.clear_extraction)
        direct = median_time([self.args.wine, str(installer / "payload.exe"), "--exit", "0"],
                             self.env, self.args.runs)
        self.clear_extraction()
        print(f"overhead: stub run {full:.3f} s, installer alone {direct:.3f} s, "
              f"stub overhead {full - direct:.3f} s")

    def run(self):
        print(f"stub image: {Path(self.args.shipped).stat().st_size} bytes (shipped 32-bit); "
              f"timed build: {self.args.stub} ({Path(self.args.stub).stat().st_size} bytes)")
        print(f"median of {self.args.runs} runs each")

        big = self.work / "big"
        big.mkdir()
        (big / "payload.bin").write_bytes(os.urandom(64 * 1024 * 1024))
        self.extraction_vs_copy("one 64 MiB file", [big / "payload.bin"])

        many = self.work / "many"
        many.mkdir()
        files = []
        for i in range(1000):
            path = many / f"file{i:04}.bin"
            path.write_bytes(os.urandom(4096))
            files.append(path)
        self.extraction_vs_copy("1000 files of 4 KiB", files)

        self.overhead()
        shutil.rmtree(self.work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    for name in ("stub", "shipped", "stubpack", "payload", "copyfiles", "wine"):
        parser.add_argument(f"--{name}", required=True)
    parser.add_argument("--runs", type=int, default=5)
    Bench(parser.parse_args()).run()


if __name__ == "__main__":
    main()
