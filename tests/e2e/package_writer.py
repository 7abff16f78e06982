"""Writes package layouts by hand, including damaged and hostile ones the packing tool refuses
to make: names with folders in them, counts that lie, truncated payloads."""

import struct

HEADER_SIZE = 284
NAME_FIELD = 260
END_MARKER = b"\xff" * 8


def header(count, ordinal, size, running_total, name):
    if isinstance(name, str):
        name = name.encode("ascii")
    field = name[:NAME_FIELD].ljust(NAME_FIELD, b"\0")
    return struct.pack("<iIQQ", count, ordinal, size, running_total) + field


def build(image, entries, *, count=None, output_name="stub.exe", align=True):
    """image + entries [(name, payload)] + end marker + trailer, image padded so that the whole
    is a multiple of 8 (as signing needs) unless align is False."""
    count = len(entries) if count is None else count
    body = b""
    total = 0
    for ordinal, (name, payload) in enumerate(entries, start=2):
        total += len(payload)
        body += header(count, ordinal, len(payload), total, name) + payload
    tail_length = len(body) + len(END_MARKER) + HEADER_SIZE
    if align:
        image = image + b"\0" * ((-(len(image) + tail_length)) % 8)
    trailer = header(0, 1, len(image), len(image), output_name)
    return image + body + END_MARKER + trailer


def first_header_offset(data):
    """The image size S recorded in the trailer of an unsigned stub."""
    return struct.unpack_from("<Q", data, len(data) - HEADER_SIZE + 8)[0]
