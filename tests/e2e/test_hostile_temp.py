"""The elevated stub against the temporary directory its caller chooses, and against what the
desktop user's programs can put in the machine's: a name Windows trims, characters a script reads,
someone else's folder, a network share, a forged log line, names squatted. Each attack is made for
real under Wine against the packed and signed stub; nothing of the user's runs and the genuine
package does."""

import os
import shutil

import pytest

from conftest import run_wine, wait_for

INIT = "[CUnPackFileApp::InitInstance]"
GET_DIR = "[CUnPack::GetUnpackDir]"
# Each script leaves a marker, so that what ran can be told apart.
PLANTED = b"@echo off\r\necho planted> \"C:\\marks\\planted-ran.txt\"\r\n"
GENUINE = b"@echo off\r\necho genuine> \"C:\\marks\\genuine-ran.txt\"\r\n"


@pytest.fixture
def home(wine):
    """The user's profile, where the user makes what the attacks need; cleaned afterwards."""
    made = []
    yield lambda name: made.append(wine.temp.parent / name) or wine.temp.parent / name
    for path in made:
        if path.is_symlink() or path.is_file():
            path.unlink()
        elif path.exists():
            shutil.rmtree(path, ignore_errors=True)


@pytest.fixture
def signed_stub(pack, sign, tmp_path):
    def make(files):
        return sign(pack(files, name="unsigned.exe"), tmp_path / "Setup.exe")
    return make


def ran(wine, marker):
    return (wine.marks / marker).exists()


def plant(folder, name, content=PLANTED):
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(content)


def extracted_into_the_machines_folder(wine):
    return any(m.startswith(f"[CUnPack::UnPackFiles] (1/") and
               f"UnPack file name:{wine.windows_folder}" in m for m in wine.messages())


class TestTheCallersTemporaryDirectoryChoosesNothing:
    @pytest.mark.parametrize("named", [False, True])
    def test_a_link_to_a_name_windows_trims(self, wine, home, signed_stub, named):
        # x. holds nothing; x, which Windows reaches when it parses "x.\unpack\..." again,
        # holds the user's scripts; t links to x.
        home("x.").mkdir()
        plant(home("x") / "unpack", "run.bat")
        plant(home("x") / "unpack", "setup.bat")
        os.symlink("x.", home("t"))
        stub = signed_stub({"run.bat": GENUINE, "setup.bat": GENUINE})
        args = ("setup.bat", "/q") if named else ()
        assert wine.run_with_temp(stub, wine.windows_temp[:-5] + "t", *args) == (0, 0)
        assert not ran(wine, "planted-ran.txt"), "the user's script ran elevated"
        assert (wine.marks / "genuine-ran.txt").exists()
        assert (home("x") / "unpack" / "run.bat").read_bytes() == PLANTED

    @pytest.mark.parametrize("name,script", [
        # cmd drops a lone "!" under delayed expansion, and splits an unquoted path at a blank.
        ("y!", b"@echo off\r\nsetlocal EnableDelayedExpansion\r\ncall \"%~dp0setup.bat\"\r\n"),
        ("a b", b"@echo off\r\ncall %~dp0setup.bat\r\n"),
        ("tmp a&b", b"@echo off\r\ncall \"%~dp0setup.bat\"\r\n"),
    ])
    def test_characters_a_script_reads_in_its_folders_name(self, wine, home, signed_stub, name,
                                                          script):
        temp = home(name)
        temp.mkdir()
        # Where cmd would look: "y\unpack\setup.bat" without the "!", "a" with a blank.
        plant(home(name.replace("!", "")) / "unpack", "setup.bat")
        home("a.bat").write_bytes(PLANTED)
        stub = signed_stub({"run.bat": script, "setup.bat": GENUINE})
        assert wine.run_with_temp(stub, wine.windows_temp[:-5] + name) == (0, 0)
        assert not ran(wine, "planted-ran.txt"), "the user's script ran elevated"
        assert (wine.marks / "genuine-ran.txt").exists()
        assert (temp / "unpack.log").exists(), "the log stays where the caller's TEMP is"

    # Neither is the account's own temporary directory: nothing of the run's is written there,
    # not even its log, and an unpack tree there stays as it is.
    @pytest.mark.parametrize("folder", [["Program Files", "Vendor Data"], ["windows", "system32"]],
                             ids=["vendor", "system32"])
    def test_someone_elses_folder_gets_nothing_of_the_run(self, wine, signed_stub, folder):
        other = wine.prefix.joinpath("drive_c", *folder)
        made = not other.exists()
        plant(other / "unpack" / "db", "records.db", b"the vendor's records")
        try:
            stub = signed_stub({"run.bat": GENUINE})
            assert wine.run_with_temp(stub, "C:\\" + "\\".join(folder)) == (0, 0)
            assert (other / "unpack" / "db" / "records.db").read_bytes() == \
                b"the vendor's records"
            assert (wine.marks / "genuine-ran.txt").exists()
            assert not (other / "unpack.log").exists()
            assert not (other / "unpack.log.txt").exists()
        finally:
            shutil.rmtree(other if made else other / "unpack", ignore_errors=True)

    def test_a_network_share_is_never_extracted_into(self, wine, signed_stub, payload_exe):
        share = wine.prefix / "dosdevices" / "unc" / "server" / "share" / "tmp"
        share.mkdir(parents=True)
        try:
            stub = signed_stub({"payload.exe": payload_exe.read_bytes()})
            assert wine.run_with_temp(stub, r"\\server\share\tmp", "payload.exe", "x") == (0, 0)
            record = (wine.marks / "payload-record.txt").read_text(encoding="utf-8").lower()
            assert f"cwd:{wine.windows_folder[:-1].lower()}" in record, record
            assert not (share / "unpack").exists()
            assert not (share / "unpack.log").exists()
        finally:
            shutil.rmtree(wine.prefix / "dosdevices" / "unc", ignore_errors=True)


def test_a_line_break_in_the_parameters_forges_no_log_line(wine, signed_stub, payload_exe):
    forged = "[4242]2026-01-01 00:00:00  [CUnPackFileApp::InitInstance] execute done code:0"
    stub = signed_stub({"payload.exe": payload_exe.read_bytes()})
    assert wine.run(stub, "payload.exe", f"a\r\n{forged}") == (0, 0)
    lines = wine.log_lines()  # each one a whole line of its own
    assert not any(line.pid == 4242 for line in lines)
    # Pairs of blanks in the parameters become one, as they always have.
    assert any(line.message.startswith(f"{INIT} dir:") and "a\\r\\n[4242]2026-01-01 " in
               line.message for line in lines), [line.message for line in lines]


def test_names_squatted_in_the_callers_directory_change_nothing(wine, signed_stub):
    (wine.temp / "unpack.log").mkdir()
    (wine.temp / "unpack.log.txt").mkdir()
    try:
        stub = signed_stub({"run.bat": GENUINE})
        assert wine.run(stub) == (0, 0)
        assert (wine.marks / "genuine-ran.txt").exists()
        assert not any((wine.temp / "unpack.log").iterdir())
        assert not any((wine.temp / "unpack.log.txt").iterdir())
    finally:
        (wine.temp / "unpack.log").rmdir()
        (wine.temp / "unpack.log.txt").rmdir()


class TestTheMachinesTemporaryDirectory:
    def test_a_folder_a_user_made_there_is_never_used_nor_touched(self, wine, signed_stub,
                                                                  payload_exe):
        plant(wine.folder, "run.bat")
        holder = wine.start(payload_exe, "--hold", wine.windows_folder + "run.bat",
                            "--sleep", "60000")
        try:
            assert wait_for(lambda: (wine.marks / "payload-record.txt").exists()), "no holder"
            stub = signed_stub({"run.bat": GENUINE})
            assert wine.run(stub) == (0, 0)
            assert not ran(wine, "planted-ran.txt")
            assert (wine.marks / "genuine-ran.txt").exists()
            assert (wine.folder / "run.bat").read_bytes() == PLANTED
            taken = [m for m in wine.messages() if m.startswith(
                f"{GET_DIR} {wine.windows_folder} is taken and stays as it is; extracting into "
                f"{wine.windows_folder[:-1]}.")]
            assert len(taken) == 1, wine.messages()
            assert wine.run_folders() == [wine.folder], "the fresh folder stayed"
        finally:
            run_wine(["taskkill", "/f", "/im", "payload.exe"])
            holder.wait(timeout=60)

    def test_a_file_where_the_folder_should_be_stays(self, wine, signed_stub):
        wine.folder.write_bytes(b"left by anything")
        stub = signed_stub({"run.bat": GENUINE})
        assert wine.run(stub) == (0, 0)
        assert (wine.marks / "genuine-ran.txt").exists()
        assert wine.folder.read_bytes() == b"left by anything"

    def test_the_folder_cannot_be_renamed_while_the_installer_runs(self, wine, pack,
                                                                   payload_exe):
        stub = pack({"payload.exe": payload_exe.read_bytes()})
        running = wine.start(stub, "payload.exe", "--sleep", "8000")
        try:
            assert wait_for(lambda: any("execute wait" in m for m in wine.messages()))
            renamed = run_wine(["cmd", "/c", "ren", wine.windows_folder[:-1], "moved"])
            assert renamed.returncode != 0 or not (wine.machine_temp / "moved").exists()
            assert (wine.folder / "payload.exe").exists()
        finally:
            running.wait(timeout=60)
        assert not (wine.machine_temp / "moved").exists()
        assert not wine.folder.exists()
