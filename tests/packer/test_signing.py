"""The packing tool against real code signing: a stub packed by stubpack, signed and verified with
osslsigncode, must still be read correctly by stubpack check, list and extract, with the
certificate table right after the trailer, where the stub looks for it."""

import os
import random
import struct
import subprocess
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import minimal_pe  # noqa: E402

HEADER_SIZE = 284
PAYLOADS = {
    "setup.msi": random.Random(7).randbytes(70001),
    "run.bat": b"msiexec /i setup.msi /qn\r\n",
    "empty.ini": b"",
    "block.bin": bytes(range(256)) * 4,  # exactly 1024 bytes
}
# A folder packed with everything below it: stored names as the stub reads them.
TREE = {
    "data\\a.cab": random.Random(8).randbytes(5000),
    "data\\lang\\de.txt": b"Hallo\r\n",
}


def stubpack(*args, check=True):
    done = subprocess.run([os.environ["STUBPACK"], *map(str, args)], capture_output=True,
                          text=True)
    if check and done.returncode != 0:
        pytest.fail(f"stubpack {' '.join(map(str, args))} failed: {done.stderr}")
    return done


def run(*args):
    done = subprocess.run(list(map(str, args)), capture_output=True, text=True)
    assert done.returncode == 0, f"{args[0]} failed: {done.stdout}{done.stderr}"
    return done


@pytest.fixture(scope="module")
def certificate(tmp_path_factory):
    folder = tmp_path_factory.mktemp("cert")
    key, cert = folder / "key.pem", folder / "cert.pem"
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
        "-days", "30", "-subj", "/CN=Test", "-addext", "extendedKeyUsage=codeSigning")
    return key, cert


def sign(certificate, unsigned, signed):
    key, cert = certificate
    run("osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256", "-in", unsigned,
        "-out", signed)
    run("osslsigncode", "verify", "-CAfile", cert, "-in", signed)
    return signed


@pytest.fixture(params=[False, True], ids=["pe32", "pe32plus"])
def packed(request, tmp_path):
    """(stub path, packed unsigned path, input paths) for a PE32 or PE32+ stub."""
    stub = tmp_path / "stub.exe"
    stub.write_bytes(minimal_pe.build(plus=request.param))
    sources = tmp_path / "in"
    sources.mkdir()
    inputs = []
    for name, content in PAYLOADS.items():
        (sources / name).write_bytes(content)
        inputs.append(sources / name)
    for name, content in TREE.items():
        path = sources.joinpath(*name.split("\\"))
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content)
    inputs.append(sources / "data")
    output = tmp_path / "setup.exe"
    stubpack("create", "--stub", stub, "--output", output, *inputs)
    return stub, output, inputs


def listed_entries(path):
    """The entry lines of `stubpack list`, without the first (image and table sizes) line."""
    return stubpack("list", path).stdout.splitlines()[1:]


# ---- Signing a packed stub ----------------------------------------------------------------------

def test_signing_appends_the_table_right_after_the_trailer(packed, certificate, tmp_path):
    _, unsigned, _ = packed
    signed = sign(certificate, unsigned, tmp_path / "signed.exe")
    before, after = unsigned.read_bytes(), signed.read_bytes()
    assert len(before) % 8 == 0
    address, size = minimal_pe.security_directory(after)
    assert address == len(before), "signing padded the file: the stub would miss the trailer"
    assert address + size == len(after)
    # Signing changed nothing up to the trailer's end but the checksum and the security directory.
    pe = struct.unpack_from("<i", before, 60)[0]
    directory = minimal_pe.security_directory_offset(before)
    changed = [i for i in range(len(before)) if before[i] != after[i]]
    allowed = set(range(pe + 88, pe + 92)) | set(range(directory, directory + 8))
    assert set(changed) <= allowed, f"bytes changed outside the PE fields: {changed[:10]}"


def test_check_accepts_the_signed_stub(packed, certificate, tmp_path):
    _, unsigned, _ = packed
    signed = sign(certificate, unsigned, tmp_path / "signed.exe")
    _, size = minimal_pe.security_directory(signed.read_bytes())
    entries = {**PAYLOADS, **TREE}
    payload_bytes = sum(len(content) for content in entries.values())
    summary, *lines, note = stubpack("check", signed).stdout.splitlines()
    assert summary.startswith(f"ok: {len(entries)} entries, {payload_bytes} payload bytes")
    assert len(lines) == len(entries)
    assert summary.endswith(f"certificate table {size} bytes, digest verified, exit code: "
                            "installer, wait for children: 600 s")
    assert note == ("note: the signature is not checked; osslsigncode verify -CAfile CERT -in "
                    "FILE checks it")


def test_list_reads_the_same_entries_signed_or_not(packed, certificate, tmp_path):
    _, unsigned, _ = packed
    signed = sign(certificate, unsigned, tmp_path / "signed.exe")
    entries = listed_entries(signed)
    assert entries == listed_entries(unsigned)
    expected = {**PAYLOADS, **TREE}
    assert [line.split("\t")[1] for line in entries] == list(expected)
    assert [int(line.split("\t")[4]) for line in entries] == [len(p) for p in expected.values()]


def test_extract_from_the_signed_stub_gives_the_same_bytes(packed, certificate, tmp_path):
    _, unsigned, _ = packed
    signed = sign(certificate, unsigned, tmp_path / "signed.exe")
    out = tmp_path / "out"
    stubpack("extract", signed, out)
    extracted = {"\\".join(path.relative_to(out).parts): path.read_bytes()
                 for path in out.rglob("*") if path.is_file()}
    assert extracted == {**PAYLOADS, **TREE}


# ---- What the tool refuses around signing -------------------------------------------------------

def test_a_signed_stub_is_not_packed_again(packed, certificate, tmp_path):
    _, unsigned, inputs = packed
    signed = sign(certificate, unsigned, tmp_path / "signed.exe")
    output = tmp_path / "again.exe"
    done = stubpack("create", "--stub", signed, "--output", output, inputs[0], check=False)
    assert done.returncode == 1
    assert "is already signed" in done.stderr
    assert not output.exists()


def test_a_packed_stub_is_not_packed_again(packed, tmp_path):
    _, unsigned, inputs = packed
    output = tmp_path / "again.exe"
    done = stubpack("create", "--stub", unsigned, "--output", output, inputs[0], check=False)
    assert done.returncode == 1
    assert "already carries a package" in done.stderr
    assert not output.exists()


def test_check_explains_padding_that_signing_put_before_the_table(certificate, tmp_path):
    # Written by hand without the tool's padding: 1024 + 284 + 3 + 8 + 284 = 1603 is 3 past a
    # multiple of 8, so signing pads 5 bytes and the stub would read its trailer 5 bytes early.
    image = minimal_pe.build()
    payload = b"abc"
    header = struct.pack("<iIQQ", 1, 2, len(payload), len(payload)) + b"a.txt".ljust(260, b"\0")
    trailer = struct.pack("<iIQQ", 0, 1, len(image), len(image)) + b"odd.exe".ljust(260, b"\0")
    unsigned = tmp_path / "odd.exe"
    unsigned.write_bytes(image + header + payload + b"\xff" * 8 + trailer)
    assert stubpack("check", unsigned, check=False).stderr.startswith(
        "stubpack check: image plus package is 1603 bytes, not a multiple of 8")

    signed = sign(certificate, unsigned, tmp_path / "odd-signed.exe")
    done = stubpack("check", signed, check=False)
    assert done.returncode == 1
    assert done.stderr == ("stubpack check: 5 bytes lie between the trailer and the certificate "
                           "table (padding added by signing), so the stub cannot find the "
                           "trailer\n")
