#!/usr/bin/env python3
"""Prints the counts of a ctest JUnit report (ctest --output-junit FILE).

Usage: junit-counts.py FILE
Output: one line "PASSED FAILED SKIPPED". Counted as ctest's own summary
counts them: a test that ran and passed, or was skipped on purpose (its
SKIP_RETURN_CODE or SKIP_REGULAR_EXPRESSION; ctest marks those "SKIP_..."),
passes; a failure, a time-out and a test that could not run at all (its
executable missing, a fixture failed) fail; a disabled test is not counted.
Skipped tests are included in PASSED and also given on their own.
Exit code 0 when the report was read, 2 when it is missing or malformed.
"""
import sys
import xml.etree.ElementTree as ElementTree


def counts(path):
    passed = failed = skipped = 0
    for case in ElementTree.parse(path).getroot().iter("testcase"):
        status = case.get("status")
        if status == "run":
            passed += 1
        elif status == "disabled":
            continue
        elif status == "notrun":
            reason = case.find("skipped")
            if reason is not None and reason.get("message", "").startswith("SKIP_"):
                passed += 1
                skipped += 1
            else:
                failed += 1
        else:
            failed += 1
    return passed, failed, skipped


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    try:
        passed, failed, skipped = counts(sys.argv[1])
    except (OSError, ElementTree.ParseError) as error:
        print(f"junit-counts: {error}", file=sys.stderr)
        return 2
    print(passed, failed, skipped)
    return 0


if __name__ == "__main__":
    sys.exit(main())
