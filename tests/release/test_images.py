"""The shipped Windows programs, as built: two clean builds of one commit must give the same
bytes, so nothing in an image may depend on when or where it was built; and they must run on a
bare Windows, so they import nothing but system DLLs (the stub: Known DLLs only)."""

import os
import re
import struct
import subprocess
from pathlib import Path

import pytest

# What each program may import: DLLs every Windows installation has. The stub runs elevated from
# wherever it was downloaded to, next to files anyone may have put there: it imports only Known
# DLLs, which the loader takes from the system directory whatever lies beside the image (wtsapi32
# is loaded at run time, from the system directory).
ALLOWED_IMPORTS = {
    "UnPackFile.exe": {"advapi32.dll", "kernel32.dll", "msvcrt.dll", "shell32.dll", "user32.dll"},
    "stubpack.exe": {"advapi32.dll", "kernel32.dll", "msvcrt.dll", "shell32.dll", "user32.dll",
                     "wtsapi32.dll"},
}

IMAGES = [Path(p) for p in os.environ.get("IMAGES", "").split(",") if p]


@pytest.fixture(params=IMAGES, ids=[p.name for p in IMAGES])
def image(request):
    return request.param


def test_there_are_images_to_check():
    assert len(IMAGES) == 2, "IMAGES is not set: run this through ctest"


def test_the_pe_header_carries_no_link_time(image):
    data = image.read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0"
    stamp = struct.unpack_from("<I", data, pe + 8)[0]
    assert stamp == 0, f"TimeDateStamp is {stamp:#x}: the linker wrote the build time"


def test_no_path_of_the_build_machine_is_in_the_image(image):
    data = image.read_bytes()
    for folder in os.environ["BUILD_PATHS"].split(","):
        for encoding in ("utf-8", "utf-16-le"):
            assert folder.encode(encoding) not in data, f"{folder} ({encoding}) is in {image}"


def test_only_system_dlls_are_imported(image):
    dump = subprocess.run([os.environ["OBJDUMP"], "-p", str(image)], capture_output=True,
                          text=True, check=True).stdout
    imported = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
    assert "kernel32.dll" in imported, dump[:2000]
    allowed = ALLOWED_IMPORTS[image.name]
    assert imported <= allowed, f"{image.name} imports {sorted(imported - allowed)}"
