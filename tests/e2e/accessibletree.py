#!/usr/bin/python3
# Prints the accessibility tree of the process given by its id, as a screen
# reader reads it over AT-SPI: one node a line, "depth|role|name|states".
import sys
import pyatspi

pid = int(sys.argv[1])
desktop = pyatspi.Registry.getDesktop(0)
apps = [a for a in desktop if a is not None and a.get_process_id() == pid]
if not apps:
    sys.exit("no such application on the accessibility bus")

def walk(node, depth):
    states = node.getState()
    flags = [n for n, s in (("focusable", pyatspi.STATE_FOCUSABLE), ("showing", pyatspi.STATE_SHOWING),
                            ("enabled", pyatspi.STATE_ENABLED)) if states.contains(s)]
    print("%d|%s|%s|%s" % (depth, node.getRoleName(), (node.name or "").replace("\n", " "), ",".join(flags)))
    for i in range(min(node.childCount, 500)):
        child = node.getChildAtIndex(i)
        if child is not None:
            walk(child, depth + 1)

for app in apps:
    walk(app, 0)
