"""One run of the program with a recording of what it plays: the unit of an end-to-end
test. end() always ends the program (and its copies) and the recorder, by PID."""

import time

from .process import check, wait_until
from .sound import Recorder
from .wine import Program

# Under load a start can take a few seconds before its first sound.
START_S = 12


class Session:
    def __init__(self, env, probe, name, args=(), sink=None, **options):
        probe.wait_instance_free()
        self.env, self.probe = env, probe
        self.recorder = Recorder(sink or env.sink)
        try:
            check(self.recorder.wait_ready(), "the recording did not start")
            self.program = Program(env, name, args, sink=sink, **options)
        except BaseException:
            self.recorder.stop()
            raise
        self.folder = self.program.folder
        self.sounds = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.end()
        return False

    def heard(self):
        """The labels of the sounds recorded so far (the recording goes on)."""
        return [s.label() for s in self.recorder.sounds()]

    def wait_for_sounds(self, count, timeout=START_S):
        return wait_until(lambda: len(self.recorder.sounds()) >= count, timeout, 0.3)

    def started(self, count=1):
        """Waits for the start-up sounds (the release chime alone after /silent)."""
        check(self.wait_for_sounds(count), "no start-up sound within %d s" % START_S)

    def settings(self):
        return self.program.settings()

    def finish(self, settle=0.8):
        """Stops the recording settle seconds from now: [Sound] of the whole run."""
        time.sleep(settle)
        self.recorder.stop()
        self.sounds = self.recorder.sounds()
        print("  heard (s from the start): " + ", ".join(
            "%.2f %s %.0f ms" % (s.at - self.program.launched, s.label(), s.duration)
            for s in self.sounds), flush=True)
        return self.sounds

    def end(self):
        self.program.end()
        if self.sounds is None:
            self.recorder.stop()


def labels(sounds):
    return [s.label() for s in sounds]
