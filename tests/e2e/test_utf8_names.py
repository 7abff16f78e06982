"""Names in any language: a tree packed by the Linux tool into a signed stub, run under Wine in
both modes with two ANSI code pages (Wine takes a process's from the locale of its environment,
LC_ALL first, and hands it on to what the process starts). Every file must arrive byte-exact
under its own name whatever the code page, as the stub decodes the names as UTF-8; payload.exe
records the code page the run had."""

import re

import pytest

import package_writer
from conftest import SETTINGS_MARKER, run_end, wait_for

TREE = {
    "\u00dcbersetzungen/fran\u00e7ais/Gr\u00fc\u00dfe.txt": "Gr\u00fc\u00dfe\r\n".encode(),
    "\u00dcbersetzungen/\u0440\u0443\u0441\u0441\u043a\u0438\u0439/\u0401\u0436.txt": b"\x00\xff",
    "\u65e5\u672c\u8a9e/\u8a2d\u5b9a.txt": "\u8a2d\u5b9a=1\r\n".encode("utf-8"),
    "\u65e5\u672c\u8a9e/\u03a9\u03bc\u03ad\u03b3\u03b1 \U0001f4e6.bin": bytes(range(256)) * 3,
}
# Locales glibc has (scripts/install-deps generates them), and the ANSI code page Wine gives each.
CODE_PAGES = {"en_US.UTF-8": 1252, "ja_JP.UTF-8": 932}
OPTIONS_AT = 76  # of the settings record: the package options, kOptionUtf8Names = 2 (and 1,
# kOptionCompressedPayloads)


@pytest.fixture
def stub(pack, sign, payload_exe, tmp_path):
    for name, content in TREE.items():
        path = tmp_path / "tree" / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content)
    # Long enough for the folder to be read while payload.exe runs, on a busy host too.
    run_bat = b"@echo off\r\npayload.exe --sleep 10000\r\n"
    unsigned = pack({"run.bat": run_bat, "payload.exe": payload_exe.read_bytes()},
                    name="unsigned.exe",
                    options=[str(tmp_path / "tree" / top) for top in sorted({n.split("/")[0] for n in TREE})])
    data = unsigned.read_bytes()
    options = data[data.index(SETTINGS_MARKER) + OPTIONS_AT]
    assert options & 2, "the names are not marked as UTF-8"
    assert options & 1, "nothing is compressed: payload.exe and the .bin shrink"
    return sign(unsigned, tmp_path / "Setup.exe")


def record(wine):
    return (wine.marks / "payload-record.txt").read_text(encoding="utf-8").splitlines()


@pytest.mark.parametrize("locale", CODE_PAGES)
@pytest.mark.parametrize("mode", ["run.bat", "named file"])
def test_every_name_arrives_as_packed_whatever_the_code_page(wine, stub, locale, mode):
    args = [] if mode == "run.bat" else ["payload.exe", "--sleep", "10000"]
    process = wine.start(stub, *args, env={"LC_ALL": locale, "LANG": locale})
    try:
        assert wait_for(lambda: process.poll() is not None or
                        (wine.marks / "payload-record.txt").exists()), "payload.exe never ran"
        files = {"/".join(path.relative_to(wine.folder).parts): path.read_bytes()
                 for path in wine.folder.rglob("*") if path.is_file()}
    finally:
        assert process.wait(timeout=120) == 0
    assert "run.bat" in files and "payload.exe" in files, (sorted(files), wine.messages())
    for name in ("run.bat", "payload.exe"):
        files.pop(name)
    assert files == TREE
    assert f"acp:{CODE_PAGES[locale]}" in record(wine), record(wine)
    # The log names each file as it was written.
    messages = wine.messages()
    for name in TREE:
        path = wine.windows_folder + name.replace("/", "\\")
        assert any(re.fullmatch(rf"\[CUnPack::UnPackFiles\] UnPack count:\d+ len:\d+ "
                                rf"File:{re.escape(path)}", m) for m in messages), name
    assert run_end(messages).how == "installer ended code:0"
    assert not wine.run_folders()


def test_a_name_that_is_not_utf8_refuses_the_package(wine, stub_image, tmp_path, payload_exe):
    """A package marked as holding UTF-8 names whose name is no UTF-8 ("caf\\xE9", Latin-1) is
    refused as an unsafe name is, even where the code page would read it: nothing starts."""
    image = bytearray(stub_image)
    record_at = image.index(SETTINGS_MARKER)
    image[record_at + 64] = 1  # the installer's exit code, and the stub's own refusal codes
    image[record_at + OPTIONS_AT] = 2
    data = package_writer.build(bytes(image), [("payload.exe", payload_exe.read_bytes()),
                                               (b"caf\xe9.txt", b"latin-1")])
    crafted = tmp_path / "crafted.exe"
    crafted.write_bytes(data)
    assert wine.run_for_code(crafted, "payload.exe") == (1620, 0)
    assert ("[CUnPack::UnPackFiles] (2/2)Package refused: caf\ufffd.txt is no name the extraction "
            "folder can hold; nothing of it is kept") in wine.messages()
    assert not (wine.marks / "payload-record.txt").exists(), "something started"
    assert not wine.run_folders()
