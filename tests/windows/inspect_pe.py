#!/usr/bin/env python3
"""Checks a built vornalet.exe for what a shipped Windows program must be.

Reads the PE file itself (headers, import tables, resource tree) with the
standard library only, and cross-checks the import list with the mingw-w64
objdump when one is installed:

  machine and optional-header magic   i386 / PE32 or x86-64 / PE32+
  subsystem                           2, Windows GUI: no console window
  DLL characteristics                 DYNAMIC_BASE and NX_COMPAT
  imports (normal and delay-loaded)   Windows system DLLs only: the program
                                      is statically linked and must run on a
                                      machine without any mingw runtime
  manifest (resource type 24, id 1)   exactly one; well-formed XML asking for
                                      requestedExecutionLevel
                                      level="requireAdministrator"
  version (resource type 16)          a VS_VERSION_INFO with its fixed part,
                                      file type VFT_APP, and the strings
                                      OriginalFilename and FileVersion

Every failed check prints a "FAIL <check>: ..." line; the exit code is 1 when
any check failed, 2 when the file cannot be read as a PE file at all.

usage: inspect_pe.py --arch i386|x86-64 path/to/vornalet.exe
"""

import argparse
import shutil
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

ARCHES = {
    # name: (COFF machine, optional-header magic, objdump)
    "i386": (0x014C, 0x010B, "i686-w64-mingw32-objdump"),
    "x86-64": (0x8664, 0x020B, "x86_64-w64-mingw32-objdump"),
}

# DLLs that every supported Windows ships. The program may import these and
# nothing else.
SYSTEM_DLLS = {"kernel32.dll", "advapi32.dll", "msi.dll", "netapi32.dll", "shell32.dll", "msvcrt.dll", "user32.dll"}

# Runtime DLLs of the toolchain: importing one means the static link failed.
# Named in the failure so that the cause is plain.
TOOLCHAIN_DLL_PREFIXES = ("libstdc++", "libgcc_s", "libwinpthread", "libssp", "libatomic")

IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE = 0x0040
IMAGE_DLLCHARACTERISTICS_NX_COMPAT = 0x0100
DIRECTORY_IMPORT = 1
DIRECTORY_RESOURCE = 2
DIRECTORY_DELAY_IMPORT = 13
RT_VERSION = 16
RT_MANIFEST = 24
CREATEPROCESS_MANIFEST_RESOURCE_ID = 1
VS_FFI_SIGNATURE = 0xFEEF04BD
VFT_APP = 1
ASM_V3 = "urn:schemas-microsoft-com:asm.v3"


class NotPe(Exception):
    pass


class PeFile:
    """The parts of a PE image the checks need, read straight from the file."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise NotPe("no MZ signature")
        pe_offset = self.u32(0x3C)
        if data[pe_offset : pe_offset + 4] != b"PE\0\0":
            raise NotPe("no PE signature at 0x%x" % pe_offset)
        coff = pe_offset + 4
        (self.machine, section_count, _, _, _, optional_size, _) = struct.unpack_from("<HHIIIHH", data, coff)
        optional = coff + 20
        self.magic = self.u16(optional)
        if self.magic == 0x010B:
            directories_offset = optional + 96
        elif self.magic == 0x020B:
            directories_offset = optional + 112
        else:
            raise NotPe("unknown optional header magic 0x%04x" % self.magic)
        # Subsystem and DllCharacteristics sit at the same offsets in PE32
        # and PE32+.
        self.subsystem = self.u16(optional + 68)
        self.dll_characteristics = self.u16(optional + 70)
        directory_count = self.u32(directories_offset - 4)
        self.directories = [
            struct.unpack_from("<II", data, directories_offset + 8 * i) for i in range(min(directory_count, 16))
        ]
        self.sections = []
        table = optional + optional_size
        for i in range(section_count):
            name, virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode("ascii", "replace"), rva, max(virtual_size, raw_size),
                                  raw_offset, raw_size))

    def u16(self, offset):
        return struct.unpack_from("<H", self.data, offset)[0]

    def u32(self, offset):
        return struct.unpack_from("<I", self.data, offset)[0]

    def offset_of(self, rva):
        for _, start, size, raw_offset, raw_size in self.sections:
            if start <= rva < start + size:
                if rva - start >= raw_size:
                    raise NotPe("RVA 0x%x lies in uninitialised data" % rva)
                return raw_offset + (rva - start)
        raise NotPe("RVA 0x%x is in no section" % rva)

    def directory(self, index):
        if index >= len(self.directories):
            return 0, 0
        return self.directories[index]

    def ascii_at(self, rva):
        start = self.offset_of(rva)
        end = self.data.index(b"\0", start)
        return self.data[start:end].decode("ascii", "replace")

    def imported_dlls(self):
        """Names of the DLLs in the import table, and in the delay-import table."""
        normal, delayed = [], []
        rva, size = self.directory(DIRECTORY_IMPORT)
        if rva and size:
            entry = self.offset_of(rva)
            while True:
                fields = struct.unpack_from("<5I", self.data, entry)
                if not any(fields):
                    break
                normal.append(self.ascii_at(fields[3]))
                entry += 20
        rva, size = self.directory(DIRECTORY_DELAY_IMPORT)
        if rva and size:
            entry = self.offset_of(rva)
            while True:
                fields = struct.unpack_from("<8I", self.data, entry)
                if not any(fields):
                    break
                delayed.append(self.ascii_at(fields[1]))
                entry += 32
        return normal, delayed

    def resources(self):
        """Every resource as ((type, name, language), bytes).

        Type, name and language are numbers, or strings for named entries."""
        rva, size = self.directory(DIRECTORY_RESOURCE)
        if not rva or not size:
            return []
        base = self.offset_of(rva)
        found = []

        def walk(directory, path):
            named, numbered = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + numbered):
                name_field, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                if name_field & 0x80000000:
                    at = base + (name_field & 0x7FFFFFFF)
                    length = self.u16(at)
                    key = self.data[at + 2 : at + 2 + 2 * length].decode("utf-16-le")
                else:
                    key = name_field & 0xFFFF
                if target & 0x80000000:
                    if len(path) >= 2:
                        raise NotPe("resource tree deeper than type/name/language")
                    walk(target & 0x7FFFFFFF, path + (key,))
                else:
                    data_rva, data_size = struct.unpack_from("<II", self.data, base + target)
                    start = self.offset_of(data_rva)
                    found.append((path + (key,), self.data[start : start + data_size]))

        walk(0, ())
        return found


def parse_version_block(data, offset):
    """One VS_VERSIONINFO-shaped block: (key, value bytes, children, end)."""
    length, value_length, value_type = struct.unpack_from("<HHH", data, offset)
    end = offset + length
    key_start = offset + 6
    key_end = key_start
    while data[key_end : key_end + 2] != b"\0\0":
        key_end += 2
    key = data[key_start:key_end].decode("utf-16-le")
    position = (key_end + 2 + 3) & ~3
    value_bytes = value_length * 2 if value_type == 1 else value_length
    value = data[position : position + value_bytes]
    position = (position + value_bytes + 3) & ~3
    children = []
    while position < end:
        child = parse_version_block(data, position)
        children.append(child)
        position = (child[3] + 3) & ~3
    return key, value, children, end


def version_strings(info_children):
    strings = {}
    for key, _, children, _ in info_children:
        if key != "StringFileInfo":
            continue
        for _, _, table, _ in children:
            for name, value, _, _ in table:
                strings[name] = value.decode("utf-16-le").rstrip("\0")
    return strings


class Report:
    def __init__(self):
        self.failures = 0

    def ok(self, check, detail):
        print("ok   %-12s %s" % (check, detail))

    def fail(self, check, detail):
        self.failures += 1
        print("FAIL %s: %s" % (check, detail))

    def expect(self, condition, check, passed, failed):
        if condition:
            self.ok(check, passed)
        else:
            self.fail(check, failed)


def check_headers(pe, arch, report):
    machine, magic, _ = ARCHES[arch]
    report.expect(pe.machine == machine, "machine", "0x%04x (%s)" % (pe.machine, arch),
                  "0x%04x, expected 0x%04x (%s)" % (pe.machine, machine, arch))
    report.expect(pe.magic == magic, "magic", "0x%04x" % pe.magic, "0x%04x, expected 0x%04x" % (pe.magic, magic))
    report.expect(pe.subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI, "subsystem", "2 (Windows GUI)",
                  "%d, expected 2 (Windows GUI): the program must not open a console" % pe.subsystem)
    wanted = IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE | IMAGE_DLLCHARACTERISTICS_NX_COMPAT
    report.expect(pe.dll_characteristics & wanted == wanted, "security",
                  "DYNAMIC_BASE and NX_COMPAT (0x%04x)" % pe.dll_characteristics,
                  "DllCharacteristics 0x%04x lacks DYNAMIC_BASE or NX_COMPAT" % pe.dll_characteristics)


def objdump_dlls(pe, path):
    """The DLL names that the mingw-w64 objdump of the file's own machine
    lists, or None when that objdump is not installed."""
    tools = [tool for machine, _, tool in ARCHES.values() if machine == pe.machine]
    tool = shutil.which(tools[0]) if tools else None
    if tool is None:
        return None
    result = subprocess.run([tool, "-p", path], capture_output=True, text=True)
    if result.returncode != 0:
        raise NotPe("%s -p failed: %s" % (tool, result.stderr.strip()))
    return [line.split("DLL Name:", 1)[1].strip() for line in result.stdout.splitlines() if "DLL Name:" in line]


def check_imports(pe, path, report):
    normal, delayed = pe.imported_dlls()
    dlls = normal + delayed
    if not normal:
        report.fail("imports", "no imported DLL found: the import table was not read")
        return
    bad = 0
    for dll in dlls:
        lower = dll.lower()
        if lower.startswith(TOOLCHAIN_DLL_PREFIXES):
            report.fail("imports", "%s is a toolchain runtime DLL: the program is not statically linked" % dll)
            bad += 1
        elif lower not in SYSTEM_DLLS:
            report.fail("imports", "%s is not one of the allowed Windows system DLLs %s" % (dll, sorted(SYSTEM_DLLS)))
            bad += 1
    if not bad:
        report.ok("imports", ", ".join(normal) + (" (delay-loaded: %s)" % ", ".join(delayed) if delayed else ""))
    # A second reader of the same table: a mistake in either one shows here.
    listed = objdump_dlls(pe, path)
    if listed is None:
        print("note objdump      no mingw-w64 objdump for machine 0x%04x; imports read once" % pe.machine)
        return
    ours = set(d.lower() for d in dlls)
    theirs = set(d.lower() for d in listed)
    report.expect(set(d.lower() for d in normal) <= theirs <= ours, "objdump", "lists the same DLLs",
                  "objdump lists %s, this reader found %s" % (sorted(listed), sorted(dlls)))


def check_manifest(resources, report):
    manifests = [(key, data) for key, data in resources if key[0] == RT_MANIFEST]
    if len(manifests) != 1:
        report.fail("manifest", "%d manifest resources %s, expected exactly one" %
                    (len(manifests), [key for key, _ in manifests]))
        if not manifests:
            return
    key, data = manifests[0]
    if key[1] != CREATEPROCESS_MANIFEST_RESOURCE_ID:
        report.fail("manifest", "resource id %r, expected 1 (the one Windows reads for an .exe)" % (key[1],))
    try:
        root = ET.fromstring(data)
    except ET.ParseError as error:
        report.fail("manifest", "not well-formed XML: %s" % error)
        return
    levels = [element.attrib for element in root.iter("{%s}requestedExecutionLevel" % ASM_V3)]
    if len(levels) != 1:
        report.fail("manifest", "%d requestedExecutionLevel elements in the asm.v3 namespace, expected one" %
                    len(levels))
        return
    level = levels[0].get("level")
    ui_access = levels[0].get("uiAccess", "false")
    report.expect(level == "requireAdministrator" and ui_access == "false", "manifest",
                  'requestedExecutionLevel level="requireAdministrator" uiAccess="false"',
                  'requestedExecutionLevel level="%s" uiAccess="%s", expected requireAdministrator and false' %
                  (level, ui_access))


def check_version(resources, report):
    versions = [data for key, data in resources if key[0] == RT_VERSION]
    if len(versions) != 1:
        report.fail("version", "%d version resources, expected exactly one" % len(versions))
        return
    key, fixed, children, _ = parse_version_block(versions[0], 0)
    if key != "VS_VERSION_INFO" or len(fixed) < 52:
        report.fail("version", "block %r with a %d-byte fixed part, expected VS_VERSION_INFO with 52" %
                    (key, len(fixed)))
        return
    signature, _, ms, ls, _, _, _, _, _, file_type = struct.unpack_from("<10I", fixed)
    if signature != VS_FFI_SIGNATURE:
        report.fail("version", "fixed part signature 0x%08x, expected 0x%08x" % (signature, VS_FFI_SIGNATURE))
        return
    if file_type != VFT_APP:
        report.fail("version", "file type %d, expected 1 (VFT_APP)" % file_type)
    strings = version_strings(children)
    fixed_version = "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    if strings.get("OriginalFilename", "").lower() != "vornalet.exe":
        report.fail("version", "OriginalFilename %r, expected vornalet.exe" % strings.get("OriginalFilename"))
    elif strings.get("FileVersion") != fixed_version:
        report.fail("version", "FileVersion string %r differs from the fixed file version %s" %
                    (strings.get("FileVersion"), fixed_version))
    else:
        report.ok("version", "%s, %s" % (fixed_version, strings.get("FileDescription", "")))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--arch", choices=sorted(ARCHES), required=True)
    parser.add_argument("path")
    arguments = parser.parse_args()

    print("== %s (%s)" % (arguments.path, arguments.arch))
    try:
        with open(arguments.path, "rb") as file:
            pe = PeFile(file.read())
        report = Report()
        check_headers(pe, arguments.arch, report)
        check_imports(pe, arguments.path, report)
        resources = pe.resources()
        check_manifest(resources, report)
        check_version(resources, report)
    except (OSError, NotPe, struct.error, ValueError, IndexError) as error:
        print("FAIL read: %s is not a readable PE file: %s" % (arguments.path, error))
        return 2
    if report.failures:
        print("%s: %d check(s) FAILED" % (arguments.path, report.failures))
        return 1
    print("%s: all checks passed" % arguments.path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
