"""The package the stub runs is the package that was signed: the packing tool records the package's
length and SHA-256 in the stub's image, and the running stub holds every byte it reads against
that. A program of the same user that swaps the stub's file after it has started, or a damaged
file, never gets a package run."""

import struct
from pathlib import Path

import pytest

import package_writer
from conftest import required_env
from test_registry import PRODUCT, clean_registry, create_key, machine_values  # noqa: F401

UNPACK = "[CUnPack::UnPackFiles]"
REFUSED = f"{UNPACK} Package refused: "
NOT_SIGNED = ("[CUnPackFileApp::InitInstance] execute skipped: the package is not the one the "
              "stub was signed with")
GENUINE = b"@echo off\r\necho genuine> \"C:\\marks\\genuine-ran.txt\"\r\n"
PLANTED = b"@echo off\r\necho planted> \"C:\\marks\\planted-ran.txt\"\r\n"
MODES = {"default": ("run.bat", ()), "named": ("setup.bat", ("setup.bat", "/q"))}


@pytest.fixture(scope="module")
def swapstart():
    return Path(required_env("SWAPSTART"))


def assert_refused(wine, tmp_path, why):
    messages = wine.messages()
    # A planted package may be refused by an entry the signed options cannot read, "(1/1)Package
    # refused: ...", before its digest is.
    refusals = [m for m in messages if m.startswith(UNPACK) and "Package refused: " in m]
    assert len(refusals) == 1 and why in refusals[0], messages
    assert NOT_SIGNED in messages
    assert not (wine.marks / "planted-ran.txt").exists(), "the planted package ran"
    assert not (wine.marks / "genuine-ran.txt").exists()
    assert not wine.folder.exists(), "files of a refused package stayed"
    assert machine_values(tmp_path, PRODUCT)["CloudAutoUpdateStatus"] == ("REG_DWORD", 999)


def genuine_setup(pack, sign, tmp_path, script_name, options=()):
    """The signed setup (data.bin compressed unless `options` say --store), and the offset of its
    first entry header."""
    unsigned = pack({script_name: GENUINE, "data.bin": bytes(range(256)) * 1000},
                    folder=tmp_path / "genuine", options=options)
    first_header = package_writer.first_header_offset(unsigned.read_bytes())
    return sign(unsigned, tmp_path / "Setup.exe"), first_header


class TestSwappedAfterTheStart:
    """Started suspended, its file renamed and another put at its path, then resumed."""

    @pytest.mark.parametrize("mode", MODES)
    @pytest.mark.parametrize("planted_kind", ["packed by the tool", "without a digest"])
    def test_a_planted_package_never_runs(self, wine, pack, sign, swapstart, stub_image,
                                          tmp_path, mode, planted_kind):
        script, args = MODES[mode]
        genuine, _ = genuine_setup(pack, sign, tmp_path, script)
        if planted_kind == "packed by the tool":  # the public stub and a package of its own
            planted = pack({script: PLANTED}, folder=tmp_path / "planted")
        else:  # another tool's layout, the digest left empty
            planted = tmp_path / "planted.exe"
            planted.write_bytes(package_writer.build(stub_image, [(script, PLANTED)]))
        create_key("HKLM", PRODUCT)

        code, boxes = wine.run(swapstart, wine.windows_path(genuine), wine.windows_path(planted),
                               *args)

        assert (code, boxes) == (0, 0)
        assert Path(str(genuine) + ".genuine").exists(), "the swap did not happen"
        assert_refused(wine, tmp_path, "")

    def test_the_same_file_put_back_runs(self, wine, pack, sign, swapstart, tmp_path):
        genuine, _ = genuine_setup(pack, sign, tmp_path, "run.bat")
        copy = tmp_path / "copy.exe"
        copy.write_bytes(genuine.read_bytes())
        assert wine.run(swapstart, wine.windows_path(genuine), wine.windows_path(copy)) == (0, 0)
        messages = wine.messages()
        verified = [m for m in messages if m.startswith(f"{UNPACK} Package digest verified: ")]
        assert len(verified) == 1, messages
        assert (wine.marks / "genuine-ran.txt").exists()
        (wine.marks / "genuine-ran.txt").unlink()
        assert not wine.folder.exists()


class TestDamagedFile:
    def test_a_flipped_payload_byte_is_refused(self, wine, pack, sign, tmp_path):
        genuine, first_header = genuine_setup(pack, sign, tmp_path, "run.bat", ("--store",))
        data = bytearray(genuine.read_bytes())
        data[first_header + 284 + len(GENUINE) + 284 + 10] ^= 0x20  # in data.bin: run.bat intact
        genuine.write_bytes(data)
        create_key("HKLM", PRODUCT)
        assert wine.run(genuine) == (0, 0)
        assert_refused(wine, tmp_path, "its SHA-256 differs from the digest signed into the stub")

    @pytest.mark.parametrize("change", ["truncated", "longer"])
    def test_a_package_of_another_length_is_refused(self, wine, pack, tmp_path, change):
        entries = [("run.bat", GENUINE), ("data.bin", bytes(5000))]
        genuine = pack(dict(entries), folder=tmp_path / "genuine", options=("--store",)).read_bytes()
        image = genuine[:package_writer.first_header_offset(genuine)]  # the digest filled for it
        if change == "truncated":
            entries[1] = ("data.bin", bytes(4000))
        else:
            entries.append(("extra.txt", b"more"))
        damaged = tmp_path / "damaged.exe"
        damaged.write_bytes(package_writer.build(image, entries, align=False))
        create_key("HKLM", PRODUCT)
        assert wine.run(damaged) == (0, 0)
        assert_refused(wine, tmp_path, "the digest signed into the stub is for")


def test_a_package_without_a_digest_runs_unverified(wine, stub_image, tmp_path):
    stub = tmp_path / "other-tool.exe"
    stub.write_bytes(package_writer.build(stub_image, [("run.bat", GENUINE)]))
    assert wine.run(stub) == (0, 0)
    messages = wine.messages()
    assert messages.count(f"{UNPACK} The package carries no digest: it is extracted "
                          "unverified") == 1, messages
    assert (wine.marks / "genuine-ran.txt").exists()
    (wine.marks / "genuine-ran.txt").unlink()


def test_a_settings_record_the_stub_cannot_read_lets_nothing_run(wine, stub_image, tmp_path):
    """A record of a version the stub does not know may say anything of the package: the stub
    extracts nothing, and tells a deployment engine of the refusal rather than exit 0."""
    image = bytearray(stub_image)
    record = image.index(b"\x89stub-record\r\n\x1a\n")
    struct.pack_into("<I", image, record + 16, 2)
    stub = tmp_path / "newer-record.exe"
    stub.write_bytes(package_writer.build(bytes(image), [("run.bat", GENUINE)]))
    create_key("HKLM", PRODUCT)
    assert wine.run_for_code(stub) == (1620, 0)
    assert_refused(wine, tmp_path, "the stub cannot read its settings (version 2, 128 bytes); "
                                   "nothing of it is kept")
