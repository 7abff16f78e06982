"""What the real stub leaves in the registry under Wine: the deployment code carried in its file
name, and the start time and launch status in the product key in use. The registry is read from
the 64-bit view, where the stub's 32-bit keys lie below Wow6432Node."""

import calendar
import re
import time

import pytest

from conftest import Wine, run_wine, wait_for

VENDOR = r"Software\Tovari Inc."
PRODUCT = r"Software\Tovari Inc.\Tovari Remote Server"
BUSINESS = r"Software\Tovari Inc.\Tovari Remote Server for Business"
DEPLOYMENT_VALUES = ["CloudRegion", "Confirm_d", "CQHSMode", "DCode", "CQHSLogin"]
BOOKKEEPING_VALUES = ["CloudAutoUpdateTimeStart", "CloudAutoUpdateStatus"]

# Named-file mode with a file the package does not hold: nothing is started.
REFUSED_LAUNCH = ("missing.exe", "x")
QUICK_SCRIPT = b"@echo off\r\nexit /b 0\r\n"
NEW_YORK = {"TZ": "America/New_York"}

REG_ENTRY = re.compile(r'^"((?:[^"\\]|\\.)*)"=(.*)$')


def reg(*args):
    return run_wine(["reg", *args], timeout=60)


def thirty_two_bit(path):
    """The 64-bit view's name for a key of the 32-bit view under HKEY_LOCAL_MACHINE\\Software."""
    assert path.startswith("Software\\")
    return "Software\\Wow6432Node\\" + path.removeprefix("Software\\")


def parse_reg_file(data):
    """The values of the first key of a file written by `reg export`: {name: (type, value)}."""
    text = data.decode("utf-16")
    values = {}
    sections = 0
    for line in text.splitlines():
        if line.startswith("["):
            sections += 1
            continue
        match = REG_ENTRY.match(line)
        if sections != 1 or not match:
            continue
        name = re.sub(r"\\(.)", r"\1", match[1])
        data_text = match[2]
        if data_text.startswith('"'):
            values[name] = ("REG_SZ", re.sub(r"\\(.)", r"\1", data_text[1:-1]))
        elif data_text.startswith("dword:"):
            values[name] = ("REG_DWORD", int(data_text[6:], 16))
        else:
            values[name] = ("other", data_text)
    return values


def machine_values(tmp_path, path, view="32"):
    """The values of HKEY_LOCAL_MACHINE\\path in the stub's 32-bit view (read from the 64-bit
    view below Wow6432Node) or in the 64-bit view; None when the key does not exist."""
    key = thirty_two_bit(path) if view == "32" else path
    out = tmp_path / "export.reg"
    out.unlink(missing_ok=True)
    done = reg("export", "HKLM\\" + key, f"Z:{out}".replace("/", "\\"), "/y", "/reg:64")
    if done.returncode != 0:
        return None
    return parse_reg_file(out.read_bytes())


def root_value_names():
    """The names of the values in the root of HKEY_LOCAL_MACHINE, in either view."""
    names = set()
    for view in ("/reg:32", "/reg:64"):
        listing = reg("query", "HKLM", view).stdout.decode(errors="replace")
        names |= {m[1] for m in re.finditer(r"^    (\S+)    REG_", listing, re.M)}
    return names


def set_dword(root, path, name, value):
    reg("add", f"{root}\\{path}", "/v", name, "/t", "REG_DWORD", "/d", str(value), "/f",
        "/reg:32").check_returncode()


def set_string(root, path, name, value):
    reg("add", f"{root}\\{path}", "/v", name, "/t", "REG_SZ", "/d", value, "/f",
        "/reg:32").check_returncode()


def create_key(root, path):
    reg("add", f"{root}\\{path}", "/f", "/reg:32").check_returncode()


def utc_seconds(text):
    return calendar.timegm(time.strptime(text, "%Y-%m-%d %H:%M:%S"))


@pytest.fixture(autouse=True)
def clean_registry(tmp_path):
    # One import deletes the vendor's keys in both views and any value a keyless write left in
    # the root: a Wine process per key and value would cost seconds. The 32-bit view is named by
    # its place below Wow6432Node, as a 64-bit reg.exe imports into its own view whatever /reg:
    # says, and the 64-bit one is all some hosts can run.
    lines = ["Windows Registry Editor Version 5.00", ""]
    for root in ("HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER"):
        lines.append(f"[-{root}\\{VENDOR}]")
        lines.append(f"[-{root}\\{thirty_two_bit(VENDOR)}]")
    lines.append("[HKEY_LOCAL_MACHINE]")
    lines += [f'"{name}"=-' for name in DEPLOYMENT_VALUES + BOOKKEEPING_VALUES]
    deletions = tmp_path / "clean.reg"
    deletions.write_text("\r\n".join(lines) + "\r\n", encoding="utf-16")

    def clean():
        # On a busy host Wine now and then fails to start a program ("ShellExecuteEx failed"):
        # once more, then the scenario fails rather than run on an earlier one's keys.
        for _ in range(2):
            if reg("import", Wine.windows_path(deletions), "/reg:64").returncode == 0:
                return
        pytest.fail("the vendor's keys could not be deleted")

    clean()
    yield
    clean()


def run_named(wine, pack, tmp_path, name, *args, folder=None):
    stub = pack({"run.bat": QUICK_SCRIPT}, name=name, folder=folder or tmp_path / "stub")
    code, boxes = wine.run(stub, *args)
    assert (code, boxes) == (0, 0)
    return stub


class TestDeploymentCode:
    def assert_nothing_written(self, tmp_path):
        assert machine_values(tmp_path, VENDOR) is None, "the vendor key was created"
        assert not root_value_names() & set(DEPLOYMENT_VALUES)

    def test_name_without_dash_writes_nothing(self, wine, pack, tmp_path):
        run_named(wine, pack, tmp_path, "setupABCDEFGHIJKLus.exe", *REFUSED_LAUNCH)
        self.assert_nothing_written(tmp_path)

    def test_lower_case_region_is_written_in_upper_case(self, wine, pack, tmp_path):
        run_named(wine, pack, tmp_path, "setup-ABCDEFGHIJKLus.exe", *REFUSED_LAUNCH)
        values = machine_values(tmp_path, PRODUCT)
        assert values["CloudRegion"] == ("REG_SZ", "US")
        assert values["DCode"] == ("REG_SZ", "ABCDEFGHIJKLUS")
        assert values["Confirm_d"] == values["CQHSMode"] == ("REG_DWORD", 1)
        assert values["CQHSLogin"] == ("REG_DWORD", 0)
        # The 32-bit view only: nothing in the 64-bit product key, nothing in the business one.
        assert machine_values(tmp_path, VENDOR, view="64") is None
        assert machine_values(tmp_path, BUSINESS) is None

    def test_non_ascii_letters_count_and_keep_their_case(self, wine, pack, tmp_path):
        # A with diaeresis in the code, e acute in the region: letters by the system's rules;
        # only a to z are upper-cased.
        run_named(wine, pack, tmp_path, "setup-\u00c4BCDEFGHIJK1\u00e9u.exe", *REFUSED_LAUNCH)
        values = machine_values(tmp_path, PRODUCT)
        assert values["DCode"] == ("REG_SZ", "\u00c4BCDEFGHIJK1\u00e9U")
        assert values["CloudRegion"] == ("REG_SZ", "\u00e9U")

    def test_key_made_for_the_code_also_receives_the_bookkeeping(self, wine, pack, tmp_path):
        # The product key does not exist before the run: the deployment code creates it before
        # the start time is recorded, so the refused launch is recorded there too.
        run_named(wine, pack, tmp_path, "setup-ABCDEFGHIJKL.exe", *REFUSED_LAUNCH)
        values = machine_values(tmp_path, PRODUCT)
        assert values["CloudAutoUpdateStatus"] == ("REG_DWORD", 999)
        assert values["CloudAutoUpdateTimeStart"][0] == "REG_SZ"


class TestBookkeeping:
    def test_installer_with_a_non_zero_exit_code_records_status_zero(self, wine, pack,
                                                                    tmp_path):
        create_key("HKLM", PRODUCT)
        set_string("HKLM", PRODUCT, "CloudAutoUpdateTimeStart", "2000-01-01 00:00:00")
        set_dword("HKLM", PRODUCT, "CloudAutoUpdateStatus", 12345)
        during = wine.marks / "during-launch.reg"
        during.unlink(missing_ok=True)
        script = (b"@echo off\r\n"
                  b'reg export "HKLM\\' + PRODUCT.encode() + b'" "C:\\marks\\during-launch.reg"'
                  b" /y /reg:32 >nul\r\n"
                  b"exit /b 3\r\n")
        stub = pack({"run.bat": script}, name="setup.exe")

        started = time.time()
        process = wine.start(stub, env=NEW_YORK)
        try:
            assert wait_for(during.exists, timeout=60), "the script did not run"
            seen = time.time()
            assert process.wait(timeout=60) == 0
        finally:
            process.kill()
        messages = wine.messages()
        during_values = parse_reg_file(during.read_bytes())
        during.unlink()

        assert "[CUnPackFileApp::InitInstance] execute done code:3" in messages
        # While the installer ran: the new start time, the old status.
        start_text = during_values["CloudAutoUpdateTimeStart"][1]
        assert during_values["CloudAutoUpdateStatus"] == ("REG_DWORD", 12345)
        # The start time is the true UTC time at the launch, which lies between the stub's
        # start and the moment the script was seen running.
        assert started - 2 <= utc_seconds(start_text) <= seen + 2, start_text

        after = machine_values(tmp_path, PRODUCT)
        assert after["CloudAutoUpdateTimeStart"] == ("REG_SZ", start_text)
        assert after["CloudAutoUpdateStatus"] == ("REG_DWORD", 0)

        # The stub really ran away from UTC: its log shows New York's wall clock.
        local = next(line.time for line in wine.log_lines() if "execute succ" in line.message)
        offset = utc_seconds(local) - utc_seconds(start_text)
        assert offset in range(-5 * 3600 - 60, -4 * 3600 + 60), (local, start_text)

    def test_a_launch_refused_records_999_after_the_start_time(self, wine, pack, tmp_path):
        create_key("HKLM", PRODUCT)
        stub = pack({"run.bat": QUICK_SCRIPT}, name="setup.exe")
        started = time.time()
        code, boxes = wine.run(stub, *REFUSED_LAUNCH, env=NEW_YORK)
        ended = time.time()
        assert (code, boxes) == (0, 0)
        assert ("[CUnPackFileApp::InitInstance] execute skipped: missing.exe is not a file this "
                "run extracted") in wine.messages()

        values = machine_values(tmp_path, PRODUCT)
        assert values["CloudAutoUpdateStatus"] == ("REG_DWORD", 999)
        kind, start_text = values["CloudAutoUpdateTimeStart"]
        assert kind == "REG_SZ"
        assert started - 2 <= utc_seconds(start_text) <= ended + 2, start_text

    def test_without_the_product_key_nothing_is_recorded_anywhere(self, wine, pack, tmp_path):
        run_named(wine, pack, tmp_path, "setup.exe", *REFUSED_LAUNCH)
        assert machine_values(tmp_path, VENDOR) is None, "the product key was created"
        assert machine_values(tmp_path, VENDOR, view="64") is None
        assert not root_value_names() & set(BOOKKEEPING_VALUES), "written into the root of HKLM"

    def test_business_mode_records_in_the_business_key(self, wine, pack, tmp_path):
        set_dword("HKLM", PRODUCT, "QHServerMode", 1)
        create_key("HKLM", BUSINESS)
        run_named(wine, pack, tmp_path, "setup.exe", *REFUSED_LAUNCH)

        business = machine_values(tmp_path, BUSINESS)
        assert business["CloudAutoUpdateStatus"] == ("REG_DWORD", 999)
        assert "CloudAutoUpdateTimeStart" in business
        assert set(machine_values(tmp_path, PRODUCT)) == {"QHServerMode"}

    def test_users_server_mode_chooses_a_key_that_is_opened_on_the_machine_side(self, wine,
                                                                              pack, tmp_path):
        set_dword("HKLM", PRODUCT, "QHSBasedType", 0)
        set_dword("HKLM", PRODUCT, "QHServerMode", 0)
        set_dword("HKCU", PRODUCT, "QHServerMode", 1)
        create_key("HKLM", BUSINESS)
        run_named(wine, pack, tmp_path, "setup.exe", *REFUSED_LAUNCH)

        assert machine_values(tmp_path, BUSINESS)["CloudAutoUpdateStatus"] == ("REG_DWORD", 999)
        assert "CloudAutoUpdateStatus" not in machine_values(tmp_path, PRODUCT)
