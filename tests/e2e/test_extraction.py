"""Extraction by the real stub under Wine: packages built by the packing tool, signed and
unsigned, and damaged or hostile packages written by hand."""

import re
import struct
from pathlib import Path

import package_writer

UNVERIFIED = "[CUnPack::UnPackFiles] The package carries no digest: it is extracted unverified"


FILES = {
    "run.bat": b"@echo off\r\nexit /b 0\r\n",
    "setup.ini": b"[Setup]\r\nName=sample\r\n",
    "block1024.bin": bytes(range(256)) * 4,
    "block1025.bin": bytes(range(256)) * 4 + b"\x7f",
    "empty.txt": b"",
}


def certificate_size(data):
    pe = struct.unpack_from("<i", data, 60)[0]
    optional = pe + 24
    # The data directories of a PE32+ image (magic 0x20b) start 16 bytes later than in PE32.
    directories = optional + (112 if struct.unpack_from("<H", data, optional)[0] == 0x20B else 96)
    return struct.unpack_from("<I", data, directories + 4 * 8 + 4)[0]


def extraction_messages(messages):
    """The lines from the package lookup up to, not including, the launch."""
    start = next(i for i, m in enumerate(messages) if m.startswith("[CUnPack::FindHeader] Name:"))
    end = next((i for i, m in enumerate(messages) if m.startswith(
        "[CUnPackFileApp::InitInstance] dir:")), len(messages))
    return messages[start:end]


def expected_extraction(wine, stub_path, sign_size, offset, files, verified=True):
    folder = wine.windows_folder
    lines = [
        f"[CUnPack::FindHeader] Name:{wine.windows_path(stub_path)}",
        f"[CUnPack::FindHeader] Sign Size:{sign_size}",
        f"[CUnPack::FindHeader] Header offset:{offset}",
    ]
    for i, (name, content) in enumerate(files.items(), start=1):
        lines += [
            re.compile(rf"\[CUnPack::UnPackFiles\]  FreeSpace:\d+ FileSize:{len(content)}"),
            f"[CUnPack::UnPackFiles] ({i}/{len(files)})UnPack file name:{folder}{name}"
            f" ({len(content)})",
            f"[CUnPack::UnPackFiles] UnPack count:{i} len:{len(content)} File:{folder}{name}",
        ]
    if verified:
        lines.append(re.compile(r"\[CUnPack::UnPackFiles\] Package digest verified: \d+ bytes"))
    lines.append(f"[CUnPack::UnPackFiles] UnPack total {len(files)} files.")
    return lines


def assert_lines(actual, expected):
    assert len(actual) == len(expected), "\n".join(actual)
    for got, want in zip(actual, expected):
        if isinstance(want, re.Pattern):
            assert want.fullmatch(got), f"{got!r} does not match {want.pattern!r}"
        else:
            assert got == want


class TestBuiltByTheTool:
    def test_unsigned_stub_extracts_every_file_with_exact_log_lines(self, wine, pack,
                                                                     payload_exe):
        files = {**FILES, "payload.exe": payload_exe.read_bytes()}
        stub = pack(files)
        data = stub.read_bytes()
        assert wine.extract_and_look(stub) == FILES
        assert_lines(extraction_messages(wine.messages()),
                     expected_extraction(wine, stub, 0, package_writer.first_header_offset(data),
                                         files))
        assert not wine.folder.exists()

    def test_signed_stub_extracts_every_file(self, wine, pack, sign, tmp_path, payload_exe):
        files = {**FILES, "payload.exe": payload_exe.read_bytes()}
        unsigned = pack(files, name="unsigned.exe")
        signed = sign(unsigned, tmp_path / "signed.exe")
        data = signed.read_bytes()
        cert = certificate_size(data)
        assert cert > 0
        # Signing appended the table right after the trailer, with no padding in between.
        assert len(data) == len(unsigned.read_bytes()) + cert

        assert wine.extract_and_look(signed) == FILES
        offset = package_writer.first_header_offset(unsigned.read_bytes())
        assert_lines(extraction_messages(wine.messages()),
                     expected_extraction(wine, signed, cert, offset, files))

    def test_large_payload_and_a_tree_are_extracted_intact(self, wine, pack, payload_exe,
                                                            tmp_path):
        big = bytes((i * 7919) % 251 for i in range(3 * 1024 * 1024 + 17))
        (tmp_path / "tree" / "data" / "lang").mkdir(parents=True)
        (tmp_path / "tree" / "data" / "big.bin").write_bytes(big)
        (tmp_path / "tree" / "data" / "lang" / "de.txt").write_bytes(b"Hallo")
        stub = pack({"payload.exe": payload_exe.read_bytes()},
                    options=[str(tmp_path / "tree" / "data")])
        assert wine.extract_and_look(stub) == {"data\\big.bin": big,
                                               "data\\lang\\de.txt": b"Hallo"}


class TestDamagedPackages:
    def run_crafted(self, wine, tmp_path, data):
        """The lines of the extraction, after the one saying that another tool's package
        carries no digest."""
        stub = tmp_path / "crafted.exe"
        stub.write_bytes(data)
        code, boxes = wine.run(stub, "a.txt", "x")
        assert (code, boxes) == (0, 0)
        lines = extraction_messages(wine.messages())
        assert lines.count(UNVERIFIED) <= 1
        return [line for line in lines if line != UNVERIFIED]

    def test_stub_without_package_ending_in_zeros_finds_no_header(self, wine, tmp_path,
                                                                  stub_image):
        lines = self.run_crafted(wine, tmp_path, stub_image + bytes(284))
        assert lines[1:] == ["[CUnPack::FindHeader] Sign Size:0",
                             "[CUnPack::FindHeader] Header offset:0"]
        assert not wine.run_folders()

    def test_stub_without_package_ending_in_text_extracts_nothing(self, wine, tmp_path,
                                                                  stub_image):
        tail = b"This image ends in padding text. " * 10
        data = stub_image + tail
        offset = struct.unpack_from("<Q", data, len(data) - 284 + 8)[0]
        low32 = struct.unpack_from("<i", data, len(data) - 284 + 8)[0]
        assert offset > len(data)
        lines = self.run_crafted(wine, tmp_path, data)
        assert lines[1:] == ["[CUnPack::FindHeader] Sign Size:0",
                             f"[CUnPack::FindHeader] Header offset:{low32}",
                             "[CUnPack::UnPackFiles] UnPack total 0 files."]
        assert not wine.run_folders()

    def test_header_offset_beyond_the_end_extracts_nothing(self, wine, tmp_path, stub_image):
        data = bytearray(package_writer.build(stub_image, [("a.txt", b"a")]))
        struct.pack_into("<Q", data, len(data) - 284 + 8, len(data) + 1000)
        lines = self.run_crafted(wine, tmp_path, bytes(data))
        assert lines[-2:] == [f"[CUnPack::FindHeader] Header offset:{len(data) + 1000}",
                              "[CUnPack::UnPackFiles] UnPack total 0 files."]

    def test_count_zero_or_negative_writes_nothing(self, wine, tmp_path, stub_image):
        for count in (0, -3):
            wine.clean()
            data = package_writer.build(stub_image, [("a.txt", b"abc")], count=count)
            lines = self.run_crafted(wine, tmp_path, data)
            assert lines[-1] == "[CUnPack::UnPackFiles] UnPack total 0 files."
            assert not wine.run_folders()

    def test_end_marker_and_trailer_are_never_read_as_entries(self, wine, tmp_path, stub_image,
                                                               payload_exe):
        data = package_writer.build(stub_image, [("a.txt", b"abc"), ("b.txt", b""),
                                                 ("payload.exe", payload_exe.read_bytes())])
        stub = tmp_path / "crafted.exe"
        stub.write_bytes(data)
        assert wine.extract_and_look(stub) == {"a.txt": b"abc", "b.txt": b""}
        assert extraction_messages(wine.messages())[-1] == \
            "[CUnPack::UnPackFiles] UnPack total 3 files."

    def test_payload_running_past_the_end_keeps_nothing(self, wine, tmp_path, stub_image):
        good = package_writer.build(stub_image, [("a.txt", b"first"), ("b.bin", b"x" * 5000)])
        # Cut the second payload short, keeping end marker and trailer at the end.
        cut = good[:len(good) - 292 - 4000] + good[-292:]
        lines = self.run_crafted(wine, tmp_path, cut)
        assert lines[-1].startswith(
            "[CUnPack::UnPackFiles] (2/2)Package damaged: b.bin needs 5000 bytes, ")
        assert not wine.run_folders()
        assert "[CUnPackFileApp::InitInstance] execute skipped: the package is not the one the " \
            "stub was signed with" in wine.messages()

    def test_size_field_far_beyond_the_file_is_refused(self, wine, tmp_path, stub_image):
        data = bytearray(package_writer.build(stub_image, [("huge.bin", b"tiny")]))
        offset = package_writer.first_header_offset(bytes(data))
        struct.pack_into("<Q", data, offset + 8, 1 << 50)
        lines = self.run_crafted(wine, tmp_path, bytes(data))
        assert lines[-1].startswith(
            f"[CUnPack::UnPackFiles] (1/1)Package damaged: huge.bin needs {1 << 50} bytes, ")
        assert not wine.run_folders()

    def test_short_header_at_the_end_of_the_file_is_reported(self, wine, tmp_path, stub_image):
        # The trailer points 100 bytes before the end, where its own name field holds a count.
        data = bytearray(package_writer.build(stub_image, [("a.txt", b"a")]))
        start = len(data) - 100
        struct.pack_into("<Q", data, len(data) - 284 + 8, start)
        struct.pack_into("<i", data, start, 1)
        lines = self.run_crafted(wine, tmp_path, bytes(data))
        assert lines[-1] == "[CUnPack::UnPackFiles] Package damaged: header 1 has 100 of 284 bytes"
        assert not wine.run_folders()

    def test_names_that_leave_the_folder_write_nothing_anywhere_and_start_nothing(
            self, wine, tmp_path, stub_image):
        # Names with a drive, "..", an empty component or a stream would write outside the folder;
        # device names, a trailing dot or blank and control characters would not make the file
        # named. Each refuses the package it is in.
        hostile = ["..\\escaped.txt", "data\\..\\..\\escaped.txt", "../escaped.txt",
                   "C:escaped.txt", "C:\\escaped.txt", "\\escaped.txt", "data\\\\x.txt",
                   "data\\", "..", ".", "", "safe.txt:stream", "CON", "data\\nul.txt",
                   "com1.log", "trailing.", "data.\\x.txt", "blank ", "bell\x07.txt"]
        for name in hostile:
            wine.clean()
            data = package_writer.build(stub_image, [("run.bat", b"@echo off\r\n"),
                                                     (name, b"bad")])
            lines = self.run_crafted(wine, tmp_path, data)
            shown = name.replace("\x07", "\\x07")
            assert lines[-1] == (f"[CUnPack::UnPackFiles] (2/2)Package refused: {shown} is no name "
                                 "the extraction folder can hold; nothing of it is kept"), name
            assert not wine.run_folders(), name
            assert not any(path.name.startswith("escaped")
                           for folder in (wine.temp, wine.machine_temp, wine.prefix / "drive_c")
                           for path in folder.iterdir()), name
            assert not any(m.startswith("[CUnPackFileApp::InitInstance] execute succ")
                           for m in wine.messages()), name


class TestLongPaths:
    def test_a_tree_deeper_than_260_characters_is_extracted_refused_to_start_and_deleted(
            self, wine, pack, payload_exe, tmp_path):
        # Five folders of 40 characters and a file of 39: a 244-character name, within the 259 a
        # header holds, and a path of 267 characters once in the extraction folder.
        parts = [letter * 40 for letter in "abcde"]
        bottom = tmp_path / "tree" / Path(*parts)
        bottom.mkdir(parents=True)
        program = "tool-at-the-bottom-of-the-deep-tree.exe"
        (bottom / program).write_bytes(payload_exe.read_bytes())
        (bottom / "read-me-at-the-bottom-of-the-deep-tree").write_bytes(b"deep")
        stub = pack({"payload.exe": payload_exe.read_bytes()},
                    options=[str(tmp_path / "tree" / parts[0])])
        deep = "\\".join(parts)
        length = len(wine.windows_folder + deep + "\\" + program)
        assert length == 267

        assert wine.extract_and_look(stub) == {
            deep + "\\" + program: payload_exe.read_bytes(),
            deep + "\\read-me-at-the-bottom-of-the-deep-tree": b"deep"}
        assert not wine.run_folders()

        # Windows starts no program from a path that long: refused by name, and nothing stays.
        wine.clean()
        assert wine.run(stub, deep + "\\" + program, "--exit", "5") == (0, 0)
        messages = wine.messages()
        assert "[CUnPack::UnPackFiles] UnPack total 3 files." in messages
        assert messages[-2] == (
            f"[CUnPackFileApp::InitInstance] execute skipped: {deep}\\{program} has a path of "
            f"{length} characters, and Windows starts nothing from a path of more than 259")
        assert not wine.run_folders()
