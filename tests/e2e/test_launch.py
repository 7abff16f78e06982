"""The stub end to end under Wine: the two launch modes, what the installer receives, the wait
and the clean-up, the single-instance refusal and the OS gate. Every stub here is the real one,
packed by the packing tool."""

import os
import re

from conftest import run_end, run_wine, wait_for

INIT = "[CUnPackFileApp::InitInstance]"

RUN_BAT = b"@echo off\r\necho script ran in %CD%\r\ntype setup.ini\r\nexit /b 3\r\n"
SETUP_INI = b"[Setup]\r\nName=sample\r\n"


def default_command_file():
    # The command processor by its full path, never searched for. A 32-bit stub on 64-bit
    # Windows reaches the 64-bit one through sysnative; the 64-bit build that stands in for it on
    # hosts without 32-bit support has no WOW64.
    if os.environ.get("STUB_ARCH") == "x86_64":
        return "C:\\windows\\system32\\cmd.exe"
    return "C:\\windows\\sysnative\\cmd.exe"


def launch_lines(messages):
    """The lines from the command's log line to the end of the run, but for the line naming the
    installer's TEMP (test_elevated_launch's to check), which follows the command's, and the
    run's closing line, which must end them."""
    run_end(messages)
    start = next(i for i, m in enumerate(messages) if m.startswith(f"{INIT} dir:"))
    return [m for m in messages[start:-1] if not m.startswith(f"{INIT} The installer's TEMP ")]


def assert_waited_launch(lines, exit_code):
    assert re.fullmatch(rf"\{INIT} execute succ 0x[0-9A-F]{{8}}", lines[1]), lines
    assert re.fullmatch(rf"\{INIT} execute wait pid:\d+", lines[2]), lines
    assert lines[3:] == [f"{INIT} execute done code:{exit_code}"]


def payload_record(wine):
    record = (wine.marks / "payload-record.txt").read_text(encoding="utf-8")
    lines = record.splitlines()
    return {
        "cmdline": lines[0].removeprefix("cmdline:"),
        "args": [line.removeprefix("arg:") for line in lines if line.startswith("arg:")],
        "cwd": lines[-1].removeprefix("cwd:"),
    }


def run_through_batch(wine, stub, tmp_path, command_line):
    """Starts the stub from a batch file, so that its raw command line is exactly the text
    given (blanks, tabs and quotes as typed), with the stub's folder as the current one."""
    batch = stub.parent / "start-stub.bat"
    batch.write_bytes(command_line.encode("ascii") + b"\r\n")
    return wine.run("cmd", "/c", wine.windows_path(batch), cwd=stub.parent)


def logged_parameters(wine):
    line = next(m for m in wine.messages() if m.startswith(f"{INIT} dir:"))
    return line.split(" param:", 1)[1]


class TestDefaultMode:
    def test_without_arguments_runs_the_script_hidden_and_captures_its_output(self, wine, pack):
        stub = pack({"run.bat": RUN_BAT, "setup.ini": SETUP_INI})
        code, boxes = wine.run(stub)
        assert (code, boxes) == (0, 0)

        lines = launch_lines(wine.messages())
        assert re.fullmatch(
            rf"\{INIT} dir:{re.escape(wine.windows_folder)}"
            rf" file:{re.escape(default_command_file())}"
            rf" param:/D /E:ON /V:OFF /c run\.bat", lines[0]), lines[0]
        # The script's own exit code is logged and changes nothing else.
        assert_waited_launch(lines, 3)

        output = (wine.temp / "unpack.log.txt").read_bytes().decode("ascii")
        assert f"script ran in {wine.windows_folder[:-1]}" in output, output
        assert "Name=sample" in output
        assert not wine.folder.exists(), "the extraction folder is deleted after the run"

    def test_a_single_argument_is_ignored(self, wine, pack):
        stub = pack({"run.bat": RUN_BAT, "setup.ini": SETUP_INI})
        assert wine.run(stub, "setup.exe") == (0, 0)

        lines = launch_lines(wine.messages())
        assert " file:" + default_command_file() + " param:/D /E:ON /V:OFF /c run.bat" in lines[0]
        assert_waited_launch(lines, 3)
        assert "Name=sample" in (wine.temp / "unpack.log.txt").read_text(encoding="ascii")

    def test_every_run_starts_with_the_os_line(self, wine, pack):
        stub = pack({"run.bat": RUN_BAT})
        wine.run(stub)
        first = wine.log_lines()[0]
        assert re.fullmatch(r"\[CUtility::OSInfo\] OS \d+\.\d+\(\d+\) .* x64:[01]", first.message)
        assert first.time, "a line of a run carries its local time"


class TestNamedFileMode:
    def test_installer_gets_the_rest_of_the_raw_command_line(self, wine, pack, payload_exe,
                                                             tmp_path):
        stub = pack({"payload.exe": payload_exe.read_bytes()})
        code, _ = run_through_batch(wine, stub, tmp_path,
                                    'setup.exe payload.exe /q "two words"   --exit 7  ')
        assert code == 0

        # Surrounding blanks are trimmed; a run of three blanks becomes two, quotes stay.
        assert logged_parameters(wine) == '/q "two words"  --exit 7'
        record = payload_record(wine)
        assert record["args"] == ["/q", "two words", "--exit", "7"]
        assert record["cwd"].rstrip("\\").lower() == wine.windows_folder[:-1].lower()

        lines = launch_lines(wine.messages())
        assert lines[0].startswith(f"{INIT} dir:") and " file:payload.exe param:" in lines[0]
        assert_waited_launch(lines, 7)
        assert not wine.folder.exists()

    def test_without_a_blank_past_the_file_the_split_arguments_are_rebuilt(self, wine, pack,
                                                                          payload_exe, tmp_path):
        stub = pack({"payload.exe": payload_exe.read_bytes()})
        # Tabs separate the arguments but are not blanks: the search finds none.
        run_through_batch(wine, stub, tmp_path, "setup.exe\tpayload.exe\tone\t\"two\"")

        assert logged_parameters(wine) == "one two "
        assert payload_record(wine)["args"] == ["one", "two"]

    def test_an_installer_that_ends_with_259_is_seen_to_end(self, wine, pack, payload_exe):
        # 259 is also what the exit-code query says of a process still running.
        stub = pack({"payload.exe": payload_exe.read_bytes()})
        assert wine.run(stub, "payload.exe", "--exit", "259", timeout=60) == (0, 0)
        assert_waited_launch(launch_lines(wine.messages()), 259)
        assert not wine.folder.exists()

    def test_a_file_without_an_association_fails_and_nothing_of_it_stays(self, wine, pack,
                                                                         payload_exe):
        # Wine registers no class for .bin: there is nothing to open it with.
        stub = pack({"payload.exe": payload_exe.read_bytes(), "data.bin": SETUP_INI})
        assert wine.run(stub, "data.bin", "/q") == (0, 0)
        assert launch_lines(wine.messages())[1:] == [f"{INIT} execute fail"]
        assert not wine.run_folders()


class TestSingleInstance:
    def test_second_stub_is_refused_with_a_box_while_the_first_waits(self, wine, pack,
                                                                      payload_exe):
        first = pack({"payload.exe": payload_exe.read_bytes()}, name="first.exe")
        second = pack({"payload.exe": payload_exe.read_bytes(), "second.txt": b"2"},
                      name="second.exe")
        running = wine.start(first, "payload.exe", "--sleep", "20000")
        try:
            assert wait_for(lambda: any("execute wait" in m for m in wine.messages())), \
                "the first stub never started waiting"
            lines_before = len(wine.log_lines())

            code, boxes = wine.run(second, "payload.exe")
            assert (code, boxes) == (0, 1)
            in_progress_box = wine.box_sizes
            messages = wine.messages()
            assert len(messages) == lines_before + 1, "a refused run writes its closing line alone"
            assert run_end(messages).how == "nothing started (another installation running)"
            assert not (wine.folder / "second.txt").exists(), "nothing is extracted"

            # The OS gate comes first: an old system is told so even while a stub runs.
            old = pack({"payload.exe": payload_exe.read_bytes()}, name="busy-vista.exe")
            wine.set_app_version("busy-vista.exe", "vista")
            try:
                assert wine.run(old, "payload.exe") == (0, 1)
            finally:
                wine.set_app_version("busy-vista.exe", None)
            # The two refusals' boxes differ in size; a box closed before its size was read
            # cannot be told.
            if all(in_progress_box + wine.box_sizes):
                assert wine.box_sizes != in_progress_box, "the in-progress box, not the OS's"
        finally:
            # Ending the installer lets the first stub finish its run as it would.
            run_wine(["taskkill", "/f", "/im", "payload.exe"])
            running.wait(timeout=60)


class TestOsGate:
    def refused(self, wine, pack, version, name):
        stub = pack({"run.bat": RUN_BAT}, name=name)
        wine.set_app_version(name, version)
        try:
            return wine.run(stub)
        finally:
            wine.set_app_version(name, None)

    def test_vista_and_xp_are_refused_with_the_upgrade_box(self, wine, pack):
        for version in ("vista", "winxp"):
            wine.clean()
            result = self.refused(wine, pack, version, f"gate-{version}.exe")
            assert result == (0, 1), (version, wine.messages())
            messages = wine.messages()
            assert len(messages) == 1, "a refused run writes its closing line alone"
            assert run_end(messages).how == "nothing started (Windows older than 7)"
            assert not wine.folder.exists(), "nothing is extracted"

    def test_windows_8_1_and_10_run_and_log_their_version(self, wine, pack):
        expected = {"win81": r"6\.3\(9600\)", "win10": r"10\.0\(\d+\) "}
        for version, pattern in expected.items():
            wine.clean()
            assert self.refused(wine, pack, version, f"gate-{version}.exe") == (0, 0)
            first = wine.messages()[0]
            assert re.match(rf"\[CUtility::OSInfo\] OS {pattern}", first), first
            assert any(m.startswith(f"{INIT} execute done") for m in wine.messages())
