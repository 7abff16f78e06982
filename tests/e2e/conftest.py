"""Shared fixtures of the end-to-end scenarios: the stub run under Wine in the prefix that the
test command booted, with its temporary directory cleaned before each scenario and message boxes
found by their caption and dismissed."""

import getpass
import os
import re
import shutil
import subprocess
import tempfile
import threading
import time
from dataclasses import dataclass
from pathlib import Path

import pytest

CAPTION = "Tovari Vessor"


def use_this_workers_prefix():
    """Under pytest-xdist, worker N runs in the Nth prefix of UNPACK_WINE_ENVS, with its display:
    two workers in one prefix would share its temporary directory, registry and mutex."""
    worker = os.environ.get("PYTEST_XDIST_WORKER")
    if not worker:
        return
    envs = [entry.split(",", 1) for entry in os.environ.get("UNPACK_WINE_ENVS", "").split(";")
            if entry]
    index = int(worker.removeprefix("gw"))
    if index >= len(envs):
        raise RuntimeError(f"worker {worker} has no prefix of its own: UNPACK_WINE_ENVS "
                           f"lists {len(envs)}")
    os.environ["WINEPREFIX"], display = envs[index]
    if display:
        os.environ["DISPLAY"] = display


use_this_workers_prefix()
# The Wine loader of the build under test (the 64-bit one for a 64-bit build).
WINE = os.environ.get("WINE", "wine")
LOG_LINE = re.compile(r"^\[(\d+)\](\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)?  (.*) \(Last=(-?\d+)\)$", re.S)
# The run's closing line, the last of every run.
RUN_ENDED = re.compile(r"\[CUnPackFileApp::InitInstance\] Run ended: version (?P<version>[^,]+), "
                       r"package sha256 (?P<digest>[0-9a-f]{64}|not checked), "
                       r"(?P<how>installer ended code:-?\d+|nothing started \([^(),]+\)), "
                       r"exit code:(?P<exit>\d+)")
# The settings record's marker in a stub's image; the package's SHA-256 lies 32 bytes past it.
SETTINGS_MARKER = b"\x89stub-record\r\n\x1a\n"


def run_wine(args, text=False, **kwargs):
    """Runs a program under Wine and returns its CompletedProcess, output included. The output
    goes through temporary files, never pipes: a Wine service that the program starts inherits
    a pipe and holds it open for seconds after the program itself has ended."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        done = subprocess.run([WINE, *map(str, args)], stdout=out, stderr=err, **kwargs)
        out.seek(0)
        err.seek(0)
        done.stdout, done.stderr = out.read(), err.read()
    if text:  # as subprocess's text mode reads it, CR LF included
        done.stdout, done.stderr = (stream.decode().replace("\r\n", "\n")
                                    for stream in (done.stdout, done.stderr))
    return done


def required_env(name):
    value = os.environ.get(name)
    if not value:
        pytest.fail(f"{name} is not set: run the scenarios through the test command (ctest)")
    return value


def project_version():
    """The version of the top CMakeLists.txt's project(), the one version of the stub."""
    text = (Path(__file__).resolve().parents[2] / "CMakeLists.txt").read_text()
    return re.search(r"^project\(\w+ VERSION ([\d.]+)", text, re.M)[1]


def signed_digest(stub):
    """The package SHA-256 the packing tool recorded in `stub`'s image, in hexadecimal."""
    data = Path(stub).read_bytes()
    at = data.index(SETTINGS_MARKER) + 32
    return data[at:at + 32].hex()


@dataclass
class RunEnd:
    digest: str | None  # None: not checked
    how: str
    exit_code: int


def run_end(messages):
    """The run's closing line, which must be the last of `messages`, in its parts; it names
    the project's version."""
    assert messages, "the run wrote no line"
    match = RUN_ENDED.fullmatch(messages[-1])
    assert match, f"the last line is no closing line: {messages[-1]!r}"
    assert match["version"] == project_version(), messages[-1]
    digest = None if match["digest"] == "not checked" else match["digest"]
    return RunEnd(digest, match["how"], int(match["exit"]))


@dataclass
class LogLine:
    pid: int
    time: str
    message: str
    last: int


class BoxWatcher:
    """Dismisses every message box with the product's caption while a stub runs, and counts
    them, so that a box can never hang a run."""

    def __init__(self):
        self.seen = []
        self.sizes = []  # each box's size on screen, "WIDTHxHEIGHT"
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join()

    def _run(self):
        # A box is closed through its window (closebox.exe posts its OK button's command), never
        # by a key: Wine hands an X key event to its foreground window, and a key that misses
        # its box waits in Wine's input queue and closes the next box before anyone sees it.
        # Which box it is shows in its size, as Wine fits a box to its text: the box is closed
        # once two looks agree on it (a box just mapped may not have its size yet), or after a
        # second, and again each second while it is still up.
        closed, sizes, first_seen = {}, {}, {}
        while not self._stop.is_set():
            found = subprocess.run(
                ["xdotool", "search", "--name", f"^{CAPTION}$"],
                capture_output=True, text=True).stdout.split()
            now = time.monotonic()
            for window in found:
                if window not in self.seen:
                    self.seen.append(window)
                    first_seen[window] = now
                size = subprocess.run(["xdotool", "getwindowgeometry", window],
                                      capture_output=True, text=True).stdout
                size = size.split("Geometry:")[-1].strip() if "Geometry:" in size else ""
                settled = size != "" and size == sizes.get(window)
                if size:
                    sizes[window] = size
                if not settled and now - first_seen[window] < 1.0:
                    continue
                if now - closed.get(window, -10.0) >= 1.0:
                    closed[window] = now
                    run_wine([required_env("CLOSEBOX"), CAPTION], timeout=30)
            self.sizes = [sizes.get(window, "") for window in self.seen]
            # Each look starts a program (80 ms, most of it waiting on the X server); nothing
            # but the watcher closes a box, so a look every tenth of a second sees every one.
            self._stop.wait(0.1)


class Wine:
    def __init__(self, prefix):
        self.prefix = Path(prefix)
        self.temp = self.prefix / "drive_c" / "users" / getpass.getuser() / "Temp"
        self.windows_temp = "C:\\users\\" + getpass.getuser() + "\\Temp\\"
        self.log = self.temp / "unpack.log"
        # The elevated stub extracts into the machine's temporary directory; what it starts gets
        # a TEMP of the run's own there, gone with the run.
        self.machine_temp = self.prefix / "drive_c" / "windows" / "temp"
        self.folder = self.machine_temp / "unpack"
        # Where the scenarios' scripts and stand-in programs leave what shows they ran: C:\marks,
        # whatever TEMP they were given.
        self.marks = self.prefix / "drive_c" / "marks"
        self.windows_folder = "C:\\windows\\Temp\\unpack\\"

    @staticmethod
    def windows_path(path):
        return "Z:" + str(Path(path).resolve()).replace("/", "\\")

    def run_folders(self):
        """The extraction folders in the machine's temporary directory: unpack and unpack.*."""
        return sorted(path for path in self.machine_temp.iterdir()
                      if path.name.lower() == "unpack" or path.name.lower().startswith("unpack."))

    def clean(self):
        for folder in [*self.run_folders(), self.temp / "unpack"]:
            if folder.is_dir() and not folder.is_symlink():
                shutil.rmtree(folder, ignore_errors=True)
            elif folder.exists() or folder.is_symlink():
                folder.unlink(missing_ok=True)
        for name in ("unpack.log", "unpack.log.txt"):
            (self.temp / name).unlink(missing_ok=True)
        for kept in self.temp.glob("unpack.*.log"):
            kept.unlink()
        shutil.rmtree(self.marks, ignore_errors=True)
        self.marks.mkdir()

    def run(self, exe, *args, timeout=120, env=None, cwd=None):
        """Runs a program under Wine, dismissing product message boxes; a variable given as None
        in `env` is left out. Returns (exit code, number of boxes seen)."""
        full_env = {name: value for name, value in dict(os.environ, **(env or {})).items()
                    if value is not None}
        with BoxWatcher() as boxes:
            done = run_wine([exe, *args], env=full_env, cwd=cwd, timeout=timeout)
        self.box_sizes = boxes.sizes
        return done.returncode, len(boxes.seen)

    def run_with_temp(self, exe, temp, *args, folder=None):
        """Runs a program with TMP and TEMP set to `temp` (a Windows path, any characters), as
        the caller of an elevated program may set them, through a batch file in `folder` (a
        directory of the host): Wine takes neither from the host's environment. Returns as run
        does."""
        script = Path(folder or tempfile.mkdtemp()) / "with-temp.bat"
        # Quoted where the text needs it, as a caller types it: a batch file is given no quotes.
        line = " ".join(f'"{arg}"' if not arg or " " in arg else arg
                        for arg in [self.windows_path(exe), *args])
        script.write_bytes((f'@set "TMP={temp}"\r\n@set "TEMP={temp}"\r\n@{line}\r\n')
                           .encode("cp1252"))
        return self.run("cmd", "/c", self.windows_path(script))

    def run_for_code(self, exe, *args, through=None, timeout=120):
        """Runs a program under Wine through a program that prints its whole exit code
        (`through`, exitcode.exe unless given), dismissing product message boxes. Returns (exit
        code, number of boxes seen)."""
        with BoxWatcher() as boxes:
            done = run_wine([*(through or [required_env("EXITCODE")]), exe, *args], text=True,
                            timeout=timeout)
        match = re.search(r"exit code (\d+)", done.stdout)
        assert match, f"no exit code printed: {done.stdout!r} {done.stderr!r}"
        return int(match[1]), len(boxes.seen)

    def start(self, exe, *args, env=None):
        full_env = dict(os.environ, **(env or {}))
        return subprocess.Popen([WINE, str(exe), *args], env=full_env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def extract_and_look(self, stub, payload="payload.exe"):
        """Runs `stub` in named-file mode with its packaged stand-in installer `payload` sleeping,
        and returns what lay in the extraction folder while it ran ({"data\\a.cab": bytes}),
        the installer left out: after the run the folder is gone."""
        process = self.start(stub, payload, "--sleep", "4000")
        try:
            assert wait_for(lambda: process.poll() is not None or any(
                m.startswith("[CUnPackFileApp::InitInstance] execute wait pid:")
                for m in self.messages())), "the installer never started"
            files = {str(path.relative_to(self.folder)).replace("/", "\\"): path.read_bytes()
                     for path in self.folder.rglob("*") if path.is_file()}
        finally:
            process.wait(timeout=120)
        files.pop(payload, None)
        return files

    def log_lines(self):
        # Read while the stub may be appending (a scenario polling for a line): a line half
        # written is read again a moment later; a log left so is wrong, and the checks below say so.
        for _ in range(40):
            if not self.log.exists():
                return []
            raw = self.log.read_bytes()
            if not raw:
                return []  # created, its first line not yet written
            if raw.endswith("\r\n".encode("utf-16-le")):
                break
            time.sleep(0.05)
        assert not raw.startswith(b"\xff\xfe"), "the log must not start with a byte-order mark"
        text = raw.decode("utf-16-le")
        assert text.endswith("\r\n"), "every line ends in CR LF"
        lines = []
        for line in text.split("\r\n")[:-1]:
            match = LOG_LINE.match(line)
            assert match, f"not a log line: {line!r}"
            lines.append(LogLine(int(match[1]), match[2] or "", match[3], int(match[4])))
        return lines

    def messages(self):
        return [line.message for line in self.log_lines()]

    def set_app_version(self, exe_name, version):
        key = rf"HKCU\Software\Wine\AppDefaults\{exe_name}"
        if version is None:
            run_wine(["reg", "delete", key, "/f"])
        else:
            run_wine(["reg", "add", key, "/v", "Version", "/t", "REG_SZ", "/d", version, "/f"],
                     check=True)


@pytest.fixture(scope="session")
def wine():
    return Wine(required_env("WINEPREFIX"))


@pytest.fixture(autouse=True)
def clean_temp(wine):
    wine.clean()
    yield
    wine.clean()


@pytest.fixture(scope="session")
def stub_image():
    return Path(required_env("STUB")).read_bytes()


@pytest.fixture(scope="session")
def payload_exe():
    return Path(required_env("PAYLOAD"))


@pytest.fixture(scope="session")
def stubpack():
    path = Path(required_env("STUBPACK"))
    if not path.exists():
        pytest.fail(f"the packing tool is not built: {path}")
    return path


@pytest.fixture(scope="session")
def signing_key(tmp_path_factory):
    folder = tmp_path_factory.mktemp("cert")
    key, cert = folder / "key.pem", folder / "cert.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                    "-keyout", key, "-out", cert, "-days", "30", "-subj", "/CN=Test",
                    "-addext", "extendedKeyUsage=codeSigning"],
                   check=True, capture_output=True)
    return key, cert


@pytest.fixture
def pack(stubpack, tmp_path):
    """pack(files, name="setup.exe", options=()) builds a stub carrying `files` ({name: bytes})
    with the packing tool (`options` added to its create command) and returns its path. The
    scenarios read exit code 0 unless they ask for --exit-code installer, or for the tool's own
    defaults (`tool_defaults`)."""

    def make(files, name="setup.exe", folder=None, options=(), tool_defaults=False):
        folder = Path(folder or tmp_path)
        sources = folder / "sources"
        sources.mkdir(parents=True, exist_ok=True)
        paths = []
        for file_name, content in files.items():
            path = sources / file_name
            path.write_bytes(content)
            paths.append(str(path))
        output = folder / name
        if not tool_defaults and not any(option.startswith("--exit-code") for option in options):
            options = ("--exit-code", "zero", *options)
        subprocess.run([str(stubpack), "create", *options, "--stub", required_env("STUB"),
                        "--output", str(output), *paths], check=True, capture_output=True)
        return output

    return make


@pytest.fixture
def sign(signing_key):
    def make(unsigned, signed):
        key, cert = signing_key
        subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256",
                        "-in", unsigned, "-out", signed], check=True, capture_output=True)
        subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", signed],
                       check=True, capture_output=True)
        return Path(signed)

    return make


def wait_for(condition, timeout=30.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.1)
    return False
