"""The release zip as a Windows user meets it: unpacked into a new folder whose path has
spaces and letters outside ASCII, morlett.exe /silent started from there, the tray icon
and its menu used, force-off switched, "e&xit". The program may write only beside itself;
the rest of the Wine prefix's drive, outside the user folders, is compared before and after.

The zip is MORLETT_RELEASE_ZIP when set, otherwise one made by scripts/release.sh for this
run (into BUILD/release-dist).
"""

import glob
import json
import os
import subprocess
import zipfile

import pytest

from harness import morlett, tray
from harness.morlett import EXIT, FORCE, GOODBYE_CHIME, RELEASE, SWITCHED_ON
from harness.process import wait_until
from harness.session import labels

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ZIP_FILES = ["LICENSE", "README.txt", "THIRD-PARTY-NOTICES.txt", morlett.EXE]
# A folder a user might choose: spaces, accents, a letter outside Latin-1.
FOLDER = os.path.join("release", "Tools and Things", "Mörlett Ünzipped ω 1.0")


@pytest.fixture(scope="module")
def release_zip(env):
    given = os.environ.get("MORLETT_RELEASE_ZIP")
    if given:
        return given
    dist = os.path.join(env.build, "release-dist")
    done = subprocess.run(["bash", os.path.join(ROOT, "scripts", "release.sh")],
                          env=dict(os.environ, MORLETT_DIST=dist), capture_output=True,
                          text=True, timeout=1800)
    assert done.returncode == 0, "release.sh failed:\n" + done.stdout + done.stderr
    (found,) = glob.glob(os.path.join(dist, "morlett-*-win-x64.zip"))
    return found


def drive_files(prefix, skip):
    """{path: (size, mtime)} of every file of the prefix's drive C: outside the user folders
    and outside skip."""
    drive = os.path.join(prefix, "drive_c")
    users = os.path.join(drive, "users")
    seen = {}
    for top, folders, files in os.walk(drive):
        folders[:] = [f for f in folders
                      if os.path.join(top, f) not in (users, skip)]
        for name in files:
            path = os.path.join(top, name)
            try:
                st = os.lstat(path)
            except FileNotFoundError:
                continue
            seen[path] = (st.st_size, st.st_mtime_ns)
    return seen


def tree(folder):
    return sorted(os.path.relpath(os.path.join(top, name), folder)
                  for top, _, files in os.walk(folder) for name in files)


def test_unzipped_into_an_unusual_folder_it_runs_saves_beside_itself_and_exits(
        env, session, release_zip):
    folder = env.folder(FOLDER)
    with zipfile.ZipFile(release_zip) as archive:
        assert sorted(archive.namelist()) == ZIP_FILES
        archive.extractall(folder)
    # The folder that holds the unpacked one stands in for the rest of the user's disk.
    outside = os.path.dirname(folder)
    drive_before = drive_files(env.prefix, folder)
    beside_before = sorted(os.listdir(outside))

    s = session("release", [morlett.SILENT], folder=folder)
    s.started()
    assert tray.tray_window(10), "no tray icon"
    tray.choose(FORCE, switched={"forceOff": False, "runAsAdmin": False})
    assert wait_until(s.settings, 5), "no %s beside the exe" % morlett.SETTINGS_FILE
    saved = json.loads(s.settings().decode())
    assert (saved["forceOff"], saved["runAsAdmin"], saved["beeptime"]) == (1, 0, 3000)
    assert s.settings() == morlett.settings_file(force_off=1)
    tray.choose(EXIT, switched={"forceOff": True, "runAsAdmin": False})
    assert s.program.wait(10) == morlett.EXIT_CODE
    assert labels(s.finish(0.5)) == [RELEASE, SWITCHED_ON, GOODBYE_CHIME]

    assert tree(folder) == sorted(ZIP_FILES + [morlett.SETTINGS_FILE])
    assert sorted(os.listdir(outside)) == beside_before
    drive_after = drive_files(env.prefix, folder)
    changed = sorted(p for p in set(drive_before) | set(drive_after)
                     if drive_before.get(p) != drive_after.get(p))
    assert changed == [], "written outside its folder: %s" % changed
