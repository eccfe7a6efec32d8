"""Tests of the benchmark tools that need no Wine: the size map's reading of a linker map and
the quantiles of the table. (The recorder's own tests are the harness's: harness/tests.)
    pytest-3 bench/test_tools.py"""

import pytest

import sizemap  # pytest puts this folder on the path
from bench import quantile

MAP = """Archive member included to satisfy reference by file (symbol)

Linker script and memory map

.text           0x0000000140001000    0x5000
 *(.text)
 .text          0x0000000140001000       0x40 app/CMakeFiles/morlett.dir/main_win.cpp.obj
 .text$_ZN5Json5ParseEv
                0x0000000140001040      0x200 json/libmorlett_json.a(parser.cpp.obj)
 .text$ma_engine_init
                0x0000000140001240      0x300 sound/libmorlett_miniaudio.a(miniaudio_impl.c.obj)
 .text          0x0000000140001540      0x100 /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libstdc++.a(floating_to_chars.o)
 .text          0x0000000140001640        0x0 /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libstdc++.a(empty.o)
                0x0000000140001640                ma_engine_init

.rdata          0x0000000140006000    0x2000
 .rdata         0x0000000140006000     0x1000 sound/libmorlett_sound.a(clips_data.cpp.obj)
 .rdata$zzz     0x0000000140007000       0x10 /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libstdc++.a(floating_to_chars.o)

.debug_info     0x0000000140010000     0x9000
 .debug_info    0x0000000140010000     0x9000 json/libmorlett_json.a(parser.cpp.obj)
"""



def test_sections_are_summed_per_origin(tmp_path):
    path = tmp_path / "morlett.map"
    path.write_text(MAP)
    totals, objects = sizemap.parse(str(path))
    assert totals["ours: json"][".text"] == 0x200  # name on its own line
    assert totals["audio library (miniaudio)"][".text"] == 0x300
    assert totals["C++ library (libstdc++)"][".text"] == 0x100
    assert totals["C++ library (libstdc++)"][".rdata"] == 0x10
    assert totals["clips (fixed)"][".rdata"] == 0x1000
    # Debug sections and empty input sections are not in the file.
    assert ".debug_info" not in totals["ours: json"]
    assert ("C++ library (libstdc++)", "empty.o") not in objects


@pytest.mark.parametrize("values, q, want", [([3, 1, 2], 0.5, 2), ([0, 10], 0.95, 9.5)],
                         ids=["median", "p95 between two"])
def test_quantiles(values, q, want):
    assert quantile(values, q) == pytest.approx(want)
