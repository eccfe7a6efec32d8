"""The tray icon and the program's popup menu, through xdotool on the test display.

Wine shows tray icons in its own small window titled "Wine System Tray" near the top-left
corner; the popup menu is the program's one visible window without a title."""

import re
import subprocess
import time

from . import morlett
from .process import check, wait_until

TRAY_TITLE = "^Wine System Tray$"
# Wine's tray: a caption, then the icons in a row from the left, 24 pixels each; the icons'
# centres stand this far above the window's bottom edge.
ICON_SIZE = 24
ICON_ABOVE_BOTTOM = 14
# The tray's background in the test prefix (scripts/winenv.sh paints it mid grey, so that a
# black and a white icon both show).
BACKGROUND = (128, 128, 128)
# Wine draws an icon 16 pixels square in its 24-pixel cell, centred on icon_centre(): pixels up
# to ICON_INSIDE from the centre are the icon's own, those ICON_AROUND away (on each side) the
# tray's background between the icon and the tray's frame.
ICON_INSIDE = 5
ICON_AROUND = 9
# The menu: its rows, all of one height, between a thin frame at the top and bottom.
MENU_FRAME = 3
# A check mark: at least MARK_PIXELS pixels in the columns MARK_COLUMNS of its row that differ
# by more than MARK_CONTRAST (of 255) in a colour from the row's background, which is read
# BACKGROUND_INSET pixels from the row's right end.
MARK_COLUMNS = range(3, 17)
MARK_CONTRAST = 80
MARK_PIXELS = 6
BACKGROUND_INSET = 6


def xdotool(*args, timeout=10):
    result = subprocess.run(["xdotool"] + [str(a) for a in args], capture_output=True,
                            text=True, timeout=timeout)
    return result.stdout.strip()


def focus(window, timeout=5.0):
    """Gives the X window the X focus, as a window manager would, and waits until the X server
    says it has it. Wine may make a dialog the foreground window while the X focus stays on
    the root (its request comes too late for the server), and real keys then go nowhere."""
    def focused():
        if xdotool("getwindowfocus") == str(window):
            return True
        xdotool("windowfocus", window)
        return False
    check(wait_until(focused, timeout, 0.1), "the X focus never came to window %s" % window)


def keys_to(probe, title, *commands):
    """Real keys for the window titled title: each command is one xdotool call ("key",
    "Return"), sent once that window has the X focus."""
    focus(probe.x_window(title))
    for command in commands:
        xdotool(*command)


def geometry(window):
    """(x, y, width, height) of an X window, or None."""
    text = xdotool("getwindowgeometry", window)
    pos = re.search(r"Position: (-?\d+),(-?\d+)", text)
    size = re.search(r"Geometry: (\d+)x(\d+)", text)
    if not pos or not size:
        return None
    return int(pos.group(1)), int(pos.group(2)), int(size.group(1)), int(size.group(2))


def tray_window(timeout=10):
    """The tray's window while it shows an icon, or None after timeout seconds."""
    def find():
        ids = xdotool("search", "--onlyvisible", "--name", TRAY_TITLE).split()
        return ids[0] if ids else None
    return wait_until(find, timeout, 0.2) if timeout else find()


def icon_centre(window=None):
    window = window or tray_window()
    check(window, "no tray window is shown")
    g = geometry(window)
    check(g, "the tray window has no geometry")
    x, y, _, h = g
    return x + ICON_SIZE // 2, y + h - ICON_ABOVE_BOTTOM


def point_at_icon(timeout=10):
    """Rests the pointer on the icon: the shell then shows its tooltip, and drops the icon
    of a program that was killed. False when no icon is shown within timeout seconds."""
    window = tray_window(timeout)
    if not window:
        return False
    x, y = icon_centre(window)
    xdotool("mousemove", x, y)
    time.sleep(0.2)
    xdotool("mousemove", x + 1, y)
    return True


def move_away():
    xdotool("mousemove", 600, 600)


def click_icon(button):
    x, y = icon_centre()
    xdotool("mousemove", x, y)
    time.sleep(0.1)
    xdotool("click", button)


def icon_look(window=None):
    """(the colours of the icon's own pixels, the colours around it) in a screenshot of the
    tray showing one icon: each a set of (r, g, b)."""
    window = window or tray_window()
    check(window, "no tray window is shown")
    g = geometry(window)
    check(g, "the tray window has no geometry")
    cx, cy = (c - o for c, o in zip(icon_centre(window), g[:2]))
    pixels = window_pixels(window)
    inside = {pixels.get((x, y)) for x in range(cx - ICON_INSIDE, cx + ICON_INSIDE + 1)
              for y in range(cy - ICON_INSIDE, cy + ICON_INSIDE + 1)}
    around = {pixels.get((cx + dx, cy + dy)) for dx, dy in
              ((-ICON_AROUND, 0), (ICON_AROUND, 0), (0, -ICON_AROUND), (0, ICON_AROUND))}
    return inside, around


def wait_icon_colour(colour, timeout=5):
    """icon_look() once the icon is all of colour with the tray's background around it, or
    as it last was after timeout seconds."""
    seen = []

    def look():
        seen.append(icon_look())
        return seen[-1] == ({colour}, {BACKGROUND})
    wait_until(look, timeout, 0.3)
    return seen[-1]


def drop_stale_icons(timeout=5):
    """Rests the pointer on the tray until it shows no icon: Wine drops the icon of a program
    that ended without removing it only then. False when an icon stays (a program runs)."""
    def gone():
        if not tray_window(0):
            return True
        point_at_icon(0)
        move_away()
        return False
    return wait_until(gone, timeout, 0.3)


def _menus():
    # The program's windows carry its exe name as their class; only the menu has no title.
    ids = xdotool("search", "--onlyvisible", "--classname", morlett.EXE).split()
    return [w for w in ids if xdotool("getwindowname", w) == ""]


def visible_menu(timeout=5):
    def find():
        menus = _menus()
        return menus[-1] if menus else None
    return wait_until(find, timeout, 0.05)


def menu_gone(timeout=5):
    return wait_until(lambda: not _menus(), timeout, 0.05)


def _rows(menu):
    """(x, y, width, height, row height) of the menu."""
    g = geometry(menu)
    check(g, "the menu has no geometry")
    x, y, w, h = g
    return x, y, w, h, (h - 2 * MENU_FRAME) / len(morlett.MENU)


def click_row(menu, row):
    x, y, w, _, height = _rows(menu)
    xdotool("mousemove", x + w // 2, int(y + MENU_FRAME + height * (row.index + 0.5)))
    time.sleep(0.15)
    xdotool("click", 1)


def window_pixels(window):
    """{(x, y): (r, g, b)} of a window's screenshot."""
    result = subprocess.run(["import", "-window", window, "-depth", "8", "txt:-"],
                            capture_output=True, text=True, timeout=30)
    pixels = {}
    pattern = re.compile(r"^(\d+),(\d+):\s*\((\d+),(\d+),(\d+)")
    for line in result.stdout.splitlines():
        m = pattern.match(line)
        if m:
            x, y, r, g, b = (int(v) for v in m.groups())
            pixels[(x, y)] = (r, g, b)
    check(pixels, "no screenshot of window %s: %s" % (window, result.stderr.strip()))
    return pixels


def check_marks(menu):
    """{row: bool} for every row: whether a check mark is drawn left of its text. A row under
    the pointer is highlighted, so a mark is what differs from the row's own background."""
    _, _, w, _, height = _rows(menu)
    pixels = window_pixels(menu)
    marks = {}
    for row in morlett.MENU:
        top = int(MENU_FRAME + height * row.index) + 2
        bottom = int(MENU_FRAME + height * (row.index + 1)) - 2
        background = pixels.get((w - BACKGROUND_INSET, (top + bottom) // 2))
        check(background, "the menu's screenshot is too small")
        differing = 0
        for px in MARK_COLUMNS:
            for py in range(top, bottom):
                colour = pixels.get((px, py), background)
                if max(abs(a - b) for a, b in zip(colour, background)) > MARK_CONTRAST:
                    differing += 1
        marks[row] = differing >= MARK_PIXELS
    return marks


def open_menu(button=3, timeout=5):
    click_icon(button)
    menu = visible_menu(timeout)
    check(menu, "the menu did not open within %g s" % timeout)
    time.sleep(0.2)
    return menu


def choose(row, button=3, switched=None, timeout=5):
    """Opens the menu, checks its marks when switched ({setting: bool} for every switch)
    is given, and picks row."""
    menu = open_menu(button, timeout)
    if switched is not None:
        want = {r: bool(switched.get(r.setting)) for r in morlett.MENU}
        got = check_marks(menu)
        check(got == want, "check marks %s, want %s" % (
            {r.setting: v for r, v in got.items() if r.setting},
            {r.setting: v for r, v in want.items() if r.setting}))
    click_row(menu, row)
    check(menu_gone(timeout), "the menu stayed open")


def dismiss_menu():
    xdotool("key", "Escape")
    check(menu_gone(5), "the menu stayed open")


def screenshot(path, around, margin=20, least=(320, 140)):
    """The screen's top-left corner as far as window around (and margin) reaches, to path."""
    g = geometry(around)
    check(g, "no geometry of window %s" % around)
    width = max(least[0], g[0] + g[2] + margin)
    height = max(least[1], g[1] + g[3] + margin)
    subprocess.run(["import", "-window", "root", "-crop", "%dx%d+0+0" % (width, height),
                    "+repage", path], check=True, timeout=30)
