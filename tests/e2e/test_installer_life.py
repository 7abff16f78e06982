"""The installer's whole life, as installers really live it, under Wine with the packed and signed
stub: a bootstrapper whose second stage runs on from the folder, a script's `start`, a helper left
running, a disk that fills; and the outcome the caller is told."""

import os
import shutil
import time
import re
import subprocess

import pytest

from conftest import RunEnd, run_end, signed_digest, run_wine, wait_for

INIT = "[CUnPackFileApp::InitInstance]"
SESSION_MANAGER = r"HKLM\SYSTEM\CurrentControlSet\Control\Session Manager"


@pytest.fixture
def signed(pack, sign, tmp_path):
    """signed(files, options=()) packs with the tool's defaults and `options`, and signs."""
    def make(files, options=(), name="Setup.exe"):
        unsigned = pack(files, name="unsigned-" + name, options=options, tool_defaults=True)
        return sign(unsigned, tmp_path / name)
    return make


def second_stage(wine):
    path = wine.marks / "second-stage.txt"
    return path.read_bytes() if path.exists() else None


def pending_renames():
    """What PendingFileRenameOperations lists, one path a line."""
    done = run_wine(["reg", "query", SESSION_MANAGER, "/v", "PendingFileRenameOperations"],
                    text=True)
    return done.stdout if done.returncode == 0 else ""


@pytest.fixture(autouse=True)
def no_second_stage(wine):
    (wine.marks / "second-stage.txt").unlink(missing_ok=True)
    yield
    run_wine(["taskkill", "/f", "/im", "payload.exe"])
    (wine.marks / "second-stage.txt").unlink(missing_ok=True)


class TestWhatTheInstallerStarts:
    @pytest.mark.parametrize("where", [(), ("--elsewhere",)])
    def test_a_bootstrappers_second_stage_finds_its_files(self, wine, signed, payload_exe, where):
        # The bootstrapper ends at once; its second stage reads its data two seconds later, its
        # current directory in the folder or elsewhere.
        stub = signed({"payload.exe": payload_exe.read_bytes(), "data.txt": b"the data"})
        code, boxes = wine.run_for_code(stub, "payload.exe", "--exit", "5", "--spawn", *where,
                                        "--read-after", "2000", "data.txt", "--exit", "4")
        assert (code, boxes) == (5, 0), "the exit code is the installer's own"
        assert second_stage(wine) == b"read:the data", "the stub ended before the second stage"
        assert not wine.run_folders(), "something of the run stayed"
        messages = wine.messages()
        assert any(re.fullmatch(rf"\{INIT} Stage ended: pid:\d+ "
                                rf"{re.escape(wine.windows_folder)}payload\.exe code:4",
                                m, re.IGNORECASE) for m in messages), "\n".join(messages)
        assert messages[-3] == f"{INIT} execute done code:5"

    def test_a_scripts_start_is_waited_for(self, wine, signed, payload_exe):
        run_bat = b'@echo off\r\nstart "" payload.exe --read-after 2000 data.txt\r\n'
        stub = signed({"run.bat": run_bat, "payload.exe": payload_exe.read_bytes(),
                       "data.txt": b"started"})
        assert wine.run_for_code(stub) == (0, 0)
        assert second_stage(wine) == b"read:started"
        assert not wine.run_folders()


def test_a_program_from_outside_the_package_is_left_to_run_at_once(wine, signed, payload_exe):
    # The installer's last step starts the installed application, from elsewhere, and ends.
    app = wine.prefix / "drive_c" / "apps" / "app.exe"
    app.parent.mkdir(exist_ok=True)
    shutil.copy(payload_exe, app)
    stub = signed({"run.bat": b'@echo off\r\nstart "" C:\\apps\\app.exe --sleep 60000\r\n'})
    try:
        started = time.monotonic()
        assert wine.run_for_code(stub) == (0, 0)
        took = time.monotonic() - started
        messages = wine.messages()
        assert any(re.fullmatch(rf"\{INIT} Left to run, not part of the installation: pid:\d+ "
                                r"C:\\apps\\app\.exe", m) for m in messages), messages
        assert took < 20, f"the run waited {took:.1f} s for the application"
        assert not any(" execute wait for " in m for m in messages), messages
        assert run_end(messages) == RunEnd(signed_digest(stub), "installer ended code:0", 0)
        # A later run is not refused while the application runs.
        other = signed({"payload.exe": payload_exe.read_bytes()}, name="Next.exe")
        assert wine.run_for_code(other, "payload.exe", "--exit", "0") == (0, 0)
    finally:
        run_wine(["taskkill", "/f", "/im", "app.exe"])
        shutil.rmtree(app.parent, ignore_errors=True)


def test_a_helper_left_running_leaves_nothing_a_user_can_steer_at_the_restart(
        wine, signed, payload_exe, tmp_path):
    stub = signed({"payload.exe": payload_exe.read_bytes(), "data.txt": b"x"},
                  options=("--wait-children", "5"))
    started = wine.start(stub, "payload.exe", "--spawn", "--sleep", "120000")
    try:
        assert wait_for(lambda: started.poll() is not None, timeout=60), "the run never ended"
        messages = wine.messages()
        assert any(m.startswith(f"{INIT} execute wait for ") and
                   m.endswith(" processes the installer started, up to 5 s") for m in messages), \
            messages
        assert any(m.startswith(f"{INIT} Still running, left to run on: pid:") and
                   m.endswith("\\unpack\\payload.exe") for m in messages), messages
        for left in (wine.windows_folder + "payload.exe", wine.windows_folder.rstrip("\\")):
            assert f"{INIT} Left for the next run to remove:{left}" in messages, messages
        assert "unpack" not in pending_renames()

        # The next run is not blocked: it extracts beside what stays, and ends.
        (wine.marks / "payload-record.txt").unlink(missing_ok=True)
        other = signed({"payload.exe": payload_exe.read_bytes()}, name="Next.exe")
        wine.log.unlink()
        code, _ = wine.run_for_code(other, "payload.exe", "--exit", "0")
        assert code == 0
        assert f"{INIT} execute done code:0" in wine.messages()
    finally:
        run_wine(["taskkill", "/f", "/im", "payload.exe"])
        started.wait(timeout=60)

    # The folder is removed before the restart (Disk Cleanup would), and a user makes its name a
    # link to a folder of theirs that holds files of the package's names: the restart deletes
    # nothing there.
    shutil.rmtree(wine.folder)
    victim = tmp_path / "victim"
    victim.mkdir()
    for name in ("payload.exe", "data.txt"):
        (victim / name).write_bytes(b"the user's")
    wine.folder.symlink_to(victim, target_is_directory=True)
    try:
        run_wine(["wineboot", "-r"])
        assert sorted(p.name for p in victim.iterdir()) == ["data.txt", "payload.exe"]
    finally:
        wine.folder.unlink()


@pytest.fixture
def small_disk(wine):
    """The machine's temporary directory on a volume of 4 MiB, for real (tmpfs, as root)."""
    if os.geteuid() != 0:
        pytest.skip("mounting a small volume needs root")
    temp = wine.machine_temp
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=4m", "tmpfs", str(temp)], check=True)
    try:
        yield temp
    finally:
        subprocess.run(["umount", "-l", str(temp)], check=True)


def test_a_disk_without_room_where_the_folder_lies_starts_nothing(wine, signed, payload_exe,
                                                                 small_disk):
    stub = signed({"payload.exe": payload_exe.read_bytes(), "big.bin": bytes(6 * 1024 * 1024)})
    # The box itself is ExtractionTest's to see: here what counts is that nothing starts.
    code, _ = wine.run_for_code(stub, "payload.exe")
    assert code == 112, wine.messages()
    messages = wine.messages()
    assert "[CUnPack::UnPackFiles] There is not enough disk space to install ." in messages
    assert f"{INIT} execute skipped: the extraction did not complete" in messages
    assert not any("execute succ" in m for m in messages)
    assert not wine.run_folders()
    assert not (wine.marks / "payload-record.txt").exists(), "the installer started"


def test_the_tools_default_passes_the_installers_failure_on(wine, signed, payload_exe):
    stub = signed({"payload.exe": payload_exe.read_bytes()})
    assert wine.run_for_code(stub, "payload.exe", "--exit", "1603") == (1603, 0)
