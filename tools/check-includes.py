#!/usr/bin/env python3
"""Checks every #include of our code against the allowed directions between the layers.

  usage: check-includes.py [--root DIR] [--qt-headers DIR]

Rules (a layer is the folder a file sits in; tests, benchmarks and fuzz targets are not checked):
  * a layer includes only its own headers and those of the layers below it (DIRECTIONS);
  * engine/, sheet/ and the plain platform/ include no Qt header at all;
  * the headless layers (HEADLESS) include no widget: no Qt Widgets or Print Support header, and no
    header of platform/qt whose source needs one (those live in the widget library of platform/qt);
  * a report page (app/window/*Page.*) reaches the window only through TPageHost: it includes neither
    the main window (Unit1.h) nor another page.
Prints one line per breach ("file:line: what") and exits 1 when there is any; exits 2 on bad usage.
Python 3 standard library only.
"""
import argparse
import glob
import os
import re
import sys

# Longest prefix first: a file belongs to the first layer whose folder holds it.
LAYERS = [
    "platform/qt", "platform",
    "engine/foundation", "engine/storage", "engine/components", "engine/sql",
    "sheet", "sources",
    "app/core", "app/charts", "app/reports", "app/window", "app",
    "tools",
]

ENGINE_BELOW = {
    "engine/foundation": {"platform"},
    "engine/storage": {"engine/foundation", "platform"},
    "engine/components": {"engine/storage", "engine/foundation", "platform"},
    "engine/sql": {"engine/components", "engine/storage", "engine/foundation", "platform"},
}
ENGINE = set(ENGINE_BELOW)
QT_PLATFORM = {"platform", "platform/qt"}

# The layers each layer may include besides itself.
DIRECTIONS = {
    "platform": set(),
    "platform/qt": {"platform"},
    **ENGINE_BELOW,
    "sheet": {"platform"},
    "app/core": QT_PLATFORM,
    "sources": {"app/core"} | ENGINE | QT_PLATFORM,
    "app/charts": {"app/core"} | QT_PLATFORM,
    # The marriage list numbers ancestors as the schemes do, so reports stand on the charts' numbering.
    "app/reports": {"app/charts", "app/core", "sheet"} | QT_PLATFORM,
    "app/window": {"app/charts", "app/reports", "sources", "app/core", "sheet"} | QT_PLATFORM,
    "app": {"app/window", "app/charts", "app/reports", "sources", "app/core", "sheet"} | QT_PLATFORM,
    # The headless commands: everything but the window.
    "tools": {"app/charts", "app/reports", "sources", "app/core", "sheet"} | ENGINE | QT_PLATFORM,
}

NO_QT = {"platform", "sheet"} | ENGINE
HEADLESS = {"app/core", "sources"} | NO_QT
WIDGET_MODULES = ("QtWidgets", "QtPrintSupport")

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc")


def layer_of(rel):
    for layer in LAYERS:
        if layer == "app":
            if os.path.dirname(rel) == "app":
                return layer
        elif rel.startswith(layer + "/"):
            return layer
    return None


def find_qt_headers(given):
    candidates = [given] if given else glob.glob("/usr/include/*/qt6") + glob.glob("/usr/include/qt6")
    for root in candidates:
        if root and os.path.isdir(os.path.join(root, "QtCore")):
            return root
    return None


def widget_names(qt_root):
    names = set()
    for module in WIDGET_MODULES:
        folder = os.path.join(qt_root, module)
        if os.path.isdir(folder):
            names.update(n for n in os.listdir(folder) if n.startswith("Q") and "." not in n)
            names.update(os.path.join(module, n) for n in os.listdir(folder))
    return names


def includes_of(path):
    result = []
    with open(path, encoding="utf-8", errors="replace") as f:
        for number, line in enumerate(f, 1):
            m = INCLUDE.match(line)
            if m:
                result.append((number, m.group(1), m.group(2)))
    return result


def our_files(root):
    files = []
    for top in ("platform", "engine", "sheet", "sources", "app", "tools"):
        for folder, dirs, names in os.walk(os.path.join(root, top)):
            dirs[:] = [d for d in dirs if not d.startswith(".") and not d.startswith("build")]
            for n in names:
                if n.endswith(SOURCE_SUFFIXES):
                    files.append(os.path.relpath(os.path.join(folder, n), root))
    return sorted(files)


def widget_side_platform_headers(root, widgets):
    """platform/qt headers whose header or source needs a widget header, directly or through another."""
    base = os.path.join(root, "platform", "qt")
    needs = {}
    for n in os.listdir(base):
        stem, ext = os.path.splitext(n)
        if ext not in SOURCE_SUFFIXES:
            continue
        needs.setdefault(stem, set())
        for _, kind, name in includes_of(os.path.join(base, n)):
            needs[stem].add((kind, name))
    widget = set()
    changed = True
    while changed:
        changed = False
        for stem, incs in needs.items():
            if stem in widget:
                continue
            for kind, name in incs:
                other = os.path.splitext(os.path.basename(name))[0]
                if (kind == "<" and name in widgets) or (
                        kind == '"' and name.startswith("platform/qt/") and other in widget):
                    widget.add(stem)
                    changed = True
                    break
    return {"platform/qt/%s.h" % s for s in widget}


def is_page(rel):
    name = os.path.basename(rel)
    stem = os.path.splitext(name)[0]
    return rel.startswith("app/window/") and stem.endswith("Page") and stem != "ReportPage"


def check(root, qt_root):
    widgets = widget_names(qt_root)
    widget_platform = widget_side_platform_headers(root, widgets)
    breaches = []
    for rel in our_files(root):
        layer = layer_of(rel)
        if layer is None:
            continue
        own_stem = os.path.splitext(os.path.basename(rel))[0]
        for number, kind, name in includes_of(os.path.join(root, rel)):
            where = "%s:%d: " % (rel, number)
            if kind == "<":
                is_qt = name.startswith("Q") or name.startswith("Qt")
                if is_qt and layer in NO_QT:
                    breaches.append(where + "%s includes Qt (<%s>)" % (layer, name))
                elif name in widgets and layer in HEADLESS:
                    breaches.append(where + "%s is headless but includes the widget header <%s>" % (layer, name))
                continue
            target = layer_of(name)
            if target is None:
                if not os.path.exists(os.path.join(root, os.path.dirname(rel), name)):
                    breaches.append(where + '"%s" is not a project path ("folder/File.h")' % name)
                continue
            if target != layer and target not in DIRECTIONS[layer]:
                breaches.append(where + "%s may not include %s (\"%s\")" % (layer, target, name))
            if name in widget_platform and layer in HEADLESS:
                breaches.append(where + "%s is headless but includes the widget stand-in \"%s\"" % (layer, name))
            if is_page(rel) and target == "app/window":
                stem = os.path.splitext(os.path.basename(name))[0]
                if stem == "Unit1":
                    breaches.append(where + "a page reaches the main window only through TPageHost")
                elif is_page(name) and stem != own_stem:
                    breaches.append(where + "a page includes another page (\"%s\")" % name)
    return breaches


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    parser.add_argument("--qt-headers", default=None, help="Qt's include folder (the one holding QtCore/)")
    args = parser.parse_args()
    qt_root = find_qt_headers(args.qt_headers)
    if qt_root is None:
        print("check-includes: Qt's include folder not found; pass --qt-headers", file=sys.stderr)
        return 2
    breaches = check(args.root, qt_root)
    for b in breaches:
        print(b)
    if breaches:
        print("check-includes: %d include(s) against the layer directions" % len(breaches), file=sys.stderr)
        return 1
    print("check-includes: every include follows the layer directions")
    return 0


if __name__ == "__main__":
    sys.exit(main())
