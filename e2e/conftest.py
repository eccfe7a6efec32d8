"""Fixtures of the tests under Wine: the environment that scripts/winenv.sh runs, the probe
inside it, and `session`, which starts morlett.exe with a recording and always ends both."""

import time

import pytest

from harness import morlett
from harness.session import Session
from harness.wine import Environment, Probe


def pytest_addoption(parser):
    group = parser.getgroup("morlett soak")
    group.addoption("--minutes", type=float, default=30, help="length of the soak")
    group.addoption("--seed", type=int, default=None, help="the soak's random seed")
    group.addoption("--out", default=None, help="folder for the soak's samples (soak.csv)")


@pytest.fixture(scope="session")
def env():
    environment = Environment()
    yield environment
    environment.close()


@pytest.fixture(scope="session")
def probe(env):
    p = Probe(env.probe_exe)
    yield p
    try:
        p.caps("off")
    finally:
        p.close()


@pytest.fixture
def session(env, probe):
    """session(name, args=(), settings=..., prepare=..., cwd=..., sink=...,
    environment=...) starts the program in a fresh folder with a recording of its sink."""
    started = []

    def start(name, *args, **options):
        s = Session(env, probe, name, *args, **options)
        started.append(s)
        return s
    yield start
    for s in started:
        s.end()


@pytest.fixture
def running(session):
    """running(name, settings=..., ...): session() with /silent, once its release chime was
    heard and half a second more has passed."""
    def start(name, **options):
        s = session(name, [morlett.SILENT], **options)
        s.started()
        time.sleep(0.5)
        return s
    return start


@pytest.fixture
def caps_off(probe):
    probe.caps("off")
    yield
    probe.caps("off")


@pytest.fixture(scope="session")
def soak_options(request):
    seed = request.config.getoption("--seed")
    return {"minutes": request.config.getoption("--minutes"),
            "seed": int(time.time()) if seed is None else seed,
            "out": request.config.getoption("--out")}
