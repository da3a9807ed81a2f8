#!/usr/bin/env python3
"""Runs the Python client's and the dissector's tests and writes their counts.

Usage: python-tests.py COUNTS_FILE [SUITE_DIR]
Runs what `python3 -m unittest discover -s python/tests -t python -v` runs
(or, given SUITE_DIR, what `-s SUITE_DIR -t SUITE_DIR` runs), with the same
output, then writes one line "PASSED FAILED SKIPPED" to
COUNTS_FILE. A test fails when it (or one of its subtests) fails, raises or
passes where it was expected to fail; a class or module whose set-up fails
counts as one failed test. Skipped tests are included in PASSED and also
given on their own. Exit code 0 when every test passed.
"""
import pathlib
import sys
import unittest


def counts(result):
    failed_tests = set()
    broken_setups = 0
    for test, _ in result.failures + result.errors:
        test = getattr(test, "test_case", test)  # a subtest counts for its test
        if isinstance(test, unittest.TestCase):
            failed_tests.add(test.id())
        else:  # a set-up outside any test (setUpClass, setUpModule)
            broken_setups += 1
    failed_tests.update(test.id() for test in result.unexpectedSuccesses)
    passed = result.testsRun - len(failed_tests)
    return passed, len(failed_tests) + broken_setups, len(result.skipped)


def main():
    if len(sys.argv) not in (2, 3):
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    if len(sys.argv) == 3:
        start = top = pathlib.Path(sys.argv[2]).resolve()
    else:
        top = pathlib.Path(__file__).resolve().parent.parent / "python"
        start = top / "tests"
    program = unittest.main(
        module=None,
        argv=[sys.argv[0], "discover", "-s", str(start), "-t", str(top), "-v"],
        exit=False)
    passed, failed, skipped = counts(program.result)
    pathlib.Path(sys.argv[1]).write_text(f"{passed} {failed} {skipped}\n")
    return 0 if failed == 0 and program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
