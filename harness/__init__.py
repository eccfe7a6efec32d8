"""The test harness of morlett.exe under Wine.

    morlett   the program's own names, texts, menu rows, clips and settings file
    process   start, end by PID, bounded waits
    wine      the test environment, the in-Wine probe and the programs started in it
    sound     one time-stamped recorder of a sink and the analysis of what it recorded
    tray      the tray icon and its popup menu through xdotool
    soak      the soak's pieces: drive, sample, write the samples, judge them
    outputs   two recorded sinks as audio outputs that are switched, removed and loaded again
    results   test results read from JUnit XML files (for scripts/test.sh)

The end-to-end tests (e2e/test_*.py), the soak and fault runs, the benchmark driver and the
demonstration use these modules; each module uses only the others' public names.
"""
