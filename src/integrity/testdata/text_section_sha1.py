#!/usr/bin/env python3
"""Writes the SHA-1 (40 lower-case hex digits) of the raw data of a PE file's ".text" section.

usage: text_section_sha1.py IMAGE OUTPUT

A reader of its own, apart from the launcher's, so that the test compares two implementations.
"""
import hashlib
import struct
import sys


def text_section_sha1(image: bytes) -> str:
    (lfanew,) = struct.unpack_from("<i", image, 0x3C)
    if image[lfanew:lfanew + 4] != b"PE\0\0":
        raise SystemExit("not a PE image")
    sections, = struct.unpack_from("<H", image, lfanew + 6)
    optional_size, = struct.unpack_from("<H", image, lfanew + 20)
    table = lfanew + 24 + optional_size
    for index in range(sections):
        name, raw_size, raw_pointer = struct.unpack_from("<8s8xII", image, table + 40 * index)
        if name.rstrip(b"\0") == b".text":
            return hashlib.sha1(image[raw_pointer:raw_pointer + raw_size]).hexdigest()
    raise SystemExit("no .text section")


def main() -> None:
    image_path, output_path = sys.argv[1:3]
    with open(image_path, "rb") as image:
        digest = text_section_sha1(image.read())
    with open(output_path, "w", encoding="ascii") as output:
        output.write(digest + "\n")


if __name__ == "__main__":
    main()
