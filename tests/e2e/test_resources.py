"""The resources that ZVLauncher.exe carries, read back with icoutils' wrestool: icon group 101,
the version record and the application manifest."""

import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

import pytest

from harness import REPO, build_dir

ICON_SIZES = [256, 128, 64, 48, 32, 16]
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24


def resource(type_id: int | str, name: int) -> bytes:
    result = subprocess.run(["wrestool", "-x", "--raw", f"--type={type_id}", f"--name={name}",
                             str(build_dir() / "ZVLauncher.exe")], capture_output=True, check=True)
    assert result.stdout, f"no resource {type_id}/{name}"
    return result.stdout


def image_header(data: bytes) -> tuple[int, int, int]:
    """Width, height and bits per pixel of one icon image, stored as PNG or as a bitmap."""
    if data.startswith(b"\x89PNG\r\n\x1a\n"):
        width, height, depth, colour = struct.unpack(">IIBB", data[16:26])
        assert colour == 6, "a PNG icon image must be RGBA"
        return width, height, depth * 4
    _, width, height, _, bits = struct.unpack("<IiiHH", data[:16])
    return width, height // 2, bits  # a bitmap's height counts the AND mask too


def test_icon_group_101_has_six_32_bit_sizes():
    group = resource(RT_GROUP_ICON, 101)
    reserved, kind, count = struct.unpack("<HHH", group[:6])
    assert (reserved, kind, count) == (0, 1, 6)
    sizes = []
    for i in range(count):
        width, height, colours, _, planes, bits, length, icon_id = struct.unpack(
            "<BBBBHHIH", group[6 + 14 * i:6 + 14 * (i + 1)])
        side = width or 256
        assert (height or 256, colours, planes, bits) == (side, 0, 1, 32)
        image = resource(RT_ICON, icon_id)
        assert len(image) == length
        assert image_header(image) == (side, side, 32)
        sizes.append(side)
    assert sizes == ICON_SIZES


def test_icon_is_made_reproducibly_from_the_source_picture(tmp_path):
    """The images in the executable are what make_icon.py makes from zarnovelle-icon.png, and a
    second run makes the same bytes."""
    outputs = []
    for name in ("first.ico", "second.ico"):
        subprocess.run([sys.executable, str(REPO / "resources" / "make_icon.py"),
                        str(REPO / "resources" / "zarnovelle-icon.png"), str(tmp_path / name)], check=True)
        outputs.append((tmp_path / name).read_bytes())
    assert outputs[0] == outputs[1]

    icon = outputs[0]
    group = resource(RT_GROUP_ICON, 101)
    for i in range(6):
        length, offset = struct.unpack("<II", icon[6 + 16 * i + 8:6 + 16 * (i + 1)])
        icon_id = struct.unpack("<H", group[6 + 14 * i + 12:6 + 14 * (i + 1)])[0]
        assert resource(RT_ICON, icon_id) == icon[offset:offset + length], f"image {i}"


def version_strings(data: bytes) -> dict[str, str]:
    """The StringFileInfo pairs of a version record (UTF-16, each string zero-terminated)."""
    text = data.decode("utf-16-le", errors="replace")
    strings = {}
    for key in ("CompanyName", "FileDescription", "FileVersion", "ProductName", "ProductVersion",
                "OriginalFilename", "InternalName", "LegalCopyright"):
        at = text.find(key + "\0")
        assert at >= 0, key
        value_at = at + len(key) + 1
        while text[value_at] == "\0":  # padding to a 32-bit boundary
            value_at += 1
        strings[key] = text[value_at:text.index("\0", value_at)]
    return strings


def test_version_record():
    data = resource(RT_VERSION, 1)
    fixed = data.find(struct.pack("<I", 0xFEEF04BD))
    assert fixed > 0, "no VS_FIXEDFILEINFO"
    file_ms, file_ls, product_ms, product_ls = struct.unpack("<IIII", data[fixed + 8:fixed + 24])
    file_type = struct.unpack("<I", data[fixed + 36:fixed + 40])[0]
    assert file_type == 1  # VFT_APP
    version = f"{file_ms >> 16}.{file_ms & 0xFFFF}.{file_ls >> 16}.{file_ls & 0xFFFF}"
    assert (product_ms, product_ls) == (file_ms, file_ls)
    strings = version_strings(data)
    assert strings["FileVersion"] == strings["ProductVersion"] == version
    assert strings["CompanyName"] == "Zarnovelle Software"
    assert strings["FileDescription"] == "Zarnovelle Launcher"
    assert strings["OriginalFilename"] == "ZVLauncher.exe"


NS = {
    "v1": "urn:schemas-microsoft-com:asm.v1",
    "v3": "urn:schemas-microsoft-com:asm.v3",
    "compat": "urn:schemas-microsoft-com:compatibility.v1",
    "ws2016": "http://schemas.microsoft.com/SMI/2016/WindowsSettings",
    "ws2005": "http://schemas.microsoft.com/SMI/2005/WindowsSettings",
}
WINDOWS_10_AND_11 = "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"


@pytest.fixture(scope="module")
def manifest() -> ET.Element:
    return ET.fromstring(resource(RT_MANIFEST, 1))


def test_manifest_runs_as_invoker(manifest):
    levels = manifest.findall(".//v3:trustInfo/v3:security/v3:requestedPrivileges/v3:requestedExecutionLevel", NS)
    assert [(e.get("level"), e.get("uiAccess")) for e in levels] == [("asInvoker", "false")]


def test_manifest_declares_windows_10_and_11(manifest):
    ids = [e.get("Id") for e in manifest.findall(".//compat:compatibility/compat:application/compat:supportedOS", NS)]
    assert ids == [WINDOWS_10_AND_11]


def test_manifest_is_long_path_and_per_monitor_dpi_aware(manifest):
    settings = manifest.find(".//v3:application/v3:windowsSettings", NS)
    assert settings.find("ws2016:longPathAware", NS).text == "true"
    # Per-monitor version 2, then version 1 where 2 is not known, and the older declaration for
    # the releases before dpiAwareness.
    assert settings.find("ws2016:dpiAwareness", NS).text == "PerMonitorV2, PerMonitor"
    assert settings.find("ws2005:dpiAware", NS).text == "true/pm"


def test_manifest_asks_for_common_controls_6(manifest):
    identities = [e.attrib for e in manifest.findall(".//v1:dependency/v1:dependentAssembly/v1:assemblyIdentity", NS)]
    assert [(i["name"], i["version"], i["publicKeyToken"]) for i in identities] == [
        ("Microsoft.Windows.Common-Controls", "6.0.0.0", "6595b64144ccf1df")]


def test_texts_are_carried_one_resource_per_language():
    """The player's texts: each file of resources/texts, byte for byte, as ZVTEXTS 1 to N in the
    order of the file names."""
    files = sorted((REPO / "resources" / "texts").glob("*.txt"))
    assert len(files) == 10
    for number, file in enumerate(files, start=1):
        assert resource("+ZVTEXTS", number) == file.read_bytes(), file.name
    with pytest.raises(AssertionError, match="no resource"):
        resource("+ZVTEXTS", len(files) + 1)
