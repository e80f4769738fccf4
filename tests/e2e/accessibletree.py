#!/usr/bin/python3
# The accessibility tree of process argv[1] as a screen reader reads it over
# AT-SPI, one node a line: "depth|role|name|states".
import sys
import pyatspi

def walk(node, depth):
    states = node.getState()
    flags = [n for n, s in (("focusable", pyatspi.STATE_FOCUSABLE), ("showing", pyatspi.STATE_SHOWING)) if states.contains(s)]
    print("%d|%s|%s|%s" % (depth, node.getRoleName(), (node.name or "").replace("\n", " "), ",".join(flags)))
    for child in node:
        if child is not None:
            walk(child, depth + 1)

for app in pyatspi.Registry.getDesktop(0):
    if app is not None and app.get_process_id() == int(sys.argv[1]):
        walk(app, 0)
