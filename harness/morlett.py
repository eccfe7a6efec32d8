"""What the harness knows about morlett.exe: its names, texts, menu rows, clips and the
bytes of its settings file. A new menu row is one more line in MENU."""

from collections import namedtuple

EXE = "morlett.exe"
SETTINGS_FILE = "morlett.json"
TOOLTIP = "morlett"
EXIT_CODE = 0
SILENT = "/silent"
MUTEX = "Quenlor_morlett"

# Dialogs: (title, text).
TITLE = "Morlett"
ALREADY_RUNNING = "Already running."
RESTART_TITLE = "Restart required."
RESTART_QUESTION = "Should Morlett restart right now?"
SPEED_PROMPT = "Enter the caps lock on warning speed in milliseconds"

# The popup menu, top to bottom: (text, the setting a switch row flips and marks, or None).
# A new row is one more line here, and its name in the line below the table.
Row = namedtuple("Row", "index text setting")
MENU = tuple(Row(index, text, setting) for index, (text, setting) in enumerate((
    ("&force capslock off", "forceOff"),
    ("Caps lock warning &speed...", None),
    ("Run &as admin", "runAsAdmin"),
    ("e&xit", None),
)))
FORCE, SPEED, ADMIN, EXIT = MENU
SWITCHES = tuple(row for row in MENU if row.setting)

# The built-in clips and the frequency factors the program plays them at.
WARNING, RELEASE, ON, OFF = "WarningBeep", "ReleaseChime", "OnChime", "OffChime"
CLIPS = (WARNING, RELEASE, ON, OFF)
USES = ((WARNING, 1.0), (RELEASE, 1.0), (ON, 1.0), (ON, 1.5), (ON, 2.0), (OFF, 1.0),
        (OFF, 1.5), (OFF, 2.0))


def label(clip, factor=1.0):
    """How the analysis names a clip played at factor: "OnChime x2"."""
    return clip if factor == 1.0 else "%s x%g" % (clip, factor)


START_CHIME = label(ON)
GOODBYE_CHIME = label(OFF)
SWITCHED_ON = label(ON, 2.0)     # force-off switched on
SWITCHED_OFF = label(OFF, 2.0)
ADMIN_ON = label(ON, 1.5)        # run-as-admin switched on
ADMIN_OFF = label(OFF, 1.5)

DEFAULT_BEEPTIME = 3000
BEEPTIME_FLOOR = 50


def settings_file(force_off=0, run_as_admin=0, beeptime=DEFAULT_BEEPTIME):
    """The bytes the program writes for these values."""
    return (b'{\r\n  "forceOff"  : %d,\r\n  "runAsAdmin": %d,\r\n  "beeptime"  : %d\r\n}'
            % (force_off, run_as_admin, beeptime))


DEFAULT_FILE = settings_file()
FORCE_ON_FILE = settings_file(force_off=1)
FLOOR_FILE = settings_file(beeptime=BEEPTIME_FLOOR)

# The icon: a plain square, black on a light taskbar (and wherever the theme cannot be read),
# white on a dark one, which the shell marks with THEME_VALUE 0 under THEME_KEY (HKCU). The
# shell announces a switch with WM_SETTINGCHANGE naming THEME_CHANGE.
ICON_ON_LIGHT = (0, 0, 0)
ICON_ON_DARK = (255, 255, 255)
THEME_KEY = r"Software\Microsoft\Windows\CurrentVersion\Themes\Personalize"
THEME_VALUE = "SystemUsesLightTheme"
THEME_CHANGE = "ImmersiveColorSet"
DARK, LIGHT, NO_THEME = "0", "1", "absent"  # the probe's words for the value

# The sound library's debug trace (OutputDebugStringA, one line each; under Wine seen with
# TRACE_WINEDEBUG on standard error). After a resume the device is renewed, and the next play
# opens it afresh.
TRACE_WINEDEBUG = "+timestamp,+debugstr"
TRACE_PREFIX = "morlett sound: "
TRACE_RENEW = TRACE_PREFIX + "renew"
TRACE_PLAY = TRACE_PREFIX + "play"
TRACE_OPEN = TRACE_PREFIX + "open"
TRACE_REOPENED = "device=lost-reopened"
