"""Deployment engines decide from the exit code alone. A stub packed with `--exit-code
installer` (the default) and signed passes the installer's exit code on and reports its own
refusals with the Windows Installer codes engines know; the same packages packed with
`--exit-code zero` exit 0 every time."""

from pathlib import Path

import pytest

import package_writer
from conftest import RunEnd, required_env, run_end, run_wine, signed_digest, wait_for

INIT = "[CUnPackFileApp::InitInstance]"
GENUINE = b"@echo off\r\necho genuine> \"C:\\marks\\genuine-ran.txt\"\r\n"


@pytest.fixture(params=["installer", "zero"])
def choice(request):
    return request.param


@pytest.fixture
def packed(pack, sign, tmp_path, choice):
    """packed(files, name) packs with the choice under test and signs."""

    def make(files, name="setup.exe"):
        options = ("--exit-code", choice)
        unsigned = pack(files, name=name, folder=tmp_path / name, options=options)
        (tmp_path / "signed").mkdir(exist_ok=True)
        return sign(unsigned, tmp_path / "signed" / name)

    return make


def expected(choice, code):
    return code if choice == "installer" else 0


def test_the_installers_own_code(wine, packed, payload_exe, choice):
    stub = packed({"payload.exe": payload_exe.read_bytes()})
    for code in (0, 3010, 1603):
        assert wine.run_for_code(stub, "payload.exe", "--exit", str(code)) == (
            expected(choice, code), 0)
        messages = wine.messages()
        # The closing line follows every other, the exit-code line too.
        assert run_end(messages) == RunEnd(signed_digest(stub), f"installer ended code:{code}",
                                           expected(choice, code))
        if expected(choice, code) != 0:
            assert messages[-2] == f"{INIT} exit code:{code}"
        else:
            assert messages[-2] == f"{INIT} execute done code:{code}"
        wine.clean()


def test_nothing_to_start_and_a_refused_package_are_failures(wine, packed, tmp_path, choice):
    stub = packed({"run.bat": GENUINE})
    digest = signed_digest(stub)
    assert wine.run_for_code(stub, "absent.exe", "x") == (expected(choice, 1603), 0)
    assert f"{INIT} execute skipped: absent.exe is not a file this run extracted" in wine.messages()
    assert run_end(wine.messages()) == RunEnd(digest, "nothing started (nothing to start)",
                                              expected(choice, 1603))

    # One payload byte flipped after signing: the digest no longer matches.
    data = bytearray(stub.read_bytes())
    unsigned = (tmp_path / "setup.exe" / "setup.exe").read_bytes()
    data[package_writer.first_header_offset(unsigned) + package_writer.HEADER_SIZE] ^= 0x01
    stub.write_bytes(bytes(data))
    wine.clean()
    assert wine.run_for_code(stub) == (expected(choice, 1620), 0)
    assert not (wine.marks / "genuine-ran.txt").exists()
    # Held against the digest signed into the stub, which it no longer matches.
    assert run_end(wine.messages()) == RunEnd(digest, "nothing started (package refused)",
                                              expected(choice, 1620))


def test_another_installation_in_progress_is_retried(wine, packed, payload_exe, choice):
    first = packed({"payload.exe": payload_exe.read_bytes()}, name="first.exe")
    second = packed({"payload.exe": payload_exe.read_bytes()}, name="second.exe")
    running = wine.start(first, "payload.exe", "--sleep", "30000")
    try:
        assert wait_for(lambda: any("execute wait" in m for m in wine.messages()))
        # On the desktop after its box, and unattended where no box is shown.
        refused = RunEnd(None, "nothing started (another installation running)",
                         expected(choice, 1618))
        assert wine.run_for_code(second, "payload.exe") == (expected(choice, 1618), 1)
        assert run_end(wine.messages()) == refused
        hidden = [required_env("HIDDENDESK"), "30000"]
        assert wine.run_for_code(second, "payload.exe", through=hidden) == (
            expected(choice, 1618), 0)
        assert run_end(wine.messages()) == refused
    finally:
        run_wine(["taskkill", "/f", "/im", "payload.exe"])
        running.wait(timeout=60)
