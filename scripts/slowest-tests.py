#!/usr/bin/python3
"""Lists the slowest GoogleTest cases of the last run from the XML reports in BUILD_DIR/test-results."""
import glob
import os
import sys
import xml.etree.ElementTree as ET


def main():
    folder = os.path.join(sys.argv[1], "test-results")
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 12
    cases = []
    for path in glob.glob(os.path.join(folder, "*.xml")):
        try:
            root = ET.parse(path).getroot()
        except ET.ParseError:
            continue  # a unit that crashed leaves a partial report; ctest already names it
        unit = os.path.splitext(os.path.basename(path))[0]
        for case in root.iter("testcase"):
            cases.append((float(case.get("time", "0")), "%s %s.%s" % (unit, case.get("classname"), case.get("name"))))
    if not cases:
        return
    cases.sort(reverse=True)
    print("Slowest test cases:")
    for seconds, name in cases[:count]:
        print("%8.2f s  %s" % (seconds, name))


if __name__ == "__main__":
    main()
