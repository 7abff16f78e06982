"""The elevated stub starts only what this run extracted, and writes only where it means to: the
desktop user's own programs plant a run.bat along their PATH, name a file outside the package,
or hard-link the script's output to another file and hold it open."""

import os

import pytest

from conftest import run_wine, wait_for
from test_registry import PRODUCT, clean_registry, create_key, machine_values  # noqa: F401

INIT = "[CUnPackFileApp::InitInstance]"
PLANTED = b"@echo off\r\necho planted> \"C:\\marks\\planted-ran.txt\"\r\n"
GENUINE = b"@echo off\r\necho genuine> \"C:\\marks\\genuine-ran.txt\"\r\n"


def skipped(wine, name):
    return f"{INIT} execute skipped: {name} is not a file this run extracted" in wine.messages()


def status(tmp_path):
    return machine_values(tmp_path, PRODUCT)["CloudAutoUpdateStatus"]


def test_a_run_bat_along_the_users_path_never_runs(wine, pack, payload_exe, tmp_path):
    planted = tmp_path / "users-path"
    planted.mkdir()
    (planted / "run.bat").write_bytes(PLANTED)
    stub = pack({"payload.exe": payload_exe.read_bytes()})
    create_key("HKLM", PRODUCT)
    assert wine.run(stub, env={"WINEPATH": wine.windows_path(planted)}) == (0, 0)
    assert skipped(wine, "run.bat"), wine.messages()
    assert not (wine.marks / "planted-ran.txt").exists(), "the user's run.bat ran"
    assert not wine.folder.exists()
    assert status(tmp_path) == ("REG_DWORD", 999)


@pytest.mark.parametrize("where", ["absolute", "..", "..\\.."])
def test_a_named_file_outside_the_package_never_runs(wine, pack, payload_exe, tmp_path, where):
    # The temporary directory and its parent are the user's: any of them may hold a program.
    folder = {"absolute": tmp_path, "..": wine.temp, "..\\..": wine.temp.parent}[where]
    (folder / "evil.exe").write_bytes(payload_exe.read_bytes())
    name = wine.windows_path(folder / "evil.exe") if where == "absolute" else where + "\\evil.exe"
    stub = pack({"setup.bin": b"x"})
    try:
        assert wine.run(stub, name, "x") == (0, 0)
        assert skipped(wine, name), wine.messages()
        assert not (wine.marks / "payload-record.txt").exists(), f"{name} ran"
    finally:
        (folder / "evil.exe").unlink()


def test_output_hard_linked_and_held_is_never_written_through(wine, pack, payload_exe):
    """A script output that is a second name of the user's own file, held open or not, is left as
    it is, and the script still runs, its output not kept."""
    victim = wine.temp / "victim.txt"
    victim.write_bytes(b"the user's own file")
    os.link(victim, wine.temp / "unpack.log.txt")
    stub = pack({"run.bat": GENUINE + b"echo written through the link\r\n"})
    holder = wine.start(payload_exe, "--hold-shared", wine.windows_temp + "unpack.log.txt",
                        "--sleep", "60000")
    try:
        assert wait_for(lambda: (wine.marks / "payload-record.txt").exists()), "no holder"
        assert wine.run(stub) == (0, 0)
        assert (wine.marks / "genuine-ran.txt").exists(), "the script did not run"
    finally:
        run_wine(["taskkill", "/f", "/im", "payload.exe"])
        holder.wait(timeout=60)
    (wine.marks / "genuine-ran.txt").unlink()
    try:
        assert wine.run(stub) == (0, 0)
        assert (wine.marks / "genuine-ran.txt").exists()
        assert victim.read_bytes() == b"the user's own file"
        assert os.stat(wine.temp / "unpack.log.txt").st_nlink == 2, "the link was replaced"
    finally:
        victim.unlink()


class TestWhatEachModeStarts:
    def test_with_run_bat(self, wine, pack):
        stub = pack({"run.bat": GENUINE})
        assert wine.run(stub) == (0, 0)
        assert (wine.marks / "genuine-ran.txt").exists()
        (wine.marks / "genuine-ran.txt").unlink()

        # Named, it runs as the default script does, in a prefix without a batfile class too.
        assert wine.run(stub, "run.bat", "x") == (0, 0)
        assert f"{INIT} execute done code:0" in wine.messages()
        assert (wine.marks / "genuine-ran.txt").exists()

    def test_without_run_bat(self, wine, pack, payload_exe):
        stub = pack({"payload.exe": payload_exe.read_bytes()})
        assert wine.run(stub) == (0, 0)
        assert skipped(wine, "run.bat")

        assert wine.run(stub, "PAYLOAD.EXE", "--exit", "4") == (0, 0)
        assert f"{INIT} execute done code:4" in wine.messages()
        assert (wine.marks / "payload-record.txt").exists()


class TestAPackageThatHoldsAFolderTree:
    """Packed by the tool from a folder and signed: run.bat reads a file two folders down and
    starts a program in a subfolder; named-file mode starts that program by its path."""

    @pytest.fixture
    def stub(self, pack, sign, payload_exe, tmp_path):
        data = tmp_path / "tree" / "data"
        (data / "bin").mkdir(parents=True)
        (data / "lang" / "de").mkdir(parents=True)
        (data / "bin" / "tool.exe").write_bytes(payload_exe.read_bytes())
        (data / "lang" / "de" / "readme.txt").write_bytes(b"Hallo")
        run_bat = (b"@echo off\r\ncopy data\\lang\\de\\readme.txt \"C:\\marks\\tree-read.txt\"\r\n"
                   b"data\\bin\\tool.exe --exit 0\r\n")
        unsigned = pack({"run.bat": run_bat}, name="unsigned.exe", options=[str(data)],
                        tool_defaults=True)
        return sign(unsigned, tmp_path / "Setup.exe")

    def test_the_default_script_reads_and_starts_from_the_tree(self, wine, stub):
        try:
            assert wine.run_for_code(stub) == (0, 0)
            assert (wine.marks / "tree-read.txt").read_bytes() == b"Hallo"
            record = (wine.marks / "payload-record.txt").read_text(encoding="utf-8")
            assert "data\\bin\\tool.exe" in record.splitlines()[0], record
            assert not wine.run_folders(), "something of the tree stayed"
        finally:
            (wine.marks / "tree-read.txt").unlink(missing_ok=True)

    def test_named_file_mode_starts_a_program_by_its_path(self, wine, stub):
        assert wine.run_for_code(stub, "DATA\\bin\\Tool.exe", "--exit", "4") == (4, 0)
        record = (wine.marks / "payload-record.txt").read_text(encoding="utf-8")
        assert record.splitlines()[1:3] == ["arg:--exit", "arg:4"], record
        assert f"{INIT} execute done code:4" in wine.messages()
        assert not wine.run_folders()


def test_the_installers_temp_is_the_runs_own_and_its_logs_are_kept(wine, pack):
    run_bat = (b'@echo off\r\necho %TEMP%> C:\\marks\\temp.txt\r\n'
               b'echo %TMP%>> C:\\marks\\temp.txt\r\n'
               b'echo setup done> "%TEMP%\\Setup.log"\r\n'
               b'echo helper> "%TEMP%\\helper.dat"\r\n')
    assert wine.run(pack({"run.bat": run_bat})) == (0, 0)
    temp, tmp = (wine.marks / "temp.txt").read_text().split()
    assert temp == tmp and temp.lower().startswith(wine.windows_folder[:-1].lower() + "."), temp
    messages = wine.messages()
    assert f"{INIT} The installer's TEMP and TMP:{temp}" in messages, messages
    assert not wine.run_folders(), "the installer's TEMP stayed"
    assert (wine.temp / "unpack.Setup.log").read_bytes().strip() == b"setup done"
    assert f"{INIT} The installer's log is kept:{wine.windows_temp}unpack.Setup.log" in messages
    assert not list(wine.temp.glob("unpack.helper*")), "what is no log was kept"
