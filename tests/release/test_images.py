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


def test_the_stub_carries_its_slots_as_built_in_a_read_only_section():
    """The packing tool finds each slot by its marker, which must occur once, inside the section
    the loader maps read-only and the signature covers: an empty digest slot, and an exit-code
    slot with the zero choice and a zero reserved word."""
    stub = next(p for p in IMAGES if p.name == "UnPackFile.exe")
    data = stub.read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional = struct.unpack_from("<H12xH", data, pe + 6)
    table = pe + 24 + optional
    for i in range(sections):
        name, _, _, raw_size, raw_offset = struct.unpack_from("<8sIIII", data, table + 40 * i)
        characteristics = struct.unpack_from("<I", data, table + 40 * i + 36)[0]
        if name.rstrip(b"\0") == b".digest":
            break
    else:
        pytest.fail("no .digest section")
    assert characteristics & 0x80000000 == 0, "the section is writable"
    assert characteristics & 0x40000000, "the section is not readable"
    for marker, rest in ((b"\x89slot-sha256\r\n\x1a\n", 40), (b"\x89slot-exitcd\r\n\x1a\n", 8)):
        assert data.count(marker) == 1, marker
        at = data.index(marker)
        assert raw_offset <= at and at + len(marker) + rest <= raw_offset + raw_size, marker
        assert data[at + len(marker):at + len(marker) + rest] == bytes(rest), f"{marker} not empty"
