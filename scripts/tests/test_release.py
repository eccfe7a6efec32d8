"""The release as a Windows user downloads it: scripts/release.sh run twice from this commit.

    python3 -m pytest scripts/tests/test_release.py      (Debian's python3-pytest)

The version is read from the exe's own version resource, never from the scripts, and every
file that names the version or the zip's hash is compared against it.
"""
import hashlib
import json
import os
import pathlib
import re
import struct
import subprocess
import sys
import time
import zipfile

import pytest
import yaml

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILT_EXE = ROOT / "build" / "release" / "build" / "app" / "morlett.exe"
ZIP_MEMBERS = ["LICENSE", "README.txt", "THIRD-PARTY-NOTICES.txt", "morlett.exe"]
WINGET_ID = "Morlett.Morlett"
RT_VERSION, RT_MANIFEST = 16, 24


def run_release(dist, url=None):
    env = dict(os.environ, MORLETT_DIST=str(dist))
    if url:
        env["MORLETT_RELEASE_URL"] = url
    done = subprocess.run(
        ["bash", "scripts/release.sh"], cwd=ROOT, env=env, capture_output=True, text=True,
        timeout=1800,
    )
    assert done.returncode == 0, "release.sh failed:\n" + done.stdout + done.stderr
    return done.stdout


@pytest.fixture(scope="module")
def releases(tmp_path_factory):
    """Two complete runs; each starts from an empty build folder."""
    runs = []
    for name in ("first", "second"):
        dist = tmp_path_factory.mktemp(name) / "dist"
        run_release(dist)
        runs.append({"dist": dist, "exe": BUILT_EXE.read_bytes()})
    return runs


@pytest.fixture(scope="module")
def dist(releases):
    return releases[0]["dist"]


@pytest.fixture(scope="module")
def exe(releases):
    return releases[0]["exe"]


# --- The exe's own header and resources -------------------------------------------------


def pe_image(image):
    """(link time stamp, {resource type: [data, ...]}) of a PE32+ image."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    assert image[pe : pe + 4] == b"PE\0\0", "not a PE image"
    sections, stamp = struct.unpack_from("<HI", image, pe + 6)
    optional_size = struct.unpack_from("<H", image, pe + 20)[0]
    optional = pe + 24
    assert struct.unpack_from("<H", image, optional)[0] == 0x20B, "not PE32+ (x64)"
    rsrc_rva = struct.unpack_from("<I", image, optional + 112 + 2 * 8)[0]
    table = []
    for i in range(sections):
        at = optional + optional_size + 40 * i
        vsize, va, raw_size, raw = struct.unpack_from("<IIII", image, at + 8)
        table.append((va, max(vsize, raw_size), raw))

    def offset(rva):
        for va, size, raw in table:
            if va <= rva < va + size:
                return raw + rva - va
        raise AssertionError("RVA %#x in no section" % rva)

    base = offset(rsrc_rva)

    def entries(directory):
        named, ids = struct.unpack_from("<HH", image, base + directory + 12)
        for i in range(named + ids):
            yield struct.unpack_from("<II", image, base + directory + 16 + 8 * i)

    resources = {}
    for kind, types in entries(0):
        for _, names in entries(types & 0x7FFFFFFF):
            for _, leaf in entries(names & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", image, base + leaf)
                resources.setdefault(kind, []).append(image[offset(rva) : offset(rva) + size])
    return stamp, resources


def version_strings(block):
    """The fixed file version and the StringFileInfo values of a VS_VERSIONINFO block."""
    fixed = block.index(struct.pack("<I", 0xFEEF04BD))
    ms, ls = struct.unpack_from("<II", block, fixed + 8)
    values = {"fixed": "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)}
    for key in ("FileVersion", "ProductVersion", "ProductName", "OriginalFilename"):
        at = block.index((key + "\0").encode("utf-16-le")) + 2 * len(key) + 2
        at += -at % 4  # values start on a 32-bit boundary of the block
        end = at
        while block[end : end + 2] != b"\0\0":
            end += 2
        values[key] = block[at:end].decode("utf-16-le")
    return values


@pytest.fixture(scope="module")
def exe_version(exe):
    _, resources = pe_image(exe)
    assert len(resources.get(RT_VERSION, [])) == 1, "one version resource"
    values = version_strings(resources[RT_VERSION][0])
    assert re.fullmatch(r"\d+\.\d+\.\d+", values["ProductVersion"]), values
    return values["ProductVersion"]


def zip_name(version):
    return "morlett-%s-win-x64.zip" % version


def winget(dist, version):
    folder = dist / "winget" / "manifests" / "m" / "Morlett" / "Morlett" / version
    return {
        kind: yaml.safe_load((folder / name).read_text(encoding="utf-8"))
        for kind, name in (
            ("version", WINGET_ID + ".yaml"),
            ("defaultLocale", WINGET_ID + ".locale.en-US.yaml"),
            ("installer", WINGET_ID + ".installer.yaml"),
        )
    }


def scoop(dist):
    return json.loads((dist / "scoop" / "morlett.json").read_text(encoding="utf-8"))


# --- The checks --------------------------------------------------------------------------


def test_the_exe_names_one_version_in_its_resources_and_manifest(exe, exe_version):
    stamp, resources = pe_image(exe)
    values = version_strings(resources[RT_VERSION][0])
    assert values["fixed"] == exe_version + ".0"
    assert values["FileVersion"] == exe_version
    assert (values["ProductName"], values["OriginalFilename"]) == ("Morlett", "morlett.exe")
    manifest = resources[RT_MANIFEST][0].decode("utf-8")
    assert 'name="Morlett.Morlett" version="%s.0"' % exe_version in manifest
    assert stamp == 0, "the PE header carries a link time (%#x): builds would differ" % stamp


def test_the_zip_holds_exactly_the_files_with_one_date_and_mode(dist, exe, exe_version):
    files = sorted(p.name for p in dist.iterdir() if p.is_file())
    assert files == ["SHA256SUMS", zip_name(exe_version)]
    commit_time = int(
        subprocess.check_output(["git", "log", "-1", "--format=%ct"], cwd=ROOT, text=True)
    )
    t = time.gmtime(commit_time)
    when = (t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec - t.tm_sec % 2)
    with zipfile.ZipFile(dist / zip_name(exe_version)) as archive:
        assert archive.testzip() is None
        infos = archive.infolist()
        assert [i.filename for i in infos] == ZIP_MEMBERS
        for info in infos:
            assert (info.date_time, info.external_attr >> 16) == (when, 0o100644), info
        assert archive.read("morlett.exe") == exe
        for text in ("README.txt", "LICENSE", "THIRD-PARTY-NOTICES.txt"):
            data = archive.read(text)
            assert data.count(b"\r\n") == data.count(b"\n"), "%s: not CRLF throughout" % text


def test_the_zips_hash_and_the_version_agree_everywhere(dist, exe_version):
    name = zip_name(exe_version)
    digest = hashlib.sha256((dist / name).read_bytes()).hexdigest()
    manifests = winget(dist, exe_version)
    installer = manifests["installer"]["Installers"]
    scoop_manifest = scoop(dist)
    hashes = {
        "SHA256SUMS": (dist / "SHA256SUMS").read_text(encoding="utf-8"),
        "winget InstallerSha256": installer[0]["InstallerSha256"].lower(),
        "scoop hash": scoop_manifest["hash"],
    }
    assert hashes == {
        "SHA256SUMS": "%s  %s\n" % (digest, name),
        "winget InstallerSha256": digest,
        "scoop hash": digest,
    }
    versions = {kind: manifests[kind]["PackageVersion"] for kind in manifests}
    versions["scoop"] = scoop_manifest["version"]
    assert versions == dict.fromkeys(versions, exe_version)
    for url in (installer[0]["InstallerUrl"], scoop_manifest["url"]):
        assert url.endswith("/" + name), url


@pytest.mark.parametrize(
    "kind, fields",
    [
        ("version", {"PackageIdentifier": WINGET_ID, "DefaultLocale": "en-US",
                     "ManifestType": "version", "ManifestVersion": "1.6.0"}),
        ("defaultLocale", {"PackageIdentifier": WINGET_ID, "PackageLocale": "en-US",
                           "Publisher": None, "PackageName": "Morlett", "License": "MIT",
                           "ShortDescription": None, "ManifestType": "defaultLocale",
                           "ManifestVersion": "1.6.0"}),
        ("installer", {"PackageIdentifier": WINGET_ID, "InstallerType": "zip",
                       "NestedInstallerType": "portable",
                       "NestedInstallerFiles": [{"RelativeFilePath": "morlett.exe",
                                                 "PortableCommandAlias": "morlett"}],
                       "ManifestType": "installer", "ManifestVersion": "1.6.0"}),
    ],
)
def test_winget_manifests_have_every_field(dist, exe_version, kind, fields):
    manifest = winget(dist, exe_version)[kind]
    for field, value in fields.items():
        assert manifest.get(field), "%s: no %s" % (kind, field)
        if value is not None:
            assert manifest[field] == value, field
    if kind == "installer":
        (entry,) = manifest["Installers"]
        assert entry["Architecture"] == "x64"
        assert re.fullmatch(r"[0-9A-F]{64}", entry["InstallerSha256"])


def test_scoop_manifest_keeps_settings_and_follows_the_url_pattern(dist, exe_version):
    manifest = scoop(dist)
    for field in ("version", "url", "hash", "bin", "shortcuts", "persist", "checkver",
                  "autoupdate", "license"):
        assert manifest.get(field), "no %s" % field
    assert manifest["bin"] == "morlett.exe"
    assert manifest["shortcuts"] == [["morlett.exe", "Morlett"]]
    assert manifest["persist"] == ["morlett.json"]
    pattern = manifest["autoupdate"]["url"]
    assert "$version" in pattern and pattern.replace("$version", exe_version) == manifest["url"]
    assert manifest["checkver"]["url"] in pattern
    assert re.search(manifest["checkver"]["regex"], zip_name(exe_version)).group(1) == exe_version


def test_a_release_url_given_reaches_both_manifests(exe, exe_version, tmp_path):
    pattern = "https://downloads.example.org/morlett/v$version/morlett-$version-win-x64.zip"
    (tmp_path / "morlett.exe").write_bytes(exe)
    subprocess.run(
        [sys.executable, ROOT / "scripts" / "release_files.py", "--exe", tmp_path / "morlett.exe",
         "--version", exe_version, "--url-pattern", pattern, "--source-root", ROOT,
         "--out", tmp_path / "out"],
        check=True, capture_output=True,
    )
    url = pattern.replace("$version", exe_version)
    manifest = scoop(tmp_path / "out")
    assert winget(tmp_path / "out", exe_version)["installer"]["Installers"][0]["InstallerUrl"] == url
    assert (manifest["url"], manifest["autoupdate"]["url"]) == (url, pattern)
    assert manifest["checkver"]["url"] == "https://downloads.example.org/morlett/"


def test_readme_txt_is_the_readmes_install_section(dist, exe_version):
    with zipfile.ZipFile(dist / zip_name(exe_version)) as archive:
        text = archive.read("README.txt").decode("utf-8").replace("\r\n", "\n")
    readme = (ROOT / "README.md").read_text(encoding="utf-8")
    section = readme.split("## Install on Windows\n", 1)[1].split("\n## ", 1)[0].strip("\n")
    assert text.endswith("\n\n" + section + "\n")
    assert exe_version in text.splitlines()[0]
    for needle in ("shell:startup", "/SC ONLOGON /RL HIGHEST", "winget install", "scoop install",
                   "morlett.json"):
        assert needle in text


def test_the_notices_carry_the_audio_librarys_licence_as_its_header_states_it(dist, exe_version):
    candidates = [os.environ.get("MINIAUDIO_INCLUDE_DIR", ""),
                  os.environ.get("MORLETT_PREFIX", "/opt/morlett") + "/miniaudio/usr/include"]
    header = next((pathlib.Path(c) / "miniaudio.h" for c in candidates
                   if c and (pathlib.Path(c) / "miniaudio.h").is_file()), None)
    if header is None:
        pytest.skip("no miniaudio.h on this machine")
    text = header.read_text(encoding="utf-8")
    start = text.rindex("This software is available as a choice of the following licenses.")
    licence = text[start : text.index("*/", start)].rstrip("\n")
    with zipfile.ZipFile(dist / zip_name(exe_version)) as archive:
        notices = archive.read("THIRD-PARTY-NOTICES.txt").decode("utf-8").replace("\r\n", "\n")
    assert licence in notices
    for piece in ("GCC RUNTIME LIBRARY EXCEPTION", "winpthreads", "mingw-w64-x86-64-dev"):
        assert piece in notices


def test_two_builds_are_byte_identical(releases):
    first, second = releases
    assert first["exe"] == second["exe"], "morlett.exe differs between two builds"
    names = sorted(p.relative_to(first["dist"]) for p in first["dist"].rglob("*") if p.is_file())
    assert names == sorted(
        p.relative_to(second["dist"]) for p in second["dist"].rglob("*") if p.is_file()
    )
    for name in names:
        assert (first["dist"] / name).read_bytes() == (second["dist"] / name).read_bytes(), name
