"""Counting results from the three JUnit writers scripts/test.sh reads: ctest, GoogleTest
and pytest."""

import os

from harness.results import main, tally_ctest, tally_files

GTEST = """<?xml version="1.0" encoding="UTF-8"?>
<testsuites tests="4" failures="1" disabled="1" errors="0" name="AllTests">
  <testsuite name="Json" tests="4" failures="1" disabled="1">
    <testcase name="Parses" status="run" result="completed" classname="Json" />
    <testcase name="Writes" status="run" result="completed" classname="Json">
      <failure message="x" type=""><![CDATA[json_test.cpp:10]]></failure>
    </testcase>
    <testcase name="DISABLED_Slow" status="notrun" result="suppressed" classname="Json" />
    <testcase name="Later" status="run" result="skipped" classname="Json"><skipped message=""/></testcase>
  </testsuite>
</testsuites>
"""
PYTEST = """<?xml version="1.0" encoding="utf-8"?><testsuites><testsuite name="pytest" errors="1"
failures="1" skipped="1" tests="4"><testcase classname="e2e.test_menu" name="test_exit" />
<testcase classname="e2e.test_menu" name="test_speed"><failure message="x">x</failure></testcase>
<testcase classname="e2e.test_menu" name="test_broken"><error message="fixture">x</error></testcase>
<testcase classname="scripts.tests.test_setup" name="test_fresh"><skipped message="no archive"/></testcase>
</testsuite></testsuites>
"""
CTEST = """<?xml version="1.0" encoding="UTF-8"?>
<testsuite name="Linux" tests="4" failures="2" disabled="0" skipped="0" hostname="" time="9">
  <testcase name="json_tests" classname="json_tests" time="1" status="fail"><failure message="Failed"/></testcase>
  <testcase name="runtime_tests" classname="runtime_tests" time="1" status="fail"><failure message="Failed"/></testcase>
  <testcase name="ui_tests" classname="ui_tests" time="1" status="run"/>
  <testcase name="sound_recording" classname="sound_recording" time="1" status="run"/>
</testsuite>
"""
ALL_PASSED = GTEST.replace('<failure message="x" type=""><![CDATA[json_test.cpp:10]]></failure>', "")


def write(folder, name, text):
    path = os.path.join(folder, name)
    with open(path, "w") as f:
        f.write(text)
    return path


def test_cases_of_each_writer(tmp_path):
    gtest = tally_files([write(tmp_path, "g.xml", GTEST)])
    assert gtest.counts == {"passed": 1, "failed": 1, "skipped": 2}
    assert gtest.failed == ["Json.Writes"]
    pytest_ = tally_files([write(tmp_path, "p.xml", PYTEST)])
    assert pytest_.counts == {"passed": 1, "failed": 2, "skipped": 1}


def test_ctest_entries_count_by_their_own_cases(tmp_path):
    ctest = write(tmp_path, "ctest.xml", CTEST)
    detail = tmp_path / "detail"
    detail.mkdir()
    write(detail, "json_tests.xml", GTEST)              # failed with a failed case
    write(detail, "runtime_tests.xml", ALL_PASSED)      # failed after its cases passed
    write(detail, "ui_tests.xml", "<testsuites><testcase") # cut short: counts as one
    tally = tally_ctest(ctest, str(detail))
    # json: 1 passed, 1 failed, 2 skipped; runtime: 2 passed (+ the entry failed), 2 skipped;
    # ui_tests and sound_recording: one passed entry each.
    assert tally.counts == {"passed": 5, "failed": 2, "skipped": 4}
    assert tally.failed == ["json_tests: Json.Writes", "runtime_tests"]


def test_nothing_to_read_is_nothing_passed(tmp_path, capsys):
    assert main([str(tmp_path / "missing.xml")]) == 0
    assert capsys.readouterr().out.splitlines() == ["0 passed, 0 failed, 0 skipped"]
