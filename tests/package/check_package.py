#!/usr/bin/env python3
"""Checks the Windows release package made by scripts/make_package.py.

It packages the built Kestrin.dll and kestrin-info.exe twice, into two
directories, and checks what a viewer downloads:

- the zip's name carries the version of the file VERSION, and both runs gave
  the same bytes (zip, its .sha256 and the debug copies);
- the zip's entries, their order, times and permissions;
- SHA256SUMS lists every other entry with its right digest;
- Kestrin.dll: a 32-bit PE DLL without link time, without symbols, exporting
  GetIface2 alone, with its version resource (product name, the version, the
  Japanese description); the copy with symbols beside the zip has the same
  loaded sections, so a crash address reads the same in both;
- kestrin-info.exe: a 32-bit PE program without link time or symbols that
  carries the version;
- the text files: CRLF, the guide UTF-8 with a byte-order mark, the settings
  example in code page 932.

It runs on the build machine, as the mingw tools read the files (objdump,
nm); nothing is executed under Wine.

Usage: check_package.py SOURCE_DIR Kestrin.dll kestrin-info.exe STRIP OBJDUMP NM
"""
import hashlib
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile

ARGS = {}
# 2026-12-08 22:00:00 UTC: any fixed time shows the entries take it.
EPOCH = 1796767200
EPOCH_ZIP_TIME = (2026, 12, 8, 22, 0, 0)
DESCRIPTION = "\u756a\u7d44\u60c5\u5831\u30d7\u30e9\u30b0\u30a4\u30f3"  # programme-information plug-in

# A guide with what the conversion has to handle: a picture, a link into the
# repository, a web link, headings, emphasis, code and a fenced block.
PLACEHOLDER_GUIDE = """# Kestrin \u306e\u4f7f\u3044\u65b9

## \u5c0e\u5165

`Kestrin.dll` \u3092**\u30db\u30b9\u30c8**\u306e\u6a2a\u306b\u7f6e\u304d\u307e\u3059\u3002

![\u756a\u7d44\u8868\u306e\u753b\u9762](../guide.png)

[\u8a2d\u5b9a](../Kestrin.ini.example) \u3068 [\u914d\u5e03](https://example.org/kestrin)

```ini
[SERVICE]
CH1=27
```
"""


def run(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout


def sys_path_helper():
    sys.path.insert(0, os.path.join(ARGS["source"], "scripts"))
    import make_package  # noqa: E402
    return make_package


class Pe:
    """The few fields of a PE file the package is checked for."""

    def __init__(self, data):
        self.data = data
        (self.e_lfanew,) = struct.unpack_from("<I", data, 0x3C)
        if data[:2] != b"MZ" or data[self.e_lfanew:self.e_lfanew + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        coff = self.e_lfanew + 4
        (self.machine, count, self.timestamp, self.symbol_table, self.symbol_count,
         optional_size, self.characteristics) = struct.unpack_from("<HHIIIHH", data, coff)
        optional = coff + 20
        (self.magic,) = struct.unpack_from("<H", data, optional)
        directories = optional + (96 if self.magic == 0x10B else 112)
        (directory_count,) = struct.unpack_from("<I", data, directories - 4)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(directory_count)]
        # Section names longer than eight characters ("/4") point into the
        # string table after the symbols.
        strings = self.symbol_table + 18 * self.symbol_count
        self.sections = []
        table = optional + optional_size
        for i in range(count):
            name, vsize, vaddr, rsize, rptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
            name = name.rstrip(b"\0").decode("ascii")
            if name.startswith("/") and self.symbol_table:
                at = strings + int(name[1:])
                name = data[at:data.index(b"\0", at)].decode("ascii")
            self.sections.append((name, vaddr, vsize, rptr, rsize))

    def offset(self, rva):
        for _, vaddr, vsize, rptr, rsize in self.sections:
            if vaddr <= rva < vaddr + max(vsize, rsize):
                return rptr + rva - vaddr
        raise ValueError("RVA 0x%x in no section" % rva)

    def section_bytes(self, name):
        for n, _, vsize, rptr, rsize in self.sections:
            if n == name:
                return self.data[rptr:rptr + min(vsize, rsize)]
        return None

    def version_resources(self):
        """(language, bytes) of every RT_VERSION resource, and the resource
        directories' timestamps."""
        rva, size = self.directories[2]
        if not size:
            return [], []
        base = self.offset(rva)
        stamps = []

        def entries(offset):
            _, stamp, _, _, named, ids = struct.unpack_from("<IIHHHH", self.data, base + offset)
            stamps.append(stamp)
            for i in range(named + ids):
                yield struct.unpack_from("<II", self.data, base + offset + 16 + 8 * i)

        found = []
        for type_id, type_off in entries(0):
            if type_id != 16 or not type_off & 0x80000000:
                continue
            for _, name_off in entries(type_off & 0x7FFFFFFF):
                for language, leaf in entries(name_off & 0x7FFFFFFF):
                    data_rva, data_size, _, _ = struct.unpack_from("<IIII", self.data, base + leaf)
                    at = self.offset(data_rva)
                    found.append((language, self.data[at:at + data_size]))
        return found, stamps


def version_block(data, offset=0):
    """One VS_VERSIONINFO node: (key, value, children) and its length."""
    length, value_length, value_type = struct.unpack_from("<HHH", data, offset)
    end = offset + length
    key_end = offset + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[offset + 6:key_end].decode("utf-16-le")
    pos = (key_end + 2 + 3) & ~3
    children = []
    if value_type == 1 and value_length:
        # A string: its text to the terminator; no children.
        text = data[pos:end].decode("utf-16-le")
        return (key, text.split("\0")[0], children), length
    value = data[pos:pos + value_length]
    pos = (pos + value_length + 3) & ~3
    while pos < end:
        child, child_length = version_block(data, pos)
        children.append(child)
        pos = (pos + child_length + 3) & ~3
    return (key, value, children), length


def nm_symbols(path):
    r = subprocess.run([ARGS["nm"], path], capture_output=True, text=True)
    return [line for line in r.stdout.splitlines() if line.strip()], r.stderr


def exports(path):
    names, in_table = [], False
    for line in run(ARGS["objdump"], "-p", path).splitlines():
        if "[Ordinal/Name Pointer] Table" in line:
            in_table = True
            continue
        if in_table:
            m = re.match(r"^\s*\[\s*\d+\]\s+(\S+)", line)
            if not m:
                break
            names.append(m.group(1))
    return names


class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.helper = sys_path_helper()
        cls.tmp = tempfile.TemporaryDirectory()
        source = ARGS["source"]
        with open(os.path.join(source, "VERSION"), encoding="ascii") as f:
            cls.version = f.read().strip()
        guide = os.path.join(source, "docs", "ja", "README.md")
        cls.real_guide = os.path.exists(guide)
        if not cls.real_guide:
            guide = os.path.join(cls.tmp.name, "README.md")
            with open(guide, "w", encoding="utf-8") as f:
                f.write(PLACEHOLDER_GUIDE)
        cls.guide_source = guide
        cls.runs = []
        for name in ("first", "second run"):
            out = os.path.join(cls.tmp.name, name)
            cls.runs.append(cls.helper.make_package(source, ARGS["dll"], ARGS["info"], ARGS["strip"],
                                                    out, guide=guide, epoch=EPOCH))
        cls.zip_path = cls.runs[0]
        with zipfile.ZipFile(cls.zip_path) as z:
            cls.infos = z.infolist()
            cls.entries = {i.filename: z.read(i) for i in cls.infos}
        cls.base = "Kestrin-%s-win32" % cls.version
        cls.debug_dir = os.path.join(os.path.dirname(cls.zip_path), cls.base + "-debug")

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def write(self, name):
        path = os.path.join(self.tmp.name, "unpacked-" + name)
        with open(path, "wb") as f:
            f.write(self.entries[name])
        return path

    # --- the zip ---------------------------------------------------------------

    def test_name_carries_the_version(self):
        self.assertRegex(self.version, r"^\d+\.\d+\.\d+$")
        self.assertEqual(os.path.basename(self.zip_path), self.base + ".zip")

    def test_two_packagings_give_the_same_bytes(self):
        first, second = (os.path.dirname(p) for p in self.runs)
        for name in (self.base + ".zip", self.base + ".zip.sha256",
                     os.path.join(self.base + "-debug", "Kestrin.dll"),
                     os.path.join(self.base + "-debug", "kestrin-info.exe")):
            with self.subTest(name=name):
                with open(os.path.join(first, name), "rb") as a, open(os.path.join(second, name), "rb") as b:
                    self.assertEqual(a.read(), b.read())

    def test_entries_order_times_and_permissions(self):
        self.assertEqual([i.filename for i in self.infos],
                         ["Kestrin.dll", "kestrin-info.exe", "Kestrin.ini.example", "README-ja.txt",
                          "LICENSE.txt", "THIRD-PARTY-NOTICES.txt", "SHA256SUMS"])
        for info in self.infos:
            with self.subTest(entry=info.filename):
                self.assertEqual(info.date_time, EPOCH_ZIP_TIME)
                self.assertEqual(info.external_attr >> 16, 0o100644)
                self.assertEqual(info.compress_type, zipfile.ZIP_DEFLATED)
                self.assertEqual(info.extra, b"")

    def test_sha256_lists_match(self):
        listed = {}
        for line in self.entries["SHA256SUMS"].decode("ascii").splitlines():
            digest, name = line.split("  ", 1)
            listed[name] = digest
        others = {n: hashlib.sha256(d).hexdigest() for n, d in self.entries.items() if n != "SHA256SUMS"}
        self.assertEqual(listed, others)
        with open(self.zip_path, "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        with open(self.zip_path + ".sha256", encoding="ascii") as f:
            self.assertEqual(f.read(), "%s  %s.zip\n" % (digest, self.base))

    # --- the DLL ---------------------------------------------------------------

    def test_dll_is_stripped_without_link_time(self):
        pe = Pe(self.entries["Kestrin.dll"])
        self.assertEqual(pe.machine, 0x14C)  # i386
        self.assertTrue(pe.characteristics & 0x2000)  # IMAGE_FILE_DLL
        self.assertEqual(pe.timestamp, 0)
        self.assertEqual(pe.symbol_count, 0)
        self.assertFalse([s[0] for s in pe.sections if s[0].startswith(".debug")])
        symbols, err = nm_symbols(self.write("Kestrin.dll"))
        self.assertEqual(symbols, [])
        self.assertIn("no symbols", err)

    def test_dll_exports_only_getiface2(self):
        self.assertEqual(exports(self.write("Kestrin.dll")), ["GetIface2"])

    def test_dll_version_resource(self):
        pe = Pe(self.entries["Kestrin.dll"])
        resources, stamps = pe.version_resources()
        self.assertEqual(len(resources), 1)
        language, data = resources[0]
        self.assertEqual(language, 0x0411)
        self.assertEqual(set(stamps), {0})
        (key, fixed, children), _ = version_block(data)
        self.assertEqual(key, "VS_VERSION_INFO")
        signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIIIII", fixed)
        self.assertEqual(signature, 0xFEEF04BD)
        major, minor, patch = (int(x) for x in self.version.split("."))
        self.assertEqual((file_ms, file_ls), ((major << 16) | minor, patch << 16))
        self.assertEqual((product_ms, product_ls), ((major << 16) | minor, patch << 16))
        blocks = {c[0]: c for c in children}
        self.assertEqual([t[0] for t in blocks["StringFileInfo"][2]], ["041104B0"])
        strings = {s[0]: s[1] for s in blocks["StringFileInfo"][2][0][2]}
        self.assertEqual(strings["ProductName"], "Kestrin")
        self.assertEqual(strings["FileVersion"], self.version)
        self.assertEqual(strings["ProductVersion"], self.version)
        self.assertEqual(strings["FileDescription"], DESCRIPTION)
        self.assertEqual(strings["OriginalFilename"], "Kestrin.dll")
        translation = blocks["VarFileInfo"][2][0]
        self.assertEqual(translation[0], "Translation")
        self.assertEqual(struct.unpack("<HH", translation[1]), (0x0411, 1200))

    def test_debug_copies_keep_symbols_and_match_the_shipped_code(self):
        for name, symbol in (("Kestrin.dll", "GetIface2"), ("kestrin-info.exe", "main")):
            with self.subTest(name=name):
                debug = os.path.join(self.debug_dir, name)
                with open(debug, "rb") as f:
                    unstripped = Pe(f.read())
                shipped = Pe(self.entries[name])
                self.assertTrue(any(line.endswith(" _" + symbol) for line in nm_symbols(debug)[0]))
                self.assertEqual(shipped.timestamp, unstripped.timestamp)
                loaded = [s for s in unstripped.sections if not s[0].startswith(".debug_")]
                self.assertEqual([s[:3] for s in shipped.sections], [s[:3] for s in loaded])
                for section in shipped.sections:
                    self.assertEqual(shipped.section_bytes(section[0]), unstripped.section_bytes(section[0]),
                                     section[0])

    # --- kestrin-info.exe ------------------------------------------------------

    def test_info_is_stripped_and_carries_the_version(self):
        data = self.entries["kestrin-info.exe"]
        pe = Pe(data)
        self.assertEqual(pe.machine, 0x14C)
        self.assertFalse(pe.characteristics & 0x2000)
        self.assertEqual(pe.timestamp, 0)
        self.assertEqual(pe.symbol_count, 0)
        self.assertFalse([s[0] for s in pe.sections if s[0].startswith(".debug_")])
        # --version prints "kestrin-info " and this string.
        self.assertIn(b"\0" + self.version.encode("ascii") + b"\0", data)

    # --- the text files --------------------------------------------------------

    def assert_crlf(self, data):
        self.assertNotIn(b"\r\r", data)
        self.assertEqual(data.count(b"\n"), data.count(b"\r\n"))
        self.assertTrue(data.endswith(b"\r\n"))

    def test_text_files_for_notepad(self):
        for name in ("Kestrin.ini.example", "README-ja.txt", "LICENSE.txt", "THIRD-PARTY-NOTICES.txt"):
            with self.subTest(name=name):
                self.assert_crlf(self.entries[name])
        guide = self.entries["README-ja.txt"]
        self.assertTrue(guide.startswith(b"\xef\xbb\xbf"))
        guide.decode("utf-8")
        with open(os.path.join(ARGS["source"], "docs", "Kestrin.ini.example"), encoding="utf-8") as f:
            example = f.read()
        self.assertEqual(self.entries["Kestrin.ini.example"].decode("cp932").replace("\r\n", "\n"),
                         example.rstrip("\n") + "\n")
        for name, source in (("LICENSE.txt", "LICENSE"), ("THIRD-PARTY-NOTICES.txt", "THIRD-PARTY-NOTICES.txt")):
            with open(os.path.join(ARGS["source"], source), "rb") as f:
                self.assertEqual(self.entries[name].replace(b"\r\n", b"\n"), f.read().rstrip(b"\n") + b"\n")

    def test_notices_name_every_linked_runtime(self):
        notices = self.entries["THIRD-PARTY-NOTICES.txt"].decode("utf-8")
        for needle in ("mingw-w64-crt", "winpthreads", "GCC RUNTIME LIBRARY EXCEPTION",
                       "GNU GENERAL PUBLIC LICENSE", "libstdc++", "JSON for Modern C++"):
            with self.subTest(needle=needle):
                self.assertIn(needle, notices)

    def test_guide_markdown_as_text(self):
        h = self.helper
        cases = [
            ("# \u898b\u51fa\u3057", "\u25a0 \u898b\u51fa\u3057"),
            ("### \u5c0f\u898b\u51fa\u3057 ###", "\u25a1 \u5c0f\u898b\u51fa\u3057"),
            ("## C#", "\u25a0 C#"),
            ("![\u756a\u7d44\u8868](../guide.png)", "\uff08\u56f3\uff1a\u756a\u7d44\u8868\uff09"),
            ("![](a.png)", "\uff08\u56f3\uff09"),
            ('<img src="a.png" alt="\u5b57\u5e55" width="300">', "\uff08\u56f3\uff1a\u5b57\u5e55\uff09"),
            ('<IMG src="a.png">', "\uff08\u56f3\uff09"),
            ("[\u8a2d\u5b9a](../Kestrin.ini.example) \u3092\u898b\u308b", "\u8a2d\u5b9a \u3092\u898b\u308b"),
            ("[\u914d\u5e03](https://example.org/k)", "\u914d\u5e03 (https://example.org/k)"),
            ("`Kestrin.ini` \u3068 **\u6ce8\u610f**", "Kestrin.ini \u3068 \u6ce8\u610f"),
            ("```ini\n# \u30b3\u30e1\u30f3\u30c8 `x`\n```", "# \u30b3\u30e1\u30f3\u30c8 `x`"),
            ("a\r\nb\n\n\n", "a\r\nb"),
        ]
        for markdown, text in cases:
            with self.subTest(markdown=markdown):
                self.assertEqual(h.guide_text(markdown), text + "\r\n")
        if not self.real_guide:
            guide = self.entries["README-ja.txt"][3:].decode("utf-8")
            self.assertIn("\uff08\u56f3\uff1a\u756a\u7d44\u8868\u306e\u753b\u9762\uff09", guide)
            self.assertIn("CH1=27\r\n", guide)

    def test_settings_example_outside_code_page_932_is_refused(self):
        with self.assertRaises(SystemExit):
            self.helper.settings_example("; \u2460 fine, \U0001f211 not\n")
        self.assertEqual(self.helper.settings_example("; \u5b57\nLeft=0"), b"; \x8e\x9a\r\nLeft=0\r\n")


def main():
    if len(sys.argv) != 7:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    for key, value in zip(("source", "dll", "info", "strip", "objdump", "nm"), sys.argv[1:]):
        ARGS[key] = value
    result = unittest.main(argv=[sys.argv[0], "-v"], exit=False).result
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
