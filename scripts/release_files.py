#!/usr/bin/env python3
"""Writes the release files from a built morlett.exe: the zip, SHA256SUMS and the winget and
Scoop manifests. scripts/release.sh builds the exe and calls this; every output depends only
on the inputs and SOURCE_DATE_EPOCH, so two runs give the same bytes.

  release_files.py --exe EXE --version 1.0.0 --url-pattern URL --source-root DIR --out DIST

URL is the download address with "$version" where the version goes.
"""
import argparse
import hashlib
import json
import os
import pathlib
import re
import sys
import time
import zipfile

ZIP_NAME = "morlett-{version}-win-x64.zip"
PACKAGE_ID = "Morlett.Morlett"
PUBLISHER = "the Morlett authors"
SHORT_DESCRIPTION = "A tray utility that warns audibly while Caps Lock is on."
DESCRIPTION = (
    "Morlett sits in the notification area and repeats a short warning beep while Caps Lock "
    "is on; a release chime plays when it goes off. It can switch Caps Lock off by itself. "
    "Settings live in morlett.json beside morlett.exe."
)
WINGET_MANIFEST_VERSION = "1.6.0"
WINGET_SCHEMA = "https://aka.ms/winget-manifest.{kind}.1.6.0.schema.json"
INSTALL_HEADING = "## Install on Windows"


def windows_text(text):
    """Text files in the zip have Windows line ends (Notepad of older Windows shows no others)."""
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8")


def install_section(readme_md):
    """The README's "Install on Windows" section, without its heading: README.txt's body."""
    text = readme_md.read_text(encoding="utf-8")
    start = text.index(INSTALL_HEADING + "\n") + len(INSTALL_HEADING) + 1
    end = text.find("\n## ", start)
    return text[start : end if end >= 0 else len(text)].strip("\n") + "\n"


def readme_txt(readme_md, version):
    title = "Morlett %s - a warning while Caps Lock is on" % version
    return "%s\n%s\n\n%s" % (title, "=" * len(title), install_section(readme_md))


def zip_time(epoch):
    # Zip entries carry a local date and time without zone from 1980 on; UTC keeps it the
    # same wherever the release is built.
    t = time.gmtime(max(epoch, 315532800))
    return (t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec - t.tm_sec % 2)


def write_zip(path, members, epoch):
    """members: name -> bytes. Sorted names, one date, one mode, no extra fields."""
    with zipfile.ZipFile(path, "w") as archive:
        for name in sorted(members):
            info = zipfile.ZipInfo(name, date_time=zip_time(epoch))
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 3
            info.external_attr = 0o100644 << 16
            archive.writestr(info, members[name], compresslevel=9)


def sha256(path):
    return hashlib.sha256(pathlib.Path(path).read_bytes()).hexdigest()


def yaml_text(value):
    """A YAML scalar that reads back as this exact string."""
    return json.dumps(value, ensure_ascii=False)


def winget_files(version, url, digest, release_date):
    def document(kind, fields):
        lines = ["# yaml-language-server: $schema=" + WINGET_SCHEMA.format(kind=kind), ""]
        lines += fields
        lines += ["ManifestType: " + kind, "ManifestVersion: " + WINGET_MANIFEST_VERSION, ""]
        return "\n".join(lines)

    head = ["PackageIdentifier: " + PACKAGE_ID, "PackageVersion: " + yaml_text(version)]
    return {
        PACKAGE_ID + ".yaml": document("version", head + ["DefaultLocale: en-US"]),
        PACKAGE_ID + ".locale.en-US.yaml": document(
            "defaultLocale",
            head
            + [
                "PackageLocale: en-US",
                "Publisher: " + yaml_text(PUBLISHER),
                "PackageName: Morlett",
                "License: MIT",
                "Copyright: " + yaml_text("Copyright (c) 2026 " + PUBLISHER),
                "ShortDescription: " + yaml_text(SHORT_DESCRIPTION),
                "Description: " + yaml_text(DESCRIPTION),
                "Moniker: morlett",
                "Tags:",
                "- caps-lock",
                "- keyboard",
                "- tray",
            ],
        ),
        PACKAGE_ID + ".installer.yaml": document(
            "installer",
            head
            + [
                "InstallerType: zip",
                "NestedInstallerType: portable",
                "NestedInstallerFiles:",
                "- RelativeFilePath: morlett.exe",
                "  PortableCommandAlias: morlett",
                "ReleaseDate: " + release_date,
                "Installers:",
                "- Architecture: x64",
                "  InstallerUrl: " + yaml_text(url),
                "  InstallerSha256: " + digest.upper(),
            ],
        ),
    }


def scoop_manifest(version, url_pattern, digest):
    url = url_pattern.replace("$version", version)
    # The folder that lists the releases: checkver reads the versions from its links.
    index = url_pattern[: url_pattern.rindex("/", 0, url_pattern.index("$version")) + 1]
    # Settings are saved by writing a new file and renaming it over morlett.json, which
    # replaces the hard link Scoop's persist made with a file of the app's own folder: before
    # the folder goes (uninstall, update), its newer file is copied back to the persisted one.
    keep = (
        '$a = "$dir\\morlett.json"; $p = "$persist_dir\\morlett.json"; '
        "if ((Test-Path $a) -and (-not (Test-Path $p) -or "
        "(Get-FileHash $a).Hash -ne (Get-FileHash $p).Hash)) { Copy-Item $a $p -Force }"
    )
    manifest = {
        "version": version,
        "description": SHORT_DESCRIPTION,
        "homepage": index,
        "license": "MIT",
        "url": url,
        "hash": digest,
        "bin": "morlett.exe",
        "shortcuts": [["morlett.exe", "Morlett"]],
        # A file that does not exist yet would be persisted as a folder.
        "pre_install": 'if (-not (Test-Path "$persist_dir\\morlett.json")) '
        '{ New-Item "$dir\\morlett.json" -ItemType File | Out-Null }',
        "persist": ["morlett.json"],
        "pre_uninstall": keep,
        "checkver": {"url": index, "regex": r"morlett-([\d.]+)-win-x64\.zip"},
        "autoupdate": {"url": url_pattern, "hash": {"url": "$baseurl/SHA256SUMS"}},
    }
    return json.dumps(manifest, indent=4) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", required=True, type=pathlib.Path)
    parser.add_argument("--version", required=True)
    parser.add_argument("--url-pattern", required=True)
    parser.add_argument("--source-root", required=True, type=pathlib.Path)
    parser.add_argument("--out", required=True, type=pathlib.Path)
    args = parser.parse_args()
    if not re.fullmatch(r"\d+\.\d+\.\d+", args.version):
        sys.exit("release_files: version %r is not x.y.z" % args.version)
    if "$version" not in args.url_pattern:
        sys.exit("release_files: the URL pattern has no $version: %s" % args.url_pattern)
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "0"))
    root = args.source_root
    out = args.out
    out.mkdir(parents=True, exist_ok=True)

    zip_name = ZIP_NAME.format(version=args.version)
    members = {
        "morlett.exe": args.exe.read_bytes(),
        "README.txt": windows_text(readme_txt(root / "README.md", args.version)),
        "LICENSE": windows_text((root / "LICENSE").read_text(encoding="utf-8")),
        "THIRD-PARTY-NOTICES.txt": windows_text(
            (root / "THIRD-PARTY-NOTICES.txt").read_text(encoding="utf-8")
        ),
    }
    write_zip(out / zip_name, members, epoch)
    digest = sha256(out / zip_name)
    (out / "SHA256SUMS").write_text("%s  %s\n" % (digest, zip_name), encoding="utf-8")

    url = args.url_pattern.replace("$version", args.version)
    release_date = time.strftime("%Y-%m-%d", time.gmtime(epoch))
    winget = out / "winget" / "manifests" / "m" / "Morlett" / "Morlett" / args.version
    winget.mkdir(parents=True, exist_ok=True)
    for name, text in winget_files(args.version, url, digest, release_date).items():
        (winget / name).write_text(text, encoding="utf-8")
    (out / "scoop").mkdir(exist_ok=True)
    (out / "scoop" / "morlett.json").write_text(
        scoop_manifest(args.version, args.url_pattern, digest), encoding="utf-8"
    )
    print("release: %s  %s (%d bytes)" % (digest, out / zip_name, (out / zip_name).stat().st_size))


if __name__ == "__main__":
    main()
