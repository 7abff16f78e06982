"""The shipped Windows programs, as built: two clean builds of one commit must give the same
bytes, so nothing in an image may depend on when or where it was built; and they must run on a
bare Windows, so they import nothing but system DLLs (the stub: Known DLLs only). The stub's
version resource names the project's version and the product, with no date, and its manifest
asks for administrator rights and declares long paths."""

import os
import re
import struct
import subprocess
import xml.etree.ElementTree as ElementTree
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


def test_the_stub_carries_its_settings_record_as_built_in_a_read_only_section():
    """The packing tool finds the record by its marker, which must occur once, inside the section
    the loader maps read-only and the signature covers: version 1, 128 bytes, an empty digest, the
    zero choice, the default wait, the entry-paths feature and zero reserved room."""
    stub = next(p for p in IMAGES if p.name == "UnPackFile.exe")
    data = stub.read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional = struct.unpack_from("<H12xH", data, pe + 6)
    table = pe + 24 + optional
    for i in range(sections):
        name, _, _, raw_size, raw_offset = struct.unpack_from("<8sIIII", data, table + 40 * i)
        characteristics = struct.unpack_from("<I", data, table + 40 * i + 36)[0]
        if name.rstrip(b"\0") == b".setting":
            break
    else:
        pytest.fail("no .setting section")
    assert characteristics & 0x80000000 == 0, "the section is writable"
    assert characteristics & 0x40000000, "the section is not readable"
    marker = b"\x89stub-record\r\n\x1a\n"
    assert data.count(marker) == 1
    at = data.index(marker)
    assert raw_offset <= at and at + 128 <= raw_offset + raw_size
    assert struct.unpack_from("<II", data, at + 16) == (1, 128)
    assert data[at + 24:at + 64] == bytes(40), "the digest is not empty"
    # The zero choice, the default wait, the features (entry paths, compressed payloads, UTF-8
    # names) and no package options.
    assert struct.unpack_from("<IIII", data, at + 64) == (0, 600, 7, 0)
    assert data[at + 80:at + 128] == bytes(48), "the reserved room is not zero"


# ---- The stub's resources ----------------------------------------------------------------------

RT_STRING, RT_VERSION, RT_MANIFEST = 6, 16, 24
IDS_PRODUCT_NAME = 130


class PeResources:
    """The resource tree of a PE image, read through its section table."""

    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        sections, optional = struct.unpack_from("<H12xH", data, pe + 6)
        magic = struct.unpack_from("<H", data, pe + 24)[0]
        directories = pe + 24 + (112 if magic == 0x20B else 96)
        self.sections = [struct.unpack_from("<8xIIII", data, pe + 24 + optional + 40 * i)
                         for i in range(sections)]
        rva, size = struct.unpack_from("<II", data, directories + 8 * 2)
        assert size > 0, "the image has no resources"
        self.root = self.offset(rva)

    def offset(self, rva):
        for virtual_size, address, raw_size, raw_offset in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw_offset + rva - address
        raise AssertionError(f"RVA {rva:#x} lies in no section")

    def directory(self, at):
        """(time stamp, [(id, target)]) of the IMAGE_RESOURCE_DIRECTORY at file offset `at`."""
        stamp, named, ids = struct.unpack_from("<4xI4xHH", self.data, at)
        entries = [struct.unpack_from("<II", self.data, at + 16 + 8 * i)
                   for i in range(named + ids)]
        return stamp, entries

    def stamps(self, at=None):
        """The time stamps of every directory in the tree."""
        stamp, entries = self.directory(self.root if at is None else at)
        found = [stamp]
        for _, target in entries:
            if target & 0x80000000:
                found += self.stamps(self.root + (target & 0x7FFFFFFF))
        return found

    def get(self, kind, name):
        """The bytes of resource `name` of type `kind`, in its first language."""
        at = self.root
        for wanted in (kind, name, None):
            _, entries = self.directory(at)
            target = next((t for i, t in entries if wanted is None or i == wanted), None)
            assert target is not None, f"no resource {kind}/{name}"
            at = self.root + (target & 0x7FFFFFFF)
        rva, size = struct.unpack_from("<II", self.data, at)
        return self.data[self.offset(rva):self.offset(rva) + size]


def version_node(block, at=0):
    """(key, value, children) of the VS_VERSIONINFO node at `at`: a length, a value length (in
    characters for text), a type (1: text), a UTF-16 key, then the value and the children, each
    aligned to 4 bytes."""
    length, value_length, text = struct.unpack_from("<HHH", block, at)
    key_end = at + 6
    while block[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = block[at + 6:key_end].decode("utf-16-le")
    value_at = (key_end + 2 + 3) & ~3
    size = 2 * value_length if text else value_length
    value = block[value_at:value_at + size]
    if text:
        value = value.decode("utf-16-le").rstrip("\0")
    children, child = [], (value_at + size + 3) & ~3
    while child < at + length:
        children.append(version_node(block, child))
        child = (child + struct.unpack_from("<H", block, child)[0] + 3) & ~3
    return key, value, children


def string_resource(resources, ident):
    """String `ident` of the string table: block ident // 16 + 1 holds 16 counted strings."""
    block, at = resources.get(RT_STRING, ident // 16 + 1), 0
    for _ in range(ident % 16):
        at += 2 + 2 * struct.unpack_from("<H", block, at)[0]
    count = struct.unpack_from("<H", block, at)[0]
    return block[at + 2:at + 2 + 2 * count].decode("utf-16-le")


@pytest.fixture
def stub_resources():
    return PeResources(next(p for p in IMAGES if p.name == "UnPackFile.exe").read_bytes())


def test_the_stubs_version_resource_names_the_project_version_and_the_product(stub_resources):
    key, fixed, children = version_node(stub_resources.get(RT_VERSION, 1))
    assert key == "VS_VERSION_INFO"
    (signature, _, file_ms, file_ls, product_ms, product_ls, _, _, _, file_type, _, date_ms,
     date_ls) = struct.unpack("<13I", fixed)
    assert signature == 0xFEEF04BD
    version = os.environ["PROJECT_VERSION"]
    major, minor, patch = (int(part) for part in version.split("."))
    assert (file_ms, file_ls) == (product_ms, product_ls) == (major << 16 | minor, patch << 16)
    assert file_type == 1, "not VFT_APP"
    assert (date_ms, date_ls) == (0, 0), "a build date makes the image differ from build to build"

    string_info = next(child for child in children if child[0] == "StringFileInfo")
    (table_key, _, strings), = string_info[2]
    assert table_key.lower() == "040904b0"
    fields = {name: value for name, value, _ in strings}
    assert fields["FileVersion"] == fields["ProductVersion"] == version
    assert fields["ProductName"] == string_resource(stub_resources, IDS_PRODUCT_NAME)
    assert fields["OriginalFilename"] == "UnPackFile.exe"
    assert fields["InternalName"] and fields["FileDescription"]
    # The company whose key the stub writes its deployment details to.
    key_path = "Software\\" + fields["CompanyName"] + "\\Tovari Remote Server"
    assert key_path.encode("utf-16-le") in stub_resources.data

    var_info = next(child for child in children if child[0] == "VarFileInfo")
    (translation_key, translation, _), = var_info[2]
    assert translation_key == "Translation"
    assert struct.unpack("<HH", translation) == (0x409, 1200)


def test_the_resource_tree_carries_no_time(stub_resources):
    assert set(stub_resources.stamps()) == {0}


def test_the_stubs_manifest_asks_for_administrators_and_declares_long_paths(stub_resources):
    # A manifest Windows cannot parse stops the program from starting at all.
    manifest = ElementTree.fromstring(stub_resources.get(RT_MANIFEST, 1))
    v1, v3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
    settings = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
    assert manifest.tag == v1 + "assembly"
    level = manifest.find(f"{v3}trustInfo/{v3}security/{v3}requestedPrivileges/"
                          f"{v3}requestedExecutionLevel")
    assert level is not None and level.get("level") == "requireAdministrator"
    aware = manifest.find(f"{v3}application/{v3}windowsSettings/{settings}longPathAware")
    assert aware is not None and aware.text == "true"
