"""stubpack.exe, the packing tool for Windows, under Wine: every command gives the same exit
status, messages and bytes as the Linux tool, whose behaviour the packer tests pin down. Both
run with the same relative paths from the same kind of folder, so their messages can be
compared as they stand. What differs by design: the Windows tool expands wildcards itself, as
cmd leaves them to it, and names signtool where the Linux tool names osslsigncode."""

import random
import re
import shutil
import subprocess
from pathlib import Path

import pytest

from conftest import required_env, run_wine

INPUTS = {
    "run.bat": b"@echo off\r\nexit /b 0\r\n",
    "data.bin": random.Random(11).randbytes(70001),
    "empty.ini": b"",
    # Compressed: both tools' encoders must write the same stream.
    "readme.txt": b"the same line, over and over\r\n" * 2000,
}
# A folder tree beside them, made in an order other than the one it is packed in.
TREE = {
    "tree/lang/fr/readme.txt": b"Bonjour\r\n",
    "tree/b.cab": random.Random(12).randbytes(3000),
    "tree/A.cab": b"A",
    "tree/lang/de.txt": b"Hallo\r\n",
    # Names beyond ASCII: the Windows tool reads them as UTF-16 and stores the same UTF-8.
    "tree/lang/fran\u00e7ais/Gr\u00fc\u00dfe.txt": b"Gr\xc3\xbc\xc3\x9fe\r\n",
    "tree/\u65e5\u672c\u8a9e/\u8a2d\u5b9a.txt": b"1",
}
SIGNATURE_NOTES = {
    "linux": "note: the signature is not checked; osslsigncode verify -CAfile CERT -in FILE "
             "checks it\n",
    "windows": "note: the signature is not checked; signtool verify /pa FILE checks it\n",
}


@pytest.fixture(scope="session")
def stubpack_exe():
    return Path(required_env("STUBPACK_EXE"))


@pytest.fixture
def tools(stubpack, stubpack_exe, tmp_path):
    """run(tool, *args) in tmp_path/<tool>, for tool "linux" or "windows"; both folders see the
    stub and the inputs at ../UnPackFile.exe and ../in/."""
    shutil.copyfile(required_env("STUB"), tmp_path / "UnPackFile.exe")
    (tmp_path / "in").mkdir()
    for name, content in {**INPUTS, **TREE}.items():
        (tmp_path / "in" / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / "in" / name).write_bytes(content)
    (tmp_path / "in" / "tree" / "empty").mkdir()

    def run(tool, *args):
        folder = tmp_path / tool
        folder.mkdir(exist_ok=True)
        # Text mode: the Windows tool ends its lines with CR LF, as Windows programs do.
        if tool == "windows":
            return run_wine([stubpack_exe, *args], text=True, cwd=folder, timeout=120)
        return subprocess.run([str(stubpack), *args], cwd=folder, capture_output=True,
                              text=True, timeout=120)

    return run


def outcome(done, tool=None):
    """Exit status, output and messages; with `tool`, check's note on the signature, which names
    that platform's command, taken out."""
    out = done.stdout
    if tool and out.endswith(SIGNATURE_NOTES[tool]):
        out = out[:-len(SIGNATURE_NOTES[tool])]
    return done.returncode, out, done.stderr


CREATE = ["create", "--stub", "../UnPackFile.exe", "--output", "setup.exe",
          *[f"../in/{name}" for name in INPUTS]]


def test_create_list_check_and_extract_match_the_linux_tool(tools, tmp_path):
    linux = tools("linux", *CREATE)
    assert linux.returncode == 0, linux.stderr
    windows = tools("windows", *CREATE)
    assert outcome(windows) == outcome(linux)
    packed = (tmp_path / "windows" / "setup.exe").read_bytes()
    assert packed == (tmp_path / "linux" / "setup.exe").read_bytes()

    # Packing again is refused; with --force it replaces the output (a rename over an existing
    # file on Windows) with the same bytes: nothing of the moment or the machine goes into a
    # package.
    (tmp_path / "windows" / "setup.exe").write_bytes(b"older")
    windows = tools("windows", *CREATE)
    assert windows.returncode == 1
    assert outcome(windows) == outcome(tools("linux", *CREATE))
    assert (tmp_path / "windows" / "setup.exe").read_bytes() == b"older"
    assert tools("windows", "create", "--force", *CREATE[1:]).returncode == 0
    assert (tmp_path / "windows" / "setup.exe").read_bytes() == packed

    extract = ["extract", "setup.exe", "out"]
    for status, command in ((0, ["list", "setup.exe"]), (0, ["check", "setup.exe"]),
                            (0, extract), (1, extract), (0, ["extract", "--force", *extract[1:]])):
        windows = tools("windows", *command)
        assert windows.returncode == status, (command, windows.stderr)
        assert outcome(windows, "windows") == outcome(tools("linux", *command), "linux"), command
    extracted = {p.name: p.read_bytes() for p in (tmp_path / "windows" / "out").iterdir()}
    assert extracted == INPUTS
    check = tools("windows", "check", "setup.exe").stdout
    assert check.splitlines()[0].endswith(", exit code: installer, wait for children: 600 s")
    assert "\nentry 4 'readme.txt': " in check and " 60000 extracted (lzma)\n" in check, check
    assert check.endswith(SIGNATURE_NOTES["windows"]), check


def test_a_folder_tree_and_a_response_file_match_the_linux_tool(tools, tmp_path):
    """A folder is stored under its own name with everything below it, sorted, whatever order the
    file system lists it in; a response file's paths are relative to its folder."""
    (tmp_path / "in" / "list.txt").write_bytes(b"\xef\xbb\xbfrun.bat\r\n\r\ntree\r\n")
    create = ["create", "--stub=../UnPackFile.exe", "--output=tree.exe", "--wait-children=30",
              "@../in/list.txt"]
    linux = tools("linux", *create)
    assert linux.returncode == 0, linux.stderr
    assert outcome(tools("windows", *create)) == outcome(linux)
    packed = (tmp_path / "windows" / "tree.exe").read_bytes()
    assert packed == (tmp_path / "linux" / "tree.exe").read_bytes()

    listed = tools("windows", "list", "tree.exe")
    assert outcome(listed) == outcome(tools("linux", "list", "tree.exe"))
    assert [line.split("\t")[1] for line in listed.stdout.splitlines()[1:]] == [
        "run.bat", "tree\\A.cab", "tree\\b.cab", "tree\\lang\\de.txt", "tree\\lang\\fr\\readme.txt",
        "tree\\lang\\fran\u00e7ais\\Gr\u00fc\u00dfe.txt", "tree\\\u65e5\u672c\u8a9e\\\u8a2d\u5b9a.txt"]
    assert listed.stdout.splitlines()[0].endswith("wait for children: 30 s")

    extract = ["extract", "tree.exe", "out"]
    assert outcome(tools("windows", *extract)) == outcome(tools("linux", *extract))
    out = tmp_path / "windows" / "out"
    extracted = {"/".join(p.relative_to(out).parts): p.read_bytes()
                 for p in out.rglob("*") if p.is_file()}
    assert extracted == {"run.bat": INPUTS["run.bat"], **TREE}


def test_the_windows_tool_expands_wildcards_as_the_linux_shell_does(tools, tmp_path):
    """cmd hands "*.bin" to the program as typed: stubpack.exe expands it, sorted by name, to what
    the Linux shell gives the Linux tool, folders included."""
    patterns = ["../in/*.ini", "../in/R?N.*", "../in/*.bin", "../in/tr*"]
    expanded = ["../in/empty.ini", "../in/run.bat", "../in/data.bin", "../in/tree"]
    common = ["create", "--stub", "../UnPackFile.exe", "--output", "wild.exe"]
    linux = tools("linux", *common, *expanded)
    assert linux.returncode == 0, linux.stderr
    assert outcome(tools("windows", *common, *patterns)) == outcome(linux)
    packed = [(tmp_path / tool / "wild.exe").read_bytes() for tool in ("windows", "linux")]
    assert packed[0] == packed[1]

    nothing = tools("windows", "create", "--stub", "../UnPackFile.exe", "--output", "none.exe",
                    "../in/run.bat", "../in/*.cab")
    assert outcome(nothing) == (1, "", "stubpack create: '../in/*.cab' matches no file or "
                                       "folder\n")
    assert not (tmp_path / "windows" / "none.exe").exists()
    # The Linux tool leaves what the shell left.
    assert tools("linux", *common[:-1], "star.exe", "../in/*.cab").stderr == (
        "stubpack create: '../in/*.cab' does not exist\n")


def test_refusals_usage_and_help_match_the_linux_tool(tools, tmp_path):
    cases = {
        "missing input": (1, ["create", "--stub", "../UnPackFile.exe", "--output", "x.exe",
                              "../in/run.bat", "../in/absent.txt"]),
        "not a package": (1, ["check", "../in/run.bat"]),
        "no command": (2, []),
        "wrong count": (2, ["extract", "setup.exe"]),
        "help": (0, ["--help"]),
        "command help": (0, ["create", "--help"]),
        "version": (0, ["--version"]),
        "an option's value is no help": (0, ["create", "--output", "-h", "--stub",
                                             "../UnPackFile.exe", "../in/run.bat"]),
        "no run.bat": (0, ["create", "--stub", "../UnPackFile.exe", "--output", "norun.exe",
                           "../in/data.bin"]),
        "unknown option": (2, ["extract", "--stub", "setup.exe", "out"]),
        "exit code installer": (0, ["create", "--exit-code", "installer", "--stub",
                                    "../UnPackFile.exe", "--output", "exitcode.exe",
                                    "../in/run.bat"]),
        "exit code reported": (0, ["list", "exitcode.exe"]),
        "exit code zero": (0, ["create", "--exit-code=zero", "--quiet", "--stub",
                               "../UnPackFile.exe", "--output", "zero.exe", "../in/data.bin"]),
        "wait out of range": (2, ["create", "--wait-children", "604801", "--stub",
                                  "../UnPackFile.exe", "--output", "never.exe", "../in/run.bat"]),
        "unknown exit code": (2, ["create", "--exit-code", "always", "--stub",
                                  "../UnPackFile.exe", "--output", "never.exe", "../in/run.bat"]),
        # Redirected, both write the same UTF-8 bytes.
        "non-ASCII output": (0, ["create", "--stub", "../UnPackFile.exe", "--output",
                                 "Set\u00fcp.exe", "../in/run.bat"]),
        "non-ASCII input": (1, ["list", "../in/abs\u00e9nt.exe"]),
    }
    ran = {}
    for case, (status, args) in cases.items():
        windows = tools("windows", *args)
        assert windows.returncode == status, (case, windows.stderr)
        assert outcome(windows) == outcome(tools("linux", *args)), case
        ran[case] = windows
    assert not (tmp_path / "windows" / "x.exe").exists(), "a refused create wrote its output"
    assert (tmp_path / "windows" / "-h").stat().st_size > 0
    packed = [(tmp_path / tool / "exitcode.exe").read_bytes() for tool in ("windows", "linux")]
    assert packed[0] == packed[1]
    assert ", exit code: installer, wait for children: 600 s\n" in ran["exit code reported"].stdout
    assert "warning: the package has no run.bat" in ran["no run.bat"].stderr
    assert ran["exit code zero"].stderr == ""
    # One help for both, saying what differs.
    assert outcome(tools("windows", "check", "--help")) == outcome(
        tools("linux", "check", "--help"))


def test_version_names_the_commit_of_the_sources(tools):
    shown = tools("windows", "--version").stdout
    assert re.fullmatch(r"stubpack \d+\.\d+\.\d+ \(commit ([0-9a-f]{12}(-dirty)?|unknown)\)\n",
                        shown), shown
    root = Path(__file__).resolve().parents[2]
    git = [["git", "-C", str(root), "rev-parse", what] for what in ("--show-toplevel", "HEAD")]
    top, head = (subprocess.run(args, capture_output=True, text=True) for args in git)
    if top.returncode == 0 and Path(top.stdout.strip()).resolve() == root:
        assert f"(commit {head.stdout.strip()[:12]}" in shown
    else:
        assert "(commit unknown)" in shown


def test_a_console_shows_each_path_as_given(tools, stubpack_exe, tmp_path):
    """Written to a console, the tool's text goes through WriteConsoleW, so that a non-ASCII path
    reads as given rather than as UTF-8 bytes taken for the console's code page. consoletext.exe
    runs the tool in a console of its own and returns what the console shows."""
    args = ["create", "--stub", "../UnPackFile.exe", "--output", "Set\u00fcp.exe",
            "../in/data.bin"]
    linux = tools("linux", *args)
    folder = tmp_path / "console"
    folder.mkdir()
    shown = run_wine([required_env("CONSOLETEXT"), stubpack_exe, *args], cwd=folder, timeout=120)
    assert shown.returncode == 0, shown.stdout
    assert shown.stdout.decode() == linux.stdout + linux.stderr
