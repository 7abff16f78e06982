"""An unattended run: the stub started on a desktop of a window station of its own, as a
deployment engine's process running as SYSTEM has one, where nobody sees a window. Where a box
would wait for an OK nobody can press, the stub logs the message and goes on as if it had been
pressed."""

import time
from pathlib import Path

import pytest

from conftest import required_env, run_wine, wait_for

INIT = "[CUnPackFileApp::InitInstance]"
NOT_SHOWN = f"{INIT} No visible desktop, not shown: "
TOO_OLD = ("To install Tovari Vessor, please upgrade your system to Windows 7 or a newer "
           "version.")
IN_PROGRESS = ("Another installation is in progress. You must complete that installation "
               "before starting this one.")
# Ended by the test after this long: a box waiting for a press would hold the run this long.
PATIENCE_MS = 30000


@pytest.fixture(scope="module")
def hiddendesk():
    return Path(required_env("HIDDENDESK"))


def run_unattended(wine, hiddendesk, stub, *args):
    """(exit code, seconds, boxes seen on the display)"""
    start = time.monotonic()
    code, boxes = wine.run(hiddendesk, PATIENCE_MS, wine.windows_path(stub), *args)
    return code, time.monotonic() - start, boxes


def test_an_old_system_is_refused_with_a_log_line_at_once(wine, pack, hiddendesk):
    stub = pack({"run.bat": b"@echo off\r\necho ran> \"C:\\marks\\genuine-ran.txt\"\r\n"},
                name="unattended-vista.exe")
    wine.set_app_version("unattended-vista.exe", "vista")
    try:
        code, seconds, boxes = run_unattended(wine, hiddendesk, stub)
    finally:
        wine.set_app_version("unattended-vista.exe", None)
    assert (code, boxes) == (0, 0), "the run waited for a box until it was ended"
    assert seconds < PATIENCE_MS / 1000 / 2
    assert wine.messages() == [NOT_SHOWN + TOO_OLD]
    assert not wine.folder.exists()
    assert not (wine.marks / "genuine-ran.txt").exists()


def test_a_second_stub_is_refused_with_a_log_line_at_once(wine, pack, payload_exe, hiddendesk):
    first = pack({"payload.exe": payload_exe.read_bytes()}, name="first.exe")
    second = pack({"payload.exe": payload_exe.read_bytes(), "second.txt": b"2"},
                  name="second.exe")
    running = wine.start(first, "payload.exe", "--sleep", "20000")
    try:
        assert wait_for(lambda: any("execute wait" in m for m in wine.messages()))
        before = wine.messages()
        code, seconds, boxes = run_unattended(wine, hiddendesk, second, "payload.exe", "x")
        assert (code, boxes) == (0, 0), "the run waited for a box until it was ended"
        assert seconds < PATIENCE_MS / 1000 / 2
        assert wine.messages() == before + [NOT_SHOWN + IN_PROGRESS]
        assert not (wine.folder / "second.txt").exists(), "nothing is extracted"
    finally:
        run_wine(["taskkill", "/f", "/im", "payload.exe"])
        running.wait(timeout=60)
