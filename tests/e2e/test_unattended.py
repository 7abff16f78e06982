"""An unattended run: the stub started on a desktop of a window station of its own, as a
deployment engine's process running as SYSTEM has one, where nobody sees a window. Where a box
would wait for an OK nobody can press, the stub logs the message and goes on as if it had been
pressed; so it does where the box cannot be shown at all."""

import time
from pathlib import Path

import pytest

from conftest import RunEnd, required_env, run_end, run_wine, wait_for

INIT = "[CUnPackFileApp::InitInstance]"
NOT_SHOWN = f"{INIT} No visible desktop, not shown: "
NO_DISPLAY = f"{INIT} The box could not be shown (error 1400): "
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
    messages = wine.messages()
    assert messages[:-1] == [NOT_SHOWN + TOO_OLD]
    assert run_end(messages) == RunEnd(None, "nothing started (Windows older than 7)", 0)
    assert not wine.folder.exists()
    assert not (wine.marks / "genuine-ran.txt").exists()


def test_a_box_that_cannot_be_shown_is_logged_with_the_error(wine, pack):
    # Without a display Wine's MessageBoxW fails at once (error 1400).
    stub = pack({"run.bat": b"@echo off\r\n"}, name="no-display-vista.exe")
    wine.set_app_version("no-display-vista.exe", "vista")
    try:
        assert wine.run(stub, env={"DISPLAY": None}) == (0, 0)
    finally:
        wine.set_app_version("no-display-vista.exe", None)
    messages = wine.messages()
    assert messages[:-1] == [NO_DISPLAY + TOO_OLD]
    assert run_end(messages).how == "nothing started (Windows older than 7)"


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
        messages = wine.messages()
        assert messages[:-1] == before + [NOT_SHOWN + IN_PROGRESS]
        assert run_end(messages).how == "nothing started (another installation running)"
        assert not (wine.folder / "second.txt").exists(), "nothing is extracted"
    finally:
        run_wine(["taskkill", "/f", "/im", "payload.exe"])
        running.wait(timeout=60)
