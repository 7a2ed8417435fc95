#!/usr/bin/env python3
"""Checks CheckLUM.exe as Windows' loader will see it, reading the file on its
own (not through the tools that built it):

- a 32-bit (Intel 80386) GUI program;
- an application manifest (RT_MANIFEST, id 1) that asks to run as invoker,
  which also turns registry virtualisation off, and names Windows 7 to 11;
- no DLL beyond those every Windows has, so that it runs on a bare system.

Usage: check_exe.py CheckLUM.exe
"""
import struct
import sys
import xml.etree.ElementTree as ET

MACHINE_I386 = 0x14C
SUBSYSTEM_WINDOWS_GUI = 2
RT_MANIFEST = 24
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Windows 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # Windows 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # Windows 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # Windows 10 and 11
}
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "comctl32.dll",
               "msvcrt.dll", "shell32.dll"}


class Image:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        directories = optional + (96 if self.magic == 0x10B else 112)
        self.directory = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(16)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            _, vsize, rva, raw_size, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((rva, max(vsize, raw_size), raw))

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("RVA %#x lies in no section" % rva)

    def resource(self, type_id, name_id):
        root = self.offset(self.directory[2][0])

        def entries(table):
            named, ids = struct.unpack_from("<HH", self.data, table + 12)
            for i in range(named + ids):
                yield struct.unpack_from("<II", self.data, table + 16 + 8 * i)

        def find(table, wanted):
            for key, target in entries(table):
                if wanted is None or key == wanted:
                    return target
            return None

        level = find(root, type_id)
        if level is None or not level & 0x80000000:
            return None
        level = find(root + (level & 0x7FFFFFFF), name_id)
        if level is None or not level & 0x80000000:
            return None
        leaf = find(root + (level & 0x7FFFFFFF), None)  # the first language
        rva, size = struct.unpack_from("<II", self.data, root + leaf)
        start = self.offset(rva)
        return self.data[start:start + size]

    def imported_dlls(self):
        rva, _ = self.directory[1]
        names = []
        at = self.offset(rva)
        while True:
            lookup, _, _, name, thunks = struct.unpack_from("<IIIII", self.data, at)
            if not (lookup or name or thunks):
                return names
            start = self.offset(name)
            names.append(self.data[start:self.data.index(b"\0", start)].decode("ascii").lower())
            at += 20


def check(path):
    failures = []
    image = Image(open(path, "rb").read())
    if image.machine != MACHINE_I386 or image.magic != 0x10B:
        failures.append("not a 32-bit Intel 80386 program (machine %#x)" % image.machine)
    if image.subsystem != SUBSYSTEM_WINDOWS_GUI:
        failures.append("not a GUI program (subsystem %d)" % image.subsystem)
    manifest = image.resource(RT_MANIFEST, 1)
    if manifest is None:
        failures.append("no application manifest (RT_MANIFEST 1)")
    else:
        ns = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3",
              "c": "urn:schemas-microsoft-com:compatibility.v1"}
        root = ET.fromstring(manifest)
        levels = root.findall(".//v3:requestedExecutionLevel", ns)
        if len(levels) != 1 or levels[0].get("level") != "asInvoker" or \
                levels[0].get("uiAccess") != "false":
            failures.append("the manifest does not ask to run as invoker")
        found = {os.get("Id").lower() for os in root.findall(".//c:supportedOS", ns)}
        if found != SUPPORTED_OS:
            failures.append("supported systems %s, expected Windows 7 to 11" % sorted(found))
    extra = set(image.imported_dlls()) - SYSTEM_DLLS
    if extra:
        failures.append("needs DLLs a bare Windows lacks: %s" % sorted(extra))
    return failures


if __name__ == "__main__":
    problems = check(sys.argv[1])
    for problem in problems:
        print("%s: %s" % (sys.argv[1], problem))
    if not problems:
        print("%s: a 32-bit GUI program with its manifest, needing only system DLLs" % sys.argv[1])
    sys.exit(1 if problems else 0)
