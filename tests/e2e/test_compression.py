"""Packages the tool compresses, run for real: every kind of entry arrives byte-exact, and a
compressed payload that does not decode as it says refuses the package even where the digest
signed into the stub vouches for it: nothing of it is started or kept."""

import hashlib
import random
import struct
import subprocess

import pytest

import package_writer
from conftest import SETTINGS_MARKER, RunEnd, required_env, run_end
from test_registry import PRODUCT, clean_registry, create_key, machine_values  # noqa: F401

UNPACK = "[CUnPack::UnPackFiles]"
GENUINE = b"@echo off\r\necho genuine> \"C:\\marks\\genuine-ran.txt\"\r\n"
PAYLOAD_HEADER = 16
TEXT = b"".join(b"line %06d: the quick brown fox jumps over the lazy dog\r\n" % i
                for i in range(20000))
# Each kind of entry: nothing, bytes that do not shrink (stored), text, and a run of zeros
# longer than the decoder's largest window (8 MiB), whose matches reach back across its wrap.
KINDS = {
    "empty.txt": b"",
    "random.bin": random.Random(7).randbytes(300_000),
    "text.txt": TEXT,
    "data\\zeros.bin": bytes(12 << 20),
}


def listed(stubpack, stub):
    """{name: (size in the package, payload offset, original size, how it is kept)}."""
    out = subprocess.run([str(stubpack), "list", str(stub)], check=True, capture_output=True,
                         text=True).stdout
    return {name: (int(size), int(offset), int(original), how)
            for _, name, size, offset, original, how in
            (line.split("\t") for line in out.splitlines()[1:])}


def packed_tree(tmp_path, stubpack, files, options=()):
    """Packs `files` ({"data\\a": bytes}) with the packing tool as a tree of folders."""
    sources = tmp_path / "sources"
    tops = []
    for name, content in files.items():
        path = sources.joinpath(*name.split("\\"))
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content)
        top = str(sources / name.split("\\")[0])
        if top not in tops:
            tops.append(top)
    output = tmp_path / "setup.exe"
    subprocess.run([str(stubpack), "create", *options, "--stub", required_env("STUB"),
                    "--output", str(output), *tops], check=True, capture_output=True)
    return output


def test_every_kind_of_entry_arrives_byte_exact(wine, stubpack, sign, payload_exe, tmp_path):
    files = {"payload.exe": payload_exe.read_bytes(), **KINDS}
    signed = sign(packed_tree(tmp_path, stubpack, files), tmp_path / "Setup.exe")
    kept = {name: entry[3] for name, entry in listed(stubpack, signed).items()}
    assert kept == {"payload.exe": "lzma", "empty.txt": "stored", "random.bin": "stored",
                    "text.txt": "lzma", "data\\zeros.bin": "lzma"}

    assert wine.extract_and_look(signed) == KINDS
    # The free space and the entry lines are about the files, not what the package holds.
    messages = wine.messages()
    assert f"{UNPACK}  FreeSpace:" in "\n".join(messages)
    assert any(m.startswith(f"{UNPACK} (5/5)UnPack file name:") and m.endswith(
        f"data\\zeros.bin ({12 << 20})") for m in messages), messages


def refill_digest(data, first_header):
    """Records the package's new length and SHA-256 in the image, as the tool would have."""
    package = bytes(data[first_header:])
    record = data.index(SETTINGS_MARKER)
    data[record + 24:record + 32] = struct.pack("<Q", len(package))
    data[record + 32:record + 64] = hashlib.sha256(package).digest()


# What each damage does to the text entry's payload (its header and LZMA stream): the stream
# ends before the size it claims, runs on past it, starts with a code no encoder writes, or
# asks for a window beyond the decoder's bound.
DAMAGES = {
    "ends early": (8, struct.pack("<Q", len(TEXT) + 1)),
    "runs on": (8, struct.pack("<Q", len(TEXT) - 1)),
    "bad code": (PAYLOAD_HEADER + 5, b"\x80"),
    "window": (PAYLOAD_HEADER + 1, struct.pack("<I", 1 << 30)),
}


@pytest.mark.parametrize("damage", DAMAGES)
def test_a_stream_that_does_not_decode_refuses_the_package(wine, stubpack, sign, tmp_path,
                                                           damage):
    unsigned = packed_tree(tmp_path, stubpack, {"run.bat": GENUINE, "text.txt": TEXT},
                           options=("--exit-code", "installer"))
    size, offset, _, how = listed(stubpack, unsigned)["text.txt"]
    assert how == "lzma"
    data = bytearray(unsigned.read_bytes())
    at, damaged = DAMAGES[damage]
    data[offset + at:offset + at + len(damaged)] = damaged
    refill_digest(data, package_writer.first_header_offset(bytes(data)))
    unsigned.write_bytes(bytes(data))
    signed = sign(unsigned, tmp_path / "Setup.exe")
    create_key("HKLM", PRODUCT)

    assert wine.run_for_code(signed) == (1620, 0)

    messages = wine.messages()
    assert (f"{UNPACK} (2/2)Package refused: text.txt does not decode to the "
            f"{len(TEXT) + {'ends early': 1, 'runs on': -1}.get(damage, 0)} bytes it holds; "
            "nothing of it is kept") in messages, messages
    # Refused before the digest could be held against the whole package.
    assert run_end(messages) == RunEnd(None, "nothing started (package refused)", 1620)
    assert not (wine.marks / "genuine-ran.txt").exists()
    assert not wine.folder.exists(), "files of a refused package stayed"
    assert machine_values(tmp_path, PRODUCT)["CloudAutoUpdateStatus"] == ("REG_DWORD", 999)
