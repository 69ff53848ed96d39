#!/usr/bin/env python3
"""Self-test of check-includes.py: a small clean tree passes, and each rule, broken once, is reported
with the file and line of the breach.

  usage: check-includes-test.py [--qt-headers DIR]
"""
import argparse
import importlib.util
import os
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
loader_spec = importlib.util.spec_from_file_location("check_includes", os.path.join(HERE, "check-includes.py"))
checker = importlib.util.module_from_spec(loader_spec)
loader_spec.loader.exec_module(checker)

# A tree that keeps every rule.
CLEAN = {
    "platform/CodePage.h": "#include <cstdint>\n",
    "platform/qt/IniFile.h": '#include <QString>\n#include "platform/CodePage.h"\n',
    "platform/qt/IniFile.cpp": '#include "platform/qt/IniFile.h"\n#include <QFile>\n',
    "platform/qt/Dialogs.h": "#include <QString>\n",
    "platform/qt/Dialogs.cpp": '#include "platform/qt/Dialogs.h"\n#include <QFileDialog>\n',
    "engine/foundation/NRDTypes.h": '#include "platform/CodePage.h"\n',
    "engine/storage/NRDPage.h": '#include "engine/foundation/NRDTypes.h"\n',
    "engine/components/NRDDB.h": '#include "engine/storage/NRDPage.h"\n',
    "sheet/zxmlwriter.h": "#include <string>\n",
    "app/core/Model.h": '#include <QString>\n#include "platform/qt/IniFile.h"\n',
    "sources/Unit3.h": '#include "app/core/Model.h"\n#include "engine/components/NRDDB.h"\n',
    "app/charts/Ancestors.h": '#include "app/core/Model.h"\n#include "platform/qt/Dialogs.h"\n',
    "app/reports/Marriages.h": '#include "app/charts/Ancestors.h"\n#include "sheet/zxmlwriter.h"\n',
    "app/window/ReportPage.h": '#include "app/window/PageHost.h"\n',
    "app/window/PageHost.h": "#include <QWidget>\n",
    "app/window/Unit1.h": '#include "app/window/MarriagesPage.h"\n',
    "app/window/MarriagesPage.h": '#include "app/window/ReportPage.h"\n',
    "app/window/MarriagesPage.cpp": '#include "app/window/MarriagesPage.h"\n#include "app/reports/Marriages.h"\n',
    "app/window/CalendarPage.cpp": '#include "app/window/ReportPage.h"\n',
    "app/main.cpp": '#include "app/window/Unit1.h"\n',
    "tools/trevolan-dump.cpp": '#include "sources/Unit3.h"\n',
}

# One breach per case: (file, text appended to it, words the report must hold).
CASES = [
    ("engine/storage/NRDPage.h", '#include "engine/components/NRDDB.h"\n', "engine/storage may not include engine/components"),
    ("engine/foundation/NRDTypes.h", "#include <QString>\n", "engine/foundation includes Qt"),
    ("sheet/zxmlwriter.h", "#include <QtCore/QString>\n", "sheet includes Qt"),
    ("platform/CodePage.h", '#include "platform/qt/IniFile.h"\n', "platform may not include platform/qt"),
    ("app/core/Model.h", "#include <QWidget>\n", "headless but includes the widget header <QWidget>"),
    ("app/core/Model.h", '#include "platform/qt/Dialogs.h"\n', 'widget stand-in "platform/qt/Dialogs.h"'),
    ("app/core/Model.h", '#include "app/charts/Ancestors.h"\n', "app/core may not include app/charts"),
    ("sources/Unit3.h", "#include <QTextEdit>\n", "sources is headless"),
    ("app/charts/Ancestors.h", '#include "app/reports/Marriages.h"\n', "app/charts may not include app/reports"),
    ("tools/trevolan-dump.cpp", '#include "app/window/Unit1.h"\n', "tools may not include app/window"),
    ("app/window/MarriagesPage.cpp", '#include "app/window/Unit1.h"\n', "only through TPageHost"),
    ("app/window/CalendarPage.cpp", '#include "app/window/MarriagesPage.h"\n', "a page includes another page"),
    ("app/core/Model.h", '#include "Helper.h"\n', "not a project path"),
]


def write_tree(root, files):
    for rel, text in files.items():
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--qt-headers", default=None)
    args = parser.parse_args()
    qt_root = checker.find_qt_headers(args.qt_headers)
    if qt_root is None:
        print("check-includes-test: Qt's include folder not found", file=sys.stderr)
        return 2
    failures = []
    with tempfile.TemporaryDirectory() as root:
        write_tree(root, CLEAN)
        found = checker.check(root, qt_root)
        if found:
            failures.append("the clean tree is reported: %s" % found)
    for rel, extra, words in CASES:
        with tempfile.TemporaryDirectory() as root:
            files = dict(CLEAN)
            files[rel] = files[rel] + extra
            write_tree(root, files)
            found = checker.check(root, qt_root)
            line = files[rel].count("\n")
            expected_place = "%s:%d: " % (rel, line)
            if len(found) != 1 or not found[0].startswith(expected_place) or words not in found[0]:
                failures.append("%s + %r: expected one report at %s holding %r, got %s"
                                % (rel, extra.strip(), expected_place, words, found))
    for f in failures:
        print(f)
    print("check-includes-test: %d of %d cases failed" % (len(failures), len(CASES) + 1))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
