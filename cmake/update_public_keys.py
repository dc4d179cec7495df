#!/usr/bin/env python3
"""Turns the build's ZV_UPDATE_PUBLIC_KEYS into the header the launcher compiles them from.

    update_public_keys.py KEYS_FILE|"" OUTPUT_HEADER

Prints the fingerprint of each key, one per line: the first 16 lower-case hexadecimal digits of
the SHA-256 of its DER SubjectPublicKeyInfo, as
`openssl pkey -pubin -in KEY.pem -outform DER | sha256sum | cut -c1-16` gives it (zvpublish shows
the same).

KEYS_FILE holds one or more PEM "PUBLIC KEY" blocks (SubjectPublicKeyInfo of an EC key on the curve
P-256, as `openssl ec -pubout` or `zvpublish keygen` writes them); anything between the blocks is
ignored. An empty name means no keys: update manifests are then not signed. Exits with 1 and a
message naming the file and the key for an unreadable file, a file without any such block, or a
key that is not an uncompressed P-256 point.
"""

from __future__ import annotations

import base64
import binascii
import hashlib
import re
import sys
from pathlib import Path

EC_PUBLIC_KEY = bytes.fromhex("2a8648ce3d0201")  # 1.2.840.10045.2.1
PRIME256V1 = bytes.fromhex("2a8648ce3d030107")  # 1.2.840.10045.3.1.7
KNOWN_ALGORITHMS = {
    bytes.fromhex("2a864886f70d010101"): "an RSA key",
    bytes.fromhex("2b6570"): "an Ed25519 key",
    bytes.fromhex("2b6571"): "an Ed448 key",
    bytes.fromhex("2a8648ce380401"): "a DSA key",
}
KNOWN_CURVES = {
    bytes.fromhex("2b81040022"): "P-384",
    bytes.fromhex("2b81040023"): "P-521",
    bytes.fromhex("2b8104000a"): "secp256k1",
}
BLOCK = re.compile(r"-----BEGIN ([A-Z ]+)-----(.*?)-----END \1-----", re.S)


class KeyError_(Exception):
    pass


def read_element(data: bytes, at: int, tag: int) -> tuple[bytes, int]:
    """One DER element with this tag at data[at:]: its contents and the position after it."""
    if at + 2 > len(data) or data[at] != tag:
        raise KeyError_("it is not a SubjectPublicKeyInfo")
    length, at = data[at + 1], at + 2
    if length & 0x80:
        count = length & 0x7F
        if count == 0 or count > 2 or at + count > len(data):
            raise KeyError_("it is not a SubjectPublicKeyInfo")
        length, at = int.from_bytes(data[at:at + count], "big"), at + count
    if at + length > len(data):
        raise KeyError_("it is cut short")
    return data[at:at + length], at + length


def fingerprint(der: bytes) -> str:
    return hashlib.sha256(der).hexdigest()[:16]


def p256_point(der: bytes) -> bytes:
    """The 64 bytes X || Y of an EC P-256 SubjectPublicKeyInfo."""
    spki, end = read_element(der, 0, 0x30)
    if end != len(der):
        raise KeyError_("bytes follow the key")
    algorithm, at = read_element(spki, 0, 0x30)
    key, at = read_element(spki, at, 0x03)
    oid, after = read_element(algorithm, 0, 0x06)
    if oid != EC_PUBLIC_KEY:
        raise KeyError_(f"it is {KNOWN_ALGORITHMS.get(oid, 'not an EC key')}, not an EC P-256 key")
    if after >= len(algorithm) or algorithm[after] != 0x06:
        raise KeyError_("its curve is not a named curve; only P-256 (prime256v1) is taken")
    curve, _ = read_element(algorithm, after, 0x06)
    if curve != PRIME256V1:
        raise KeyError_(f"its curve is {KNOWN_CURVES.get(curve, 'another curve')}, not P-256 (prime256v1)")
    if len(key) == 34 and key[0] == 0 and key[1] in (2, 3):
        raise KeyError_("its point is compressed; write it uncompressed (openssl ec -pubout)")
    if len(key) != 66 or key[0] != 0 or key[1] != 4:
        raise KeyError_("its point is not a P-256 point")
    return key[2:]


def read_keys(path: Path) -> list[tuple[bytes, str]]:
    """Each key's point and fingerprint."""
    try:
        text = path.read_text(encoding="ascii")
    except (OSError, UnicodeDecodeError) as error:
        raise KeyError_(f"cannot read it: {error}") from None
    keys = []
    for number, block in enumerate((b for b in BLOCK.finditer(text) if b.group(1) == "PUBLIC KEY"), start=1):
        try:
            der = base64.b64decode("".join(block.group(2).split()), validate=True)
        except binascii.Error:
            raise KeyError_(f"key {number}: its PEM text is not base64") from None
        try:
            keys.append((p256_point(der), fingerprint(der)))
        except KeyError_ as error:
            raise KeyError_(f"key {number}: {error}") from None
    if not keys:
        other = [b.group(1) for b in BLOCK.finditer(text)]
        found = f" (it holds {', '.join(other)})" if other else ""
        raise KeyError_(f'it holds no PEM "PUBLIC KEY" block{found}')
    return keys


def header(keys: list[tuple[bytes, str]], source: str) -> str:
    lines = [
        "#pragma once",
        "",
        f"// Generated at configure time from ZV_UPDATE_PUBLIC_KEYS ({source or 'not set'}); do not edit.",
        "// Empty: update manifests are not signed.",
        "",
        "#include <array>",
        "",
        '#include "integrity/p256.h"',
        "",
        "namespace zv {",
        "",
        f"inline constexpr std::array<P256PublicKey, {len(keys)}> kUpdatePublicKeys = {{{{",
    ]
    for key, print_ in keys:
        body = ", ".join(f"0x{b:02x}" for b in key)
        lines.append(f"    P256PublicKey{{{{{body}}}}},  // {print_}")
    lines += ["}};", "", "}  // namespace zv", ""]
    return "\n".join(lines)


def main(argv: list[str]) -> int:
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    source, output = argv[1], Path(argv[2])
    keys: list[tuple[bytes, str]] = []
    if source:
        try:
            keys = read_keys(Path(source))
        except KeyError_ as error:
            print(f"ZV_UPDATE_PUBLIC_KEYS: {source}: {error}", file=sys.stderr)
            return 1
    text = header(keys, source)
    output.parent.mkdir(parents=True, exist_ok=True)
    if not output.exists() or output.read_text() != text:
        output.write_text(text)
    for _, print_ in keys:
        print(print_)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
