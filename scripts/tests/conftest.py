"""The scripts' own checks run the scripts as a user would, from the repository's root."""

import os
import subprocess

import pytest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


@pytest.fixture
def run_script():
    """run_script("scripts/setup.sh", VAR=value, ...) -> CompletedProcess (output in .stdout)."""
    def run(*command, timeout=900, **variables):
        return subprocess.run(["bash"] + list(command), cwd=ROOT, env=dict(os.environ, **variables),
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                              timeout=timeout)
    return run
