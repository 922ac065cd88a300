#!/usr/bin/env python3
"""Makes the Windows release package of Kestrin from built binaries.

    make_package.py --source DIR --dll Kestrin.dll --info kestrin-info.exe
                    --strip i686-w64-mingw32-strip --out DIR [--guide FILE]

writes into --out:

    Kestrin-<version>-win32.zip         what a viewer downloads
    Kestrin-<version>-win32.zip.sha256  the zip's SHA-256, as sha256sum writes it
    Kestrin-<version>-win32-debug/      the same two programs with their symbols,
                                        to read the addresses of a crash report

The zip holds, in this order: Kestrin.dll and kestrin-info.exe (symbols
stripped), Kestrin.ini.example, README-ja.txt (the Japanese guide, when the
source tree has one), LICENSE.txt, THIRD-PARTY-NOTICES.txt and SHA256SUMS
(the SHA-256 of every other entry).

The same inputs give the same bytes: the entries come in a fixed order, each
with the time of SOURCE_DATE_EPOCH (1980-01-01 when unset), the same
permissions and the same compression; nothing of the machine, the user or the
clock goes in. The PE files carry no link time (the build links with
--no-insert-timestamp), and strip is made to keep that.

The text files are for Notepad on a Japanese Windows: CRLF line ends; the
guide as UTF-8 with a byte-order mark (Notepad then never takes it for the
ANSI code page); the settings example in code page 932, the code page the
plug-in reads Kestrin.ini with, so that a path typed into the copy in Japanese
reaches the plug-in as typed.
"""
import argparse
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

PACKAGE_PREFIX = "Kestrin-"
PACKAGE_SUFFIX = "-win32"
GUIDE_SOURCE = os.path.join("docs", "ja", "README.md")
GUIDE_NAME = "README-ja.txt"
UTF8_BOM = b"\xef\xbb\xbf"
# ZIP stores local time from 1980 on; earlier epochs are clamped to it.
ZIP_EARLIEST = (1980, 1, 1, 0, 0, 0)


def read_version(source):
    with open(os.path.join(source, "VERSION"), encoding="ascii") as f:
        version = f.readline().strip()
    if not re.fullmatch(r"\d+\.\d+\.\d+", version):
        raise SystemExit("VERSION: expected MAJOR.MINOR.PATCH, got %r" % version)
    return version


def crlf(text):
    """Every line end as CRLF, whatever the source had, ending with one."""
    lines = text.replace("\r\n", "\n").replace("\r", "\n").split("\n")
    while lines and lines[-1] == "":
        lines.pop()
    return "\r\n".join(lines) + "\r\n"


IMAGE = re.compile(r"!\[([^\]]*)\]\([^)]*\)")
HTML_IMAGE = re.compile(r"<img\b[^>]*?(?:\balt=\"([^\"]*)\"[^>]*)?>", re.IGNORECASE)
LINK = re.compile(r"(?<!!)\[([^\]]+)\]\(([^)\s]+)[^)]*\)")
HEADING = re.compile(r"^(#{1,6})\s+(.*?)(?:\s+#+)?\s*$")
EMPHASIS = re.compile(r"(\*\*|__)(.+?)\1")
CODE_SPAN = re.compile(r"`([^`]+)`")


def _link_text(match):
    text, target = match.group(1), match.group(2)
    if re.match(r"https?://", target) and target != text:
        return "%s (%s)" % (text, target)
    return text  # a link into the repository means nothing beside the DLL


def _picture(match):
    # A picture cannot be shown in Notepad: its caption in brackets, (Figure: ...).
    caption = match.group(1)
    return "\uff08\u56f3\uff1a%s\uff09" % caption if caption else "\uff08\u56f3\uff09"


def guide_text(markdown):
    """The Markdown guide as plain text for Notepad.

    Pictures become a bracketed note with their caption, links their text
    (web addresses kept), headings a marked line, and the Markdown marks of
    emphasis, code and fences go; everything else stays as written.
    """
    out = []
    in_fence = False
    for line in markdown.replace("\r\n", "\n").split("\n"):
        if line.lstrip().startswith("```") or line.lstrip().startswith("~~~"):
            in_fence = not in_fence
            continue
        if in_fence:
            out.append(line)
            continue
        line = IMAGE.sub(_picture, line)
        line = HTML_IMAGE.sub(_picture, line)
        line = LINK.sub(_link_text, line)
        line = CODE_SPAN.sub(r"\1", line)
        line = EMPHASIS.sub(r"\2", line)
        heading = HEADING.match(line)
        if heading:
            # Chapters as a filled square, sections below them as an open one.
            mark = "\u25a0" if len(heading.group(1)) <= 2 else "\u25a1"
            line = "%s %s" % (mark, heading.group(2))
        out.append(line)
    return crlf("\n".join(out))


def settings_example(text):
    try:
        return crlf(text).encode("cp932")
    except UnicodeEncodeError as e:
        raise SystemExit("Kestrin.ini.example: %r has no code page 932 form" % e.object[e.start:e.end])


def read_text(path):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    return text[1:] if text.startswith("\ufeff") else text


def pe_timestamp(path):
    """The TimeDateStamp of a PE file's COFF header."""
    with open(path, "rb") as f:
        data = f.read(4096)
    (e_lfanew,) = struct.unpack_from("<I", data, 0x3C)
    if data[:2] != b"MZ" or data[e_lfanew:e_lfanew + 4] != b"PE\0\0":
        raise SystemExit("%s: not a PE file" % path)
    return struct.unpack_from("<I", data, e_lfanew + 8)[0]


def stripped(strip_tool, path, workdir):
    """The file without its symbols. strip writes a new TimeDateStamp, the
    current time unless SOURCE_DATE_EPOCH says otherwise: it is given the
    linked file's own (0), so the shipped file and the copy with symbols
    carry the same one, as a debugger matching a crash dump to it expects."""
    out = os.path.join(workdir, os.path.basename(path))
    env = dict(os.environ, SOURCE_DATE_EPOCH=str(pe_timestamp(path)))
    subprocess.run([strip_tool, "--strip-all", "-o", out, path], check=True, env=env)
    with open(out, "rb") as f:
        return f.read()


def zip_time(epoch):
    t = time.gmtime(epoch)[:6]
    return max(t, ZIP_EARLIEST)


def write_zip(path, entries, date_time):
    """entries: (name, bytes) in the order they go into the zip."""
    with open(path, "wb") as raw:
        with zipfile.ZipFile(raw, "w") as z:
            for name, data in entries:
                info = zipfile.ZipInfo(name, date_time=date_time)
                info.compress_type = zipfile.ZIP_DEFLATED
                info.create_system = 3  # attributes as Unix modes, the same on every machine
                info.external_attr = (0o100644 << 16)
                z.writestr(info, data, compresslevel=9)


def sha256_lines(entries):
    return "".join("%s  %s\n" % (hashlib.sha256(data).hexdigest(), name) for name, data in entries)


def make_package(source, dll, info, strip_tool, out_dir, guide=None, epoch=None):
    version = read_version(source)
    base = PACKAGE_PREFIX + version + PACKAGE_SUFFIX
    if guide is None:
        candidate = os.path.join(source, GUIDE_SOURCE)
        guide = candidate if os.path.exists(candidate) else None
    if epoch is None:
        epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "0"))

    with tempfile.TemporaryDirectory() as work:
        entries = [("Kestrin.dll", stripped(strip_tool, dll, work)),
                   ("kestrin-info.exe", stripped(strip_tool, info, work))]
    with open(os.path.join(source, "docs", "Kestrin.ini.example"), encoding="utf-8") as f:
        entries.append(("Kestrin.ini.example", settings_example(f.read())))
    if guide:
        entries.append((GUIDE_NAME, UTF8_BOM + guide_text(read_text(guide)).encode("utf-8")))
    else:
        print("make_package: no %s yet; the package has no Japanese guide" % GUIDE_SOURCE, file=sys.stderr)
    for name, target in (("LICENSE", "LICENSE.txt"), ("THIRD-PARTY-NOTICES.txt", "THIRD-PARTY-NOTICES.txt")):
        entries.append((target, crlf(read_text(os.path.join(source, name))).encode("utf-8")))
    entries.append(("SHA256SUMS", sha256_lines(entries).encode("ascii")))

    os.makedirs(out_dir, exist_ok=True)
    zip_path = os.path.join(out_dir, base + ".zip")
    partial = zip_path + ".part"
    write_zip(partial, entries, zip_time(epoch))
    os.replace(partial, zip_path)
    with open(zip_path, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    with open(zip_path + ".sha256", "w", encoding="ascii", newline="\n") as f:
        f.write("%s  %s\n" % (digest, base + ".zip"))

    debug_dir = os.path.join(out_dir, base + "-debug")
    if os.path.isdir(debug_dir):
        shutil.rmtree(debug_dir)
    os.makedirs(debug_dir)
    for path in (dll, info):
        shutil.copyfile(path, os.path.join(debug_dir, os.path.basename(path)))
    return zip_path


def main(argv):
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--source", required=True, help="the source tree (VERSION, LICENSE, docs/)")
    p.add_argument("--dll", required=True, help="the built Kestrin.dll, with its symbols")
    p.add_argument("--info", required=True, help="the built kestrin-info.exe, with its symbols")
    p.add_argument("--strip", required=True, help="the mingw-w64 strip of the DLL's architecture")
    p.add_argument("--out", required=True, help="the directory the package goes to")
    p.add_argument("--guide", help="the Japanese guide in Markdown (default: docs/ja/README.md when present)")
    a = p.parse_args(argv)
    print(make_package(a.source, a.dll, a.info, a.strip, a.out, a.guide))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
