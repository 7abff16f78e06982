"""Extraction by the real stub under Wine: packages built by the packing tool, signed and
unsigned, and damaged or hostile packages written by hand."""

import re
import struct

import package_writer

UNVERIFIED = "[CUnPack::UnPackFiles] The package carries no digest: it is extracted unverified"


def keep_folder(name):
    """Named-file mode with a packaged file the machine has no association for (Wine registers
    none for .txt and .bin): the launch fails, so the folder stays after the run and what was
    extracted can be inspected. A file the run did not extract is not started, and the folder
    goes."""
    return (name, "x")

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
    folder = wine.windows_temp + "unpack\\"
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


def extracted(wine):
    return {p.name: p.read_bytes() for p in wine.folder.iterdir()} if wine.folder.exists() else {}


class TestBuiltByTheTool:
    def test_unsigned_stub_extracts_every_file_with_exact_log_lines(self, wine, pack):
        stub = pack(FILES)
        data = stub.read_bytes()
        code, boxes = wine.run(stub, *keep_folder("block1024.bin"))
        assert (code, boxes) == (0, 0)

        messages = wine.messages()
        assert_lines(extraction_messages(messages),
                     expected_extraction(wine, stub, 0, package_writer.first_header_offset(data),
                                         FILES))
        assert extracted(wine) == FILES

    def test_signed_stub_extracts_every_file(self, wine, pack, sign, tmp_path):
        unsigned = pack(FILES, name="unsigned.exe")
        signed = sign(unsigned, tmp_path / "signed.exe")
        data = signed.read_bytes()
        cert = certificate_size(data)
        assert cert > 0
        # Signing appended the table right after the trailer, with no padding in between.
        assert len(data) == len(unsigned.read_bytes()) + cert

        code, _ = wine.run(signed, *keep_folder("block1024.bin"))
        assert code == 0
        offset = package_writer.first_header_offset(unsigned.read_bytes())
        assert_lines(extraction_messages(wine.messages()),
                     expected_extraction(wine, signed, cert, offset, FILES))
        assert extracted(wine) == FILES

    def test_large_payload_is_extracted_intact(self, wine, pack):
        big = bytes((i * 7919) % 251 for i in range(3 * 1024 * 1024 + 17))
        stub = pack({"big.bin": big})
        wine.run(stub, *keep_folder("big.bin"))
        assert extracted(wine) == {"big.bin": big}


class TestDamagedPackages:
    def run_crafted(self, wine, tmp_path, data, keep="a.txt"):
        """The lines of the extraction, after the one saying that another tool's package
        carries no digest."""
        stub = tmp_path / "crafted.exe"
        stub.write_bytes(data)
        code, boxes = wine.run(stub, *keep_folder(keep))
        assert (code, boxes) == (0, 0)
        lines = extraction_messages(wine.messages())
        assert lines.count(UNVERIFIED) <= 1
        return [line for line in lines if line != UNVERIFIED]

    def test_stub_without_package_ending_in_zeros_finds_no_header(self, wine, tmp_path,
                                                                  stub_image):
        lines = self.run_crafted(wine, tmp_path, stub_image + bytes(284))
        assert lines[1:] == ["[CUnPack::FindHeader] Sign Size:0",
                             "[CUnPack::FindHeader] Header offset:0"]
        assert extracted(wine) == {}

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
        assert extracted(wine) == {}

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
            assert extracted(wine) == {}

    def test_end_marker_and_trailer_are_never_read_as_entries(self, wine, tmp_path, stub_image):
        data = package_writer.build(stub_image, [("a.txt", b"abc"), ("b.txt", b"")])
        lines = self.run_crafted(wine, tmp_path, data)
        assert lines[-1] == "[CUnPack::UnPackFiles] UnPack total 2 files."
        assert extracted(wine) == {"a.txt": b"abc", "b.txt": b""}

    def test_payload_running_past_the_end_stops_before_writing(self, wine, tmp_path, stub_image):
        good = package_writer.build(stub_image, [("a.txt", b"first"), ("b.bin", b"x" * 5000)])
        # Cut the second payload short, keeping end marker and trailer at the end.
        cut = good[:len(good) - 292 - 4000] + good[-292:]
        lines = self.run_crafted(wine, tmp_path, cut)
        assert lines[-1].startswith(
            "[CUnPack::UnPackFiles] (2/2)Package damaged: b.bin needs 5000 bytes, ")
        assert extracted(wine) == {"a.txt": b"first"}

    def test_size_field_far_beyond_the_file_is_refused(self, wine, tmp_path, stub_image):
        data = bytearray(package_writer.build(stub_image, [("huge.bin", b"tiny")]))
        offset = package_writer.first_header_offset(bytes(data))
        struct.pack_into("<Q", data, offset + 8, 1 << 50)
        lines = self.run_crafted(wine, tmp_path, bytes(data))
        assert lines[-1].startswith(
            f"[CUnPack::UnPackFiles] (1/1)Package damaged: huge.bin needs {1 << 50} bytes, ")
        assert extracted(wine) == {}

    def test_short_header_at_the_end_of_the_file_is_reported(self, wine, tmp_path, stub_image):
        # The trailer points 100 bytes before the end, where its own name field holds a count.
        data = bytearray(package_writer.build(stub_image, [("a.txt", b"a")]))
        start = len(data) - 100
        struct.pack_into("<Q", data, len(data) - 284 + 8, start)
        struct.pack_into("<i", data, start, 1)
        lines = self.run_crafted(wine, tmp_path, bytes(data))
        assert lines[-1] == "[CUnPack::UnPackFiles] Package damaged: header 1 has 100 of 284 bytes"
        assert extracted(wine) == {}

    def test_names_that_leave_the_folder_are_skipped(self, wine, tmp_path, stub_image):
        # Names with a folder, drive or stream in them would write outside the folder; device
        # names, a trailing dot or blank and control characters would not make the file named.
        hostile = ["..\\escaped.txt", "../escaped2.txt", "C:escaped3.txt", "..", ".", "",
                   "sub\\inner.txt", "safe.txt:stream", "CON", "nul.txt", "com1.log",
                   "trailing.", "blank ", "bell\x07.txt"]
        entries = [(name, b"bad") for name in hostile] + [("fine.txt", b"good")]
        data = package_writer.build(stub_image, entries)
        lines = self.run_crafted(wine, tmp_path, data, keep="fine.txt")

        n = len(entries)
        skipped = [line for line in lines if "Unsafe file name skipped:" in line]
        assert skipped == [f"[CUnPack::UnPackFiles] ({i}/{n})Unsafe file name skipped:{name} (3)"
                           for i, name in enumerate(hostile, start=1)]
        assert lines[-1] == f"[CUnPack::UnPackFiles] UnPack total {n} files."
        assert extracted(wine) == {"fine.txt": b"good"}
        assert not (wine.temp / "escaped.txt").exists()
        assert not (wine.temp / "escaped2.txt").exists()
