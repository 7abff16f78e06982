"""Whoever starts the elevated stub chooses its environment and command line, and the desktop
user's programs can write into the temporary directory: none of that may choose what the
installer runs. Each attack is made for real under Wine against the packed stub, and the genuine
package still runs."""

import os
import shutil

import pytest

from conftest import run_wine, wait_for
from test_registry import PRODUCT, clean_registry, create_key, machine_values  # noqa: F401

INIT = "[CUnPackFileApp::InitInstance]"
GENUINE = b"@echo off\r\necho genuine %1> \"C:\\marks\\genuine-ran.txt\"\r\n"
MUTEX = r"Global\{47B9233E-7E50-46F2-B442-6A53F0D0F508}"


def drive_c(wine, *parts):
    return wine.prefix.joinpath("drive_c", *parts)


def ran_planted(wine, marker="payload-record.txt"):
    # What was planted leaves its marker in whichever temporary directory its environment names.
    return (wine.marks / marker).exists()


@pytest.fixture
def planted(wine, payload_exe):
    """Places copies of the stand-in program where the caller's variables point."""
    made = []

    def plant(*parts):
        path = drive_c(wine, *parts)
        path.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy(payload_exe, path)
        made.append(path.parts[len(drive_c(wine).parts)])
        return path

    yield plant
    for top in set(made):
        shutil.rmtree(drive_c(wine, top), ignore_errors=True)


def run_with(wine, stub, setting, *arguments):
    """Starts the stub from a command processor where the caller set `setting` first."""
    line = f"set {setting}&& {wine.windows_path(stub)} {' '.join(arguments)}".strip()
    return wine.run("cmd", "/c", line)


class TestTheCallersEnvironment:
    def test_windir_does_not_choose_the_command_processor(self, wine, pack, planted):
        planted("evilwin", "system32", "cmd.exe")
        stub = pack({"run.bat": b"@echo off\r\n\"%windir%\\system32\\cmd.exe\" /c exit 0\r\n"
                     + GENUINE[len(b"@echo off\r\n"):]})
        assert run_with(wine, stub, r"windir=C:\evilwin") == (0, 0)
        assert not ran_planted(wine), "the caller's windir chose the program run elevated"
        assert (wine.marks / "genuine-ran.txt").exists(), "\n".join(wine.messages())

    def test_path_finds_only_what_the_machine_has(self, wine, pack, planted):
        planted("userbin", "find.exe")
        planted("userbin", "tool.exe")
        stub = pack({"run.bat": b"@echo off\r\nfind /?>nul 2>nul\r\ntool 2>nul\r\n"
                     + GENUINE[len(b"@echo off\r\n"):]})
        assert run_with(wine, stub, r"PATH=C:\userbin;%PATH%") == (0, 0)
        assert not ran_planted(wine), "a program along the caller's PATH ran elevated"
        assert (wine.marks / "genuine-ran.txt").exists(), "\n".join(wine.messages())


@pytest.fixture
def batfile_class():
    """The machine's batch-file class as Windows registers it, which Wine's prefix lacks."""
    for view in ("/reg:32", "/reg:64"):
        run_wine(["reg", "add", r"HKLM\Software\Classes\.bat", "/ve", "/d", "batfile", "/f", view],
                 check=True)
        run_wine(["reg", "add", r"HKLM\Software\Classes\batfile\shell\open\command", "/ve",
                  "/d", '"%1" %*', "/f", view], check=True)
    yield
    for view in ("/reg:32", "/reg:64"):
        run_wine(["reg", "delete", r"HKLM\Software\Classes\.bat", "/f", view])
        run_wine(["reg", "delete", r"HKLM\Software\Classes\batfile", "/f", view])


ALLOWED = r"only letters, digits and / - _ . : = \ , +"


class TestANamedBatchFile:
    # Each ran the caller's program before parameters were held to a list: an operator, a for
    # loop's list closed early, a comparison split by the blank inside quotes that %~1 removes.
    @pytest.mark.parametrize("script, arguments, refused", [
        (GENUINE, ["x", "&", r"C:\launch\evil.exe"], "&"),
        (GENUINE, ["x", "|", r"C:\launch\evil.exe"], "|"),
        (b"@echo off\r\nfor %%a in (%*) do echo %%a\r\n",
         ["/q", "x)", "do", r"C:\launch\evil.exe", "("], ")"),
        (b"@echo off\r\nif %~1==/silent echo silent\r\n",
         [r"/x==/x C:\launch\evil.exe rem"], '"'),
    ], ids=["ampersand", "pipe", "for-list", "if-comparison"])
    def test_what_a_script_would_run_as_a_command_starts_nothing(self, wine, pack, planted,
                                                                 tmp_path, script, arguments,
                                                                 refused):
        planted("launch", "evil.exe")
        create_key("HKLM", PRODUCT)
        stub = pack({"install.bat": script})
        assert wine.run(stub, "install.bat", *arguments) == (0, 0)
        assert not ran_planted(wine), "the caller's command ran elevated"
        assert (f'{INIT} execute skipped: the parameters of install.bat hold "{refused}", which '
                f"a batch file is not given: {ALLOWED}") in wine.messages()
        assert not wine.folder.exists()
        assert machine_values(tmp_path, PRODUCT)["CloudAutoUpdateStatus"] == ("REG_DWORD", 999)

    def test_plain_switches_and_values_reach_it(self, wine, pack):
        stub = pack({"install.bat": b"@echo off\r\necho %*> \"C:\\marks\\genuine-ran.txt\"\r\n"})
        assert wine.run(stub, "install.bat", "/quiet", "/norestart", "-s",
                        r"INSTALLDIR=C:\Apps\Tool") == (0, 0)
        assert ((wine.marks / "genuine-ran.txt").read_bytes().strip()
                == rb"/quiet /norestart -s INSTALLDIR=C:\Apps\Tool")


class TestAnExtractedFileRewrittenBeforeItRuns:
    """A program of the user's polls the script while the stub still extracts a large entry
    after it, and rewrites it the moment it may open it for writing. Each file is held from the
    moment its writer closes; a program that opens it in that moment makes the stub refuse the
    package (where no access-control list protects the folder nothing else can stop it), one
    that comes later cannot open it until the installer has ended."""

    @pytest.mark.parametrize("mode", ["default", "named"])
    def test_what_runs_is_what_was_extracted(self, wine, pack, payload_exe, mode, request):
        name = "run.bat" if mode == "default" else "install.bat"
        if mode == "named":
            request.getfixturevalue("batfile_class")  # where a named batch file once ran
        stub = pack({name: GENUINE, "payload.bin": os.urandom(120 * 1024 * 1024)})
        watcher = wine.start(payload_exe, "--rewrite", wine.windows_folder + name,
                             "--sleep", "20000")
        try:
            assert wait_for(lambda: (wine.marks / "payload-record.txt").exists()), "no watcher"
            arguments = [] if mode == "default" else [name, "x"]
            assert wine.run(stub, *arguments) == (0, 0)
        finally:
            watcher.wait(timeout=60)
        assert not ran_planted(wine, "planted-ran.txt"), "the rewritten script ran elevated"
        refused = (f"[CUnPack::UnPackFiles] Package refused: {name} in the extraction folder was "
                   "changed or put there by another program; nothing of it is kept")
        if refused in wine.messages():
            assert not (wine.marks / "genuine-ran.txt").exists()
            assert not wine.folder.exists()
        else:
            assert (wine.marks / "genuine-ran.txt").exists(), "\n".join(wine.messages())


@pytest.mark.parametrize("kind, said", [
    ("--mutex", "The single-instance mutex is held by a program without administrator rights "
                "(owner none): it is no installation, the run goes on"),
    ("--event", "The single-instance mutex's name is taken by an object of another kind: it is "
                "no installation, the run goes on unguarded"),
], ids=["mutex", "event"])
def test_the_guards_name_taken_by_a_user_stops_nothing(wine, pack, payload_exe, kind, said):
    squatter = wine.start(payload_exe, kind, MUTEX, "--sleep", "60000")
    try:
        assert wait_for(lambda: (wine.marks / "payload-record.txt").exists()), "no squatter"
        stub = pack({"run.bat": GENUINE})
        assert wine.run(stub) == (0, 0)
        assert f"{INIT} {said}" in wine.messages()
        assert (wine.marks / "genuine-ran.txt").exists(), "\n".join(wine.messages())
    finally:
        run_wine(["taskkill", "/f", "/im", "payload.exe"])
        squatter.wait(timeout=60)
