"""A small but well-formed PE image, PE32 or PE32+, with one code section: enough for code
signing tools and for the packing tool, without a compiler for Windows."""

import struct

FILE_ALIGNMENT = 0x200
# The settings record as the stub is built: its marker, version 1 and size 128, an empty digest
# (length and SHA-256), the zero choice, the default wait for children (600 s), the features (7:
# entry names may be paths, payloads compressed, names UTF-8), no options and the reserved room.
SETTINGS_RECORD = (b"\x89stub-record\r\n\x1a\n" + struct.pack("<II", 1, 128) + bytes(40) +
                   struct.pack("<IIII", 0, 600, 7, 0) + bytes(48))
SECTION_ALIGNMENT = 0x1000
PE_OFFSET = 0x80


def _optional_header(plus):
    """Standard fields, Windows fields and 16 empty data directories; entry point at the start of
    the one section, GUI subsystem, checksum 0."""
    word = "Q" if plus else "I"  # ImageBase and the stack and heap sizes widen in PE32+
    standard = struct.pack("<HBBIIIII", 0x20B if plus else 0x10B, 14, 0,
                           FILE_ALIGNMENT, 0, 0,                 # code, data, bss sizes
                           SECTION_ALIGNMENT, SECTION_ALIGNMENT)  # entry point, BaseOfCode
    if not plus:
        standard += struct.pack("<I", 0)  # BaseOfData, gone in PE32+
    windows = struct.pack("<" + word, 0x140000000 if plus else 0x400000)  # ImageBase
    windows += struct.pack("<IIHHHHHHIIIIHH",
                           SECTION_ALIGNMENT, FILE_ALIGNMENT,
                           6, 0, 0, 0, 6, 0,                   # OS, image, subsystem versions
                           0, 2 * SECTION_ALIGNMENT,          # Win32VersionValue, SizeOfImage
                           FILE_ALIGNMENT, 0,                 # SizeOfHeaders, CheckSum
                           2, 0x8160)                         # GUI, DllCharacteristics
    windows += struct.pack("<" + word * 4, 0x100000, 0x1000, 0x100000, 0x1000)
    windows += struct.pack("<II", 0, 16)  # LoaderFlags, NumberOfRvaAndSizes
    return standard + windows + b"\0" * (16 * 8)


def build(plus=False, code=b"\xc3" * 16 + SETTINGS_RECORD):
    """The image: headers padded to the file alignment, then one section of `code` (by default
    a return instruction's bytes and the settings record as the stub is built with it)."""
    optional = _optional_header(plus)
    machine = 0x8664 if plus else 0x14C
    characteristics = 0x0022 if plus else 0x0102  # executable; large-address aware or 32-bit
    file_header = struct.pack("<HHIIIHH", machine, 1, 0, 0, 0, len(optional), characteristics)
    section = struct.pack("<8sIIIIIIHHI", b".text", len(code), SECTION_ALIGNMENT,
                          FILE_ALIGNMENT, FILE_ALIGNMENT, 0, 0, 0, 0, 0x60000020)
    dos = bytearray(PE_OFFSET)
    dos[0:2] = b"MZ"
    struct.pack_into("<i", dos, 60, PE_OFFSET)
    headers = bytes(dos) + b"PE\0\0" + file_header + optional + section
    assert len(headers) <= FILE_ALIGNMENT
    body = code.ljust(FILE_ALIGNMENT, b"\0")
    return headers.ljust(FILE_ALIGNMENT, b"\0") + body


def security_directory_offset(data):
    """File offset of the security data directory: 16 bytes later in PE32+ than in PE32."""
    pe = struct.unpack_from("<i", data, 60)[0]
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    return pe + (168 if magic == 0x20B else 152)


def security_directory(data):
    """(file offset, size) of the certificate table named by the security data directory."""
    return struct.unpack_from("<II", data, security_directory_offset(data))
