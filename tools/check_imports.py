#!/usr/bin/env python3
"""Checks that an executable imports no DLL and no function outside a reviewed list.

    tools/check_imports.py HalcyraCreator.exe tools/shipped_imports.txt

Reads the import table (and the delay-load table) of the PE file itself and fails on every
imported DLL and every imported function that is not in the list: a line with a DLL name alone
allows that DLL, a line "DLL function" that function of it; # starts a comment. DLL names
compare without regard to case, as the Windows loader does; a function imported by ordinal is
written #<ordinal>.
"""

import struct
import sys


def read_imports(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"MZ":
        raise ValueError("not an MZ executable")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE header")
    sections_count = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    wide = magic == 0x20B  # PE32+: 64-bit thunks
    directories = optional + (112 if wide else 96)
    sections = []
    for i in range(sections_count):
        entry = optional + optional_size + 40 * i
        size, address, raw_size, raw_offset = struct.unpack_from("<IIII", data, entry + 8)
        sections.append((address, max(size, raw_size), raw_offset))

    def offset(rva):
        for address, size, raw in sections:
            if address <= rva < address + size:
                return rva - address + raw
        raise ValueError("address %#x is in no section" % rva)

    def text(rva):
        start = offset(rva)
        return data[start:data.index(b"\0", start)].decode("ascii")

    def functions(thunks_rva):
        names, position = [], offset(thunks_rva)
        size, ordinal_flag = (8, 1 << 63) if wide else (4, 1 << 31)
        while True:
            thunk = struct.unpack_from("<Q" if wide else "<I", data, position)[0]
            if not thunk:
                return names
            names.append("#%d" % (thunk & 0xFFFF) if thunk & ordinal_flag else text(thunk + 2))
            position += size

    imports = []
    import_rva = struct.unpack_from("<I", data, directories + 8 * 1)[0]
    position = offset(import_rva) if import_rva else None
    while position is not None:
        lookup, _, _, name, first = struct.unpack_from("<IIIII", data, position)
        if not (lookup or name or first):
            break
        dll = text(name)
        imports += [(dll, function) for function in functions(lookup or first)]
        position += 20
    delay_rva = struct.unpack_from("<I", data, directories + 8 * 13)[0]
    position = offset(delay_rva) if delay_rva else None
    while position is not None:
        fields = struct.unpack_from("<8I", data, position)
        if not any(fields):
            break
        dll = text(fields[1])
        imports += [(dll, function) for function in functions(fields[4])]
        position += 32
    return imports


def read_list(path):
    """The allowed DLLs (lower case) and the allowed (DLL, function) pairs."""
    dlls, allowed = set(), set()
    with open(path) as f:
        for line in f:
            line = line.split("#", 1)[0] if not line.lstrip().startswith("#") else ""
            fields = line.split()
            if len(fields) == 1:
                dlls.add(fields[0].lower())
            elif fields:
                dll, function = fields
                allowed.add((dll.lower(), function))
    return dlls, allowed


def main(exe, listing):
    imports = read_imports(exe)
    dlls, allowed = read_list(listing)
    strangers = sorted({dll for dll, _ in imports if dll.lower() not in dlls})
    for dll in strangers:
        print("FAIL: imports from %s, which is not a DLL listed in %s" % (dll, listing))
    unlisted = sorted({(dll, f) for dll, f in imports if (dll.lower(), f) not in allowed})
    for dll, function in unlisted:
        print("FAIL: imports %s %s, which is not in %s" % (dll, function, listing))
    unused = sorted(allowed - {(dll.lower(), f) for dll, f in imports})
    for dll, function in unused:
        print("note: %s %s is listed but no longer imported" % (dll, function))
    print("%d imported functions from %d DLLs, %d functions and %d DLLs outside the list" %
          (len(imports), len({dll.lower() for dll, _ in imports}), len(unlisted), len(strangers)))
    return 1 if unlisted or strangers or not imports else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:3]))
