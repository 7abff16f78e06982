"""The deployment that docs/DEPLOYMENT.md describes, end to end: a real Windows Installer
package, built by wixl, packed by the packing tool for Windows, signed and verified, then run as
a deployment engine runs it, `Setup.exe setup.msi /qn`, on a machine where the product is
installed. The package gets installed, the log shows the installer's exit code, the extraction
folder is gone, and the product key records the launch."""

import subprocess
import time
from pathlib import Path

from conftest import required_env, run_wine
from test_registry import PRODUCT, VENDOR, create_key, machine_values, reg, utc_seconds

INIT = "[CUnPackFileApp::InitInstance]"
SAMPLE_KEY = r"Software\Unpack Stub Tests\Deployment Sample"
README = b"Installed by the deployment scenario.\r\n"
# A per-machine package with one file and one registry value; a new product code on every
# build, so that a second run in the same prefix installs again instead of finding it present.
WXS = r"""<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="Deployment Sample" Version="1.0.0" Manufacturer="Unpack Stub Tests"
           UpgradeCode="6F1A3C52-9B0E-4D7A-8C21-3E5B7D9F0A14" Language="1033">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="sample.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="Deployment Sample">
          <Component Id="Main" Guid="0D4E8B71-2C3A-4F6E-9A15-7B8C9D0E1F23">
            <File Id="Readme" Source="readme.txt" KeyPath="yes"/>
            <RegistryValue Root="HKLM" Key="%s" Name="Version" Type="string" Value="1.0.0"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Complete" Level="1"><ComponentRef Id="Main"/></Feature>
  </Product>
</Wix>
""" % SAMPLE_KEY


def build_msi(folder):
    folder.mkdir()
    (folder / "readme.txt").write_bytes(README)
    (folder / "sample.wxs").write_text(WXS, encoding="utf-8")
    subprocess.run(["wixl", "-o", "setup.msi", "sample.wxs"], cwd=folder, check=True,
                   capture_output=True)
    return folder / "setup.msi"


def pack_on_windows(wine, msi, output, options=()):
    done = run_wine([required_env("STUBPACK_EXE"), "create", *options,
                     "--stub", wine.windows_path(required_env("STUB")),
                     "--output", wine.windows_path(output), wine.windows_path(msi)],
                    text=True, timeout=120)
    assert done.returncode == 0, done.stderr


def sample_version():
    done = reg("query", "HKLM\\" + SAMPLE_KEY, "/v", "Version", "/reg:32")
    return done.stdout.decode(errors="replace") if done.returncode == 0 else None


def test_silent_named_file_mode_installs_the_msi_and_records_the_launch(wine, sign, tmp_path):
    installed = wine.prefix / "drive_c" / "Program Files (x86)" / "Deployment Sample" / "readme.txt"
    installed.unlink(missing_ok=True)
    reg("delete", "HKLM\\" + SAMPLE_KEY, "/f", "/reg:32")
    create_key("HKLM", PRODUCT)
    try:
        msi = build_msi(tmp_path / "msi")
        pack_on_windows(wine, msi, tmp_path / "Setup.exe")
        (tmp_path / "signed").mkdir()
        signed = sign(tmp_path / "Setup.exe", tmp_path / "signed" / "Setup.exe")

        started = time.time()
        code, boxes = wine.run(signed, "setup.msi", "/qn", timeout=300)
        ended = time.time()
        assert (code, boxes) == (0, 0)

        messages = wine.messages()
        command = next(m for m in messages if m.startswith(f"{INIT} dir:"))
        assert command.endswith(" file:setup.msi param:/qn"), command
        assert any(m.startswith(f"{INIT} execute wait pid:") for m in messages), messages
        assert messages[-2] == f"{INIT} execute done code:0", messages
        assert not wine.folder.exists(), "the extraction folder is deleted after the install"

        assert installed.read_bytes() == README
        assert "1.0.0" in (sample_version() or ""), "the package's registry value is missing"

        values = machine_values(tmp_path, PRODUCT)
        assert values["CloudAutoUpdateStatus"] == ("REG_DWORD", 0)
        kind, start_text = values["CloudAutoUpdateTimeStart"]
        assert kind == "REG_SZ"
        assert started - 2 <= utc_seconds(start_text) <= ended + 2, start_text
    finally:
        reg("delete", "HKLM\\" + VENDOR, "/f", "/reg:32")


def test_packed_for_an_engine_the_msis_outcome_is_the_exit_code(wine, sign, tmp_path):
    """Packed with --exit-code installer: the MSI installs silently with 0, and one that Windows
    Installer refuses gives its 16xx code."""
    installed = wine.prefix / "drive_c" / "Program Files (x86)" / "Deployment Sample" / "readme.txt"
    installed.unlink(missing_ok=True)
    reg("delete", "HKLM\\" + SAMPLE_KEY, "/f", "/reg:32")
    try:
        codes = {}
        for kind in ("real", "corrupt"):
            folder = tmp_path / kind
            folder.mkdir()
            msi = build_msi(folder / "msi")
            if kind == "corrupt":
                msi.write_bytes(b"not a Windows Installer package" * 100)
            pack_on_windows(wine, msi, folder / "Setup.exe", ("--exit-code", "installer"))
            (folder / "signed").mkdir()
            signed = sign(folder / "Setup.exe", folder / "signed" / "Setup.exe")
            codes[kind] = wine.run_for_code(signed, "setup.msi", "/qn", timeout=300)
            wine.clean()
        assert codes["real"] == (0, 0)
        assert installed.read_bytes() == README
        code, boxes = codes["corrupt"]
        assert 1600 <= code <= 1699 and boxes == 0, codes
    finally:
        reg("delete", "HKLM\\" + SAMPLE_KEY, "/f", "/reg:32")
