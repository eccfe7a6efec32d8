"""Everyday desktop events met by the running program under Wine: a light or dark taskbar
(the icon's colour, also when the shell switches it), the machine waking from sleep, and
audio outputs that come and go while it warns.

What Wine shows and what it cannot:
- Theme: Wine has no theme value of its own; the tests write it with the registry API and
  broadcast the shell's WM_SETTINGCHANGE "ImmersiveColorSet", which reaches the program's
  hidden window as it does on Windows. The colour is read from Wine's tray, painted grey in
  the test prefix. Windows' own taskbar drawing is not shown.
- Resume: Wine does not sleep. The system's WM_POWERBROADCAST resume notifications are
  broadcast to every top-level window instead; the program's sound trace shows the device
  renewed and opened afresh at the next play, and the recording hears that play. A device
  that really died in sleep is not shown.
- Outputs: PulseAudio moves a stream to the new default sink by itself, and Wine never tells
  the program the default changed, so a switch of the default shows PulseAudio's handling
  more than the program's; the program's own part there is that a device opened after the
  idle period opens on the new default. An output taken away is shown as Windows takes it:
  the stream ended under the program, then its sink unloaded; the program must notice and
  open the default afresh. No output at all is every sink unloaded.
"""

import time

import pytest

from harness import morlett, tray
from harness.morlett import DARK, ICON_ON_DARK, ICON_ON_LIGHT, LIGHT, NO_THEME, WARNING
from harness.process import check, wait_until
from harness.session import START_S
from harness.sound import Recorder

SECOND_SINK = "morlett_second"
BEEPTIME = '{"beeptime": 500}'
# A warning every 500 ms: one is due on the new output well within this.
HEARD_WITHIN_S = 1.5
# The device is closed and opened afresh after 10 s without a sound, seen every 2 s.
IDLE_REOPEN_S = 25
# With no output at all a real one is looked for about once a second; a new sink is heard
# within about a second, which a busy machine may stretch.
BACK_WITHIN_S = 5
# How long the program is left without any output.
NO_OUTPUT_S = 3
TRACE = {"WINEDEBUG": morlett.TRACE_WINEDEBUG}


@pytest.fixture
def theme(probe):
    """The taskbar's theme value, put back as it was after the test."""
    before = probe.theme()
    check(before in (DARK, LIGHT, NO_THEME), "the theme value is %s" % before)
    yield probe.theme
    probe.theme(before)


def exit_through_menu(s):
    tray.choose(morlett.EXIT, 1)
    assert s.program.wait(15) == morlett.EXIT_CODE, "no clean exit through the menu"


def icon_colour(expected):
    inside, around = tray.wait_icon_colour(expected)
    assert around == {tray.BACKGROUND}, "around the icon: %s" % around
    assert len(inside) == 1, "the icon is not of one colour: %s" % inside
    return next(iter(inside))


# (case, value at start, colour then, [(value switched to and broadcast, colour then)]).
THEMES = [
    ("dark then light", DARK, ICON_ON_DARK, [(LIGHT, ICON_ON_LIGHT)]),
    ("none then dark then none", NO_THEME, ICON_ON_LIGHT,
     [(DARK, ICON_ON_DARK), (NO_THEME, ICON_ON_LIGHT)]),
    ("light then dark", LIGHT, ICON_ON_LIGHT, [(DARK, ICON_ON_DARK)]),
]


@pytest.mark.parametrize("start, colour, switches", [c[1:] for c in THEMES],
                         ids=[c[0] for c in THEMES])
def test_icon_colour_follows_the_taskbar(probe, running, theme, start, colour, switches):
    assert tray.drop_stale_icons(), "an icon of another program is in the tray"
    theme(start)
    s = running("theme")
    assert icon_colour(colour) == colour
    for value, colour in switches:
        theme(value)
        probe.broadcast_theme()
        assert icon_colour(colour) == colour, "after the switch to %s" % value
    exit_through_menu(s)


def plays_after(program, last_renew):
    """The sound trace's play lines after the renew numbered last_renew (from 1)."""
    lines = program.log_lines(morlett.TRACE_PREFIX)
    renews = [i for i, line in enumerate(lines) if morlett.TRACE_RENEW in line]
    check(len(renews) >= last_renew, "only %d renews in the trace" % len(renews))
    return [line for line in lines[renews[last_renew - 1] + 1:] if morlett.TRACE_PLAY in line]


def test_resume_reopens_the_device_for_the_next_warning(probe, running, caps_off, env):
    """Each resume notification alone renews the device: the next warning opens it afresh
    and is heard at once."""
    s = running("resume", log=env.work + "/resume.log", environment=TRACE)
    renews = 0
    for which in ("automatic", "suspend"):
        probe.resume(which)
        renews += 1
        check(wait_until(lambda: len(s.program.log_lines(morlett.TRACE_RENEW)) >= renews, 5),
              "no renew in the trace after the %s resume" % which)
        on_at = time.time()
        probe.caps("on")
        heard = s.recorder.first_after(on_at, HEARD_WITHIN_S, WARNING)
        probe.caps("off")
        assert heard, "no warning within %.1f s of the %s resume" % (HEARD_WITHIN_S, which)
        plays = plays_after(s.program, renews)
        assert plays and morlett.TRACE_REOPENED in plays[0], plays[:1]
        time.sleep(0.5)
    exit_through_menu(s)


@pytest.fixture
def two_sinks(env, session):
    """The environment's own sink (the default) and a second one, each recorded, and a start
    of the program with a warning every 500 ms; afterwards the environment's sink is there
    and the default again, the second one gone."""
    env.add_sink(SECOND_SINK)
    recorders = {}
    try:
        recorders[SECOND_SINK] = Recorder(SECOND_SINK)
        check(recorders[SECOND_SINK].wait_ready(), "the second sink's recording did not start")

        def start(name, **options):
            default = env.default_sink()
            s = session(name, [morlett.SILENT], settings=BEEPTIME, **options)
            recorders[env.sink] = s.recorder
            # The start-up sound is heard on the default output.
            check(recorders[default].wait_ready() and wait_until(
                lambda: recorders[default].sounds(), START_S, 0.3), "no start-up sound")
            time.sleep(0.5)
            return s, recorders
        yield start
    finally:
        for r in recorders.values():
            r.stop()
        if SECOND_SINK in env.sinks():
            env.remove_sink(SECOND_SINK)
        env.restore_own_sink()


def heard_only_on(recorders, sink, since, caps_on_at=None):
    """The first warning on sink within HEARD_WITHIN_S of since (or of Caps Lock going on),
    and that none started on the other sinks from half a second after since."""
    first = recorders[sink].first_after(caps_on_at or since, HEARD_WITHIN_S, WARNING)
    assert first, "no warning on %s within %.1f s" % (sink, HEARD_WITHIN_S)
    print("  first warning on %s %.2f s after the change" % (sink, first.at - since))
    for other, r in recorders.items():
        if other != sink:
            stray = [x for x in r.sounds() if x.at > since + 0.5]
            assert not stray, "still heard on %s: %s" % (other, stray)
    return first


def test_default_switched_while_idle(env, probe, two_sinks, caps_off):
    """(a) The default output changes while nothing plays. PulseAudio moves the program's
    stopped stream at once; the program is told nothing. Once the idle period has passed the
    device is opened afresh, on the new default, where the next warnings are heard."""
    s, recorders = two_sinks("idle", log=env.work + "/idle.log", environment=TRACE)
    opens = len(s.program.log_lines(morlett.TRACE_OPEN))
    switched = time.time()
    env.default_sink(SECOND_SINK)
    assert wait_until(lambda: len(s.program.log_lines(morlett.TRACE_OPEN)) > opens,
                      IDLE_REOPEN_S, 0.5), "the idle device was not opened afresh"
    on_at = time.time()
    probe.caps("on")
    heard_only_on(recorders, SECOND_SINK, switched, on_at)
    probe.caps("off")


def test_default_switched_while_warning(env, probe, two_sinks, caps_off):
    """(b) The default output changes while a warning plays every 500 ms. PulseAudio moves
    the playing stream by itself and Wine reports nothing: the warnings go on there."""
    s, recorders = two_sinks("switch")
    probe.caps("on")
    time.sleep(1.2)
    switched = time.time()
    env.default_sink(SECOND_SINK)
    heard_only_on(recorders, SECOND_SINK, switched)
    probe.caps("off")


def test_output_in_use_removed_while_warning(env, probe, two_sinks, caps_off):
    """(c) The output in use goes away while warnings repeat, as an unplugged one does on
    Windows: its stream ends under the program, then the sink goes. The program finds its
    device stopped at the next play and opens the remaining output; it still exits cleanly."""
    env.default_sink(SECOND_SINK)
    s, recorders = two_sinks("removed")
    probe.caps("on")
    assert recorders[SECOND_SINK].first_after(time.time(), HEARD_WITHIN_S, WARNING), \
        "no warning on the output in use"
    streams = env.streams()
    check(streams, "the program has no stream")
    ended = time.time()
    for index in streams:
        env.end_stream(index)
    recorders.pop(SECOND_SINK).stop()
    env.remove_sink(SECOND_SINK)
    removed = time.time()
    first = recorders[env.sink].first_after(ended, removed - ended + HEARD_WITHIN_S, WARNING)
    assert first, "no warning on %s within %.1f s of the removal" % (env.sink, HEARD_WITHIN_S)
    print("  first warning %.2f s after the stream ended" % (first.at - ended))
    probe.caps("off")
    exit_through_menu(s)


def trace_counts(program):
    """(plays, device opens) in the program's sound trace so far."""
    return (len(program.log_lines(morlett.TRACE_PLAY)),
            len(program.log_lines(morlett.TRACE_OPEN)))


def test_no_output_at_all_then_one(env, probe, two_sinks, caps_off):
    """(d) Every sink goes while warnings repeat, then one comes back. The program goes on
    without a sound: its trace shows every warning's play and at most about one look for an
    output a second, never a busy loop; the warnings are heard again soon after the sink
    returns, and it exits cleanly. PulseAudio ends the stream when no sink is left; what
    Windows does with no output at all (the audio library's silent fallback) is the same path
    in the program."""
    s, recorders = two_sinks("nooutput", log=env.work + "/nooutput.log", environment=TRACE)
    probe.caps("on")
    time.sleep(1.0)
    for sink, r in list(recorders.items()):
        r.stop()
        env.remove_sink(sink)
        del recorders[sink]
    check(not env.sinks(), "sinks left: %s" % env.sinks())
    time.sleep(1)
    # Not the menu: its Escape key, through X, would switch off the Caps Lock that the probe
    # switched on inside Wine.
    plays, opens = trace_counts(s.program)
    time.sleep(NO_OUTPUT_S)
    plays, opens = (b - a for a, b in zip((plays, opens), trace_counts(s.program)))
    print("  without an output for %d s: %d plays, %d opens" % (NO_OUTPUT_S, plays, opens))
    assert s.program.running(), "the program ended without an output"
    assert plays >= NO_OUTPUT_S, "the warnings stopped without an output: %d plays" % plays
    assert opens <= NO_OUTPUT_S + 2, "%d opens in %d s without an output" % (opens, NO_OUTPUT_S)
    back = time.time()
    env.restore_own_sink()
    recorders[env.sink] = Recorder(env.sink)
    check(recorders[env.sink].wait_ready(), "the restored sink's recording did not start")
    first = recorders[env.sink].first_after(back, BACK_WITHIN_S, WARNING)
    if not first:
        print("  heard since: %s" % recorders[env.sink].sounds())
        print("\n".join(s.program.log_lines(morlett.TRACE_PREFIX)[-12:]))
    assert first, "no warning within %d s of the sink's return" % BACK_WITHIN_S
    print("  first warning %.2f s after the sink came back" % (first.at - back))
    probe.caps("off")
    exit_through_menu(s)
