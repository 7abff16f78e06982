"""The elevated stub against what the desktop user's own programs can plant in the temporary
directory: a script held open in a stale extraction folder, a file where the folder should be,
a rename of the folder while the installer runs."""

import time

from conftest import run_wine, wait_for

INIT = "[CUnPackFileApp::InitInstance]"
GET_DIR = "[CUnPack::GetUnpackDir]"
SKIPPED = f"{INIT} execute skipped: the extraction folder is not this run's own"
# Each script leaves a marker, so that what ran can be told apart.
PLANTED = b"@echo off\r\necho planted> \"%TEMP%\\planted-ran.txt\"\r\n"
GENUINE = b"@echo off\r\necho genuine> \"%TEMP%\\genuine-ran.txt\"\r\n"


def hold(wine, payload_exe, path, ms=60000):
    """Another process that keeps `path` open, letting others read it but not write or delete
    it, as the user's program would."""
    holder = wine.start(payload_exe, "--hold", wine.windows_temp + path, "--sleep", str(ms))
    assert wait_for(lambda: (wine.temp / "payload-record.txt").exists()), "the holder never ran"
    time.sleep(0.5)
    return holder


def plant(wine, name, content):
    wine.folder.mkdir(exist_ok=True)
    (wine.folder / name).write_bytes(content)


def stop(holder):
    run_wine(["taskkill", "/f", "/im", "payload.exe"])
    holder.wait(timeout=60)


class TestStaleFolderHeldOpen:
    def test_a_planted_script_never_runs_and_the_next_run_is_normal(self, wine, pack,
                                                                    payload_exe):
        plant(wine, "run.bat", PLANTED)
        stub = pack({"run.bat": GENUINE})
        holder = hold(wine, payload_exe, "unpack\\run.bat")
        try:
            assert wine.run(stub) == (0, 0)
            messages = wine.messages()
            assert f"{GET_DIR} Stale folder could not be removed:{wine.windows_temp}unpack\\" \
                in messages, messages
            assert SKIPPED in messages
            assert not any("UnPack count:" in m for m in messages), "nothing is extracted"
            assert not (wine.installer_temp / "planted-ran.txt").exists(), "the planted script ran"
        finally:
            stop(holder)

        wine.log.unlink()
        assert wine.run(stub) == (0, 0)
        assert (wine.installer_temp / "genuine-ran.txt").exists()
        assert not (wine.installer_temp / "planted-ran.txt").exists()
        assert any(m.startswith(f"{INIT} execute done code:0") for m in wine.messages())
        assert not wine.folder.exists()

    def test_a_planted_named_file_never_runs(self, wine, pack, payload_exe):
        plant(wine, "setup.bat", PLANTED)
        stub = pack({"setup.bat": GENUINE})
        holder = hold(wine, payload_exe, "unpack\\setup.bat")
        try:
            assert wine.run(stub, "setup.bat", "/q") == (0, 0)
            assert SKIPPED in wine.messages()
            assert not (wine.installer_temp / "planted-ran.txt").exists(), "the planted file ran"
            assert not (wine.installer_temp / "genuine-ran.txt").exists()
        finally:
            stop(holder)
        (wine.installer_temp / "planted-ran.txt").unlink(missing_ok=True)
        (wine.installer_temp / "genuine-ran.txt").unlink(missing_ok=True)


def test_a_file_where_the_folder_should_be_is_replaced_by_the_folder(wine, pack):
    wine.folder.write_bytes(b"left by anything")
    stub = pack({"run.bat": GENUINE})
    assert wine.run(stub) == (0, 0)
    assert (wine.installer_temp / "genuine-ran.txt").exists()
    assert SKIPPED not in wine.messages()
    assert not wine.folder.exists()
    (wine.installer_temp / "genuine-ran.txt").unlink()


def test_the_folder_cannot_be_renamed_while_the_installer_runs(wine, pack, payload_exe):
    stub = pack({"payload.exe": payload_exe.read_bytes()})
    running = wine.start(stub, "payload.exe", "--sleep", "8000")
    try:
        assert wait_for(lambda: any("execute wait" in m for m in wine.messages()))
        renamed = run_wine(["cmd", "/c", "ren", wine.windows_temp + "unpack", "moved"])
        assert renamed.returncode != 0 or not (wine.temp / "moved").exists()
        assert (wine.folder / "payload.exe").exists()
    finally:
        running.wait(timeout=60)
    assert not (wine.temp / "moved").exists()
    assert not wine.folder.exists()
