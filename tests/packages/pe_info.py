#!/usr/bin/env python3
"""Prints what the package test checks of a PE image: machine, large-address-aware flag,
imported DLLs and the text of each manifest resource. Usage: pe_info.py FILE"""
import struct
import sys


def main(path):
    data = open(path, "rb").read()
    if data[:2] != b"MZ":
        sys.exit("not a PE image")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        sys.exit("not a PE image")
    machine, sections, _, _, _, opt_size, characteristics = struct.unpack_from("<HHIIIHH", data, pe + 4)
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    directories = opt + (96 if magic == 0x10B else 112)
    table = [struct.unpack_from("<8sIIII", data, opt + opt_size + 40 * i) for i in range(sections)]

    def offset(rva):
        for _, vsize, vaddr, rsize, raw in table:
            if vaddr <= rva < vaddr + max(vsize, rsize):
                return raw + rva - vaddr
        raise ValueError("address %#x outside every section" % rva)

    def cstring(rva):
        o = offset(rva)
        return data[o:data.index(b"\0", o)].decode("latin-1")

    print("machine %x" % machine)
    print("large-address-aware %d" % (1 if characteristics & 0x20 else 0))
    import_rva = struct.unpack_from("<I", data, directories + 8)[0]
    if import_rva:
        o = offset(import_rva)
        while True:
            name_rva = struct.unpack_from("<I", data, o + 12)[0]
            if not name_rva:
                break
            print("import " + cstring(name_rva).lower())
            o += 20
    resource_rva = struct.unpack_from("<I", data, directories + 16)[0]
    if resource_rva:
        base = offset(resource_rva)

        def entries(o):
            named, ids = struct.unpack_from("<HH", data, o + 12)
            for i in range(named + ids):
                ident, target = struct.unpack_from("<II", data, o + 16 + 8 * i)
                yield ident, target

        for ident, target in entries(base):
            if ident != 24 or not target & 0x80000000:  # RT_MANIFEST
                continue
            for _, by_name in entries(base + (target & 0x7FFFFFFF)):
                for _, leaf in entries(base + (by_name & 0x7FFFFFFF)):
                    rva, size = struct.unpack_from("<II", data, base + leaf)
                    text = data[offset(rva):offset(rva) + size].decode("utf-8", "replace")
                    print("manifest " + " ".join(text.split()))


main(sys.argv[1])
