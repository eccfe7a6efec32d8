"""The set-up as a new machine meets it: miniaudio goes into an install root that does not
exist yet, and a header the user brings is taken as it is."""

import os
import re

import pytest

UNREACHABLE = 3  # setup.sh's exit status when the Debian archive cannot be reached


def test_miniaudio_into_an_empty_install_root(run_script, tmp_path):
    # An install root whose parent folders do not exist either.
    root = tmp_path / "fresh" / "opt" / "morlett"
    result = run_script("scripts/setup.sh", MORLETT_PREFIX=str(root))
    if result.returncode == UNREACHABLE:
        pytest.skip("the Debian archive could not be reached")
    assert result.returncode == 0, result.stdout
    assert (root / "miniaudio/usr/include/miniaudio.h").stat().st_size > 0
    assert re.match(r"0\.11\.", (root / "miniaudio/VERSION").read_text())
    assert not (root / "miniaudio.new").exists(), "the unpacking folder was left behind"


def test_miniaudio_include_dir_replaces_the_download(run_script, tmp_path):
    # A header of the user's own: used where it is, nothing downloaded, no install root made.
    own = tmp_path / "own"
    own.mkdir()
    (own / "miniaudio.h").write_text("")
    result = run_script("scripts/setup.sh", MINIAUDIO_INCLUDE_DIR=str(own),
                        MORLETT_PREFIX=str(tmp_path / "unused"))
    assert result.returncode == 0, result.stdout
    assert not (tmp_path / "unused").exists(), "an install root was made"


def test_a_miniaudio_include_dir_without_the_header_is_refused_with_advice(run_script, tmp_path):
    result = run_script("scripts/setup.sh", MINIAUDIO_INCLUDE_DIR=str(tmp_path / "nothing-here"),
                        MORLETT_PREFIX=str(tmp_path / "unused"))
    assert result.returncode == 1, result.stdout
    assert "holds no miniaudio.h" in result.stdout and "point it at" in result.stdout
    assert not os.path.exists(tmp_path / "unused")
