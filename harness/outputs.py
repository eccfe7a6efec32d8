"""Two audio outputs that come and go: a pair of null sinks, each recorded, one of them the
default. The default can be switched to the other one, and the one in use removed as
Windows removes an unplugged output (its stream ends under the program, then the sink goes;
the other one becomes the default) and loaded again later. Every change is kept with its
time, and each sink's recordings with the span they cover, so that any moment can be heard
on whichever sink was the default then."""

import bisect
import time

from .process import check
from .sound import Recorder


class Outputs:
    def __init__(self, env, names):
        check(len(names) == 2, "two outputs, not %d" % len(names))
        self.env, self.names = env, tuple(names)
        self.recordings = {n: [] for n in names}  # name: [(from, until or None, Recorder)]
        self.present = set()
        self.changes = []  # (time, default sink from then on, what happened)
        for n in names:
            self.load(n)
        self.default = None
        self.switch_to(names[0], "start")

    def load(self, name):
        """Loads name (again) and records it from when its monitor streams."""
        self.env.add_sink(name)
        recorder = Recorder(name)
        check(recorder.wait_ready(), "the recording of %s did not start" % name)
        self.recordings[name].append((time.time(), None, recorder))
        self.present.add(name)

    def other(self):
        return self.names[1] if self.default == self.names[0] else self.names[0]

    def switch_to(self, name, why="switched"):
        at = time.time()
        self.env.default_sink(name)
        self.default = name
        self.changes.append((at, name, why))
        return at

    def switch(self):
        """The default moved to the other sink: (when, the new default)."""
        check(self.other() in self.present, "the other output is gone")
        name = self.other()
        return self.switch_to(name), name

    def remove(self):
        """The default sink taken away: (when its streams were ended, the new default), or
        None while the other sink is gone itself."""
        gone, name = self.default, self.other()
        if name not in self.present:
            return None
        at = time.time()
        for index in self.env.streams_on(gone):
            self.env.end_stream(index)
        self.switch_to(name, "removed " + gone)
        self.changes[-1] = (at,) + self.changes[-1][1:]
        # Unloaded, the sink's monitor would move its recorder to another sink's sound.
        first, _, recorder = self.recordings[gone][-1]
        recorder.stop()
        self.recordings[gone][-1] = (first, time.time(), recorder)
        self.env.remove_sink(gone)
        self.present.discard(gone)
        return at, name

    def restore(self):
        """Loads the sink that remove() took away, when one is away; it is not the default."""
        for name in self.names:
            if name not in self.present:
                self.load(name)
                return name
        return None

    def default_at(self, wall):
        """(the default sink at wall, when it became it)."""
        i = bisect.bisect_right([c[0] for c in self.changes], wall) - 1
        at, name, _ = self.changes[max(i, 0)]
        return name, at

    def recorder_at(self, name, wall, until):
        """The recording of name that holds [wall, until], or None."""
        for first, last, recorder in self.recordings[name]:
            if first <= wall and (last is None or until <= last):
                return recorder
        return None

    def close(self):
        """Stops the recordings (what they hold stays) and makes the environment's own sink
        the default again."""
        for name, spans in self.recordings.items():
            for i, (first, last, recorder) in enumerate(spans):
                if last is None:
                    recorder.stop()
                    spans[i] = (first, time.time(), recorder)
        self.env.default_sink(self.env.sink)
