"""Makes the fuzzer's seed corpus with the packing tool: small PE32 and PE32+ stubs carrying a few
entries, one with a certificate table appended as signing would, one with a folder tree, and a
bare stub. Every packed
seed must pass stubpack check, so the fuzzer starts from files the stub reads to the end.

usage: make_seeds.py STUBPACK SEEDS_DIR CORPUS_DIR (the corpus folder is emptied for the run)"""

import shutil
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import minimal_pe  # noqa: E402


def pack(stubpack, work, stub, files, output):
    """Packs `files` ({name: bytes}); a name with "/" lies in a folder, packed with its folder."""
    shutil.rmtree(work / "in", ignore_errors=True)
    operands = []
    for name, content in files.items():
        path = work / "in" / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content)
        top = str(work / "in" / name.split("/")[0])
        if top not in operands:
            operands.append(top)
    subprocess.run([stubpack, "create", "--stub", str(stub), "--output", str(output), *operands],
                   check=True, capture_output=True)
    return output


def append_certificate_table(path, size=64):
    """A WIN_CERTIFICATE record (revision 2.0, PKCS#7) of `size` bytes, as signing appends it."""
    data = bytearray(path.read_bytes())
    struct.pack_into("<II", data, minimal_pe.security_directory_offset(data), len(data), size)
    record = struct.pack("<IHH", size, 0x0200, 0x0002) + bytes(range(size - 8))
    path.write_bytes(bytes(data) + record)


def main(stubpack, seeds, corpus):
    shutil.rmtree(seeds, ignore_errors=True)
    shutil.rmtree(corpus, ignore_errors=True)
    seeds.mkdir(parents=True)
    corpus.mkdir(parents=True)
    with tempfile.TemporaryDirectory() as folder:
        work = Path(folder)
        stub32, stub64 = work / "stub32.exe", work / "stub64.exe"
        stub32.write_bytes(minimal_pe.build(plus=False))
        stub64.write_bytes(minimal_pe.build(plus=True))

        packed = [
            pack(stubpack, work, stub32, {"setup.msi": b"MSI" * 20, "run.bat": b"@echo off\r\n",
                                          "empty.ini": b""}, seeds / "pe32-three.exe"),
            pack(stubpack, work, stub64, {"setup.ini": b"[Setup]\r\n"}, seeds / "pe32plus-one.exe"),
            pack(stubpack, work, stub32, {"a.txt": b"a", "b.txt": b"bb"}, seeds / "pe32-signed.exe"),
            pack(stubpack, work, stub32, {"run.bat": b"x", "data/a.cab": b"cab",
                                          "data/lang/de.txt": b"de"}, seeds / "pe32-tree.exe"),
        ]
        append_certificate_table(seeds / "pe32-signed.exe")
        shutil.copy(stub32, seeds / "bare-stub.exe")
        for seed in packed:
            subprocess.run([stubpack, "check", str(seed)], check=True, capture_output=True)


if __name__ == "__main__":
    main(sys.argv[1], Path(sys.argv[2]), Path(sys.argv[3]))
