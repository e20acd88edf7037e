#!/usr/bin/python3
"""The floor of "observe": the same walk through pyatspi, the reference AT-SPI
client. It finds the application by pid and its window by title, then visits
the elements in the helper's order (depth-first pre-order, one node budget
shared by all branches, a depth limit) and reads what a node dictionary
needs: role, name, description, states, children, text and value.

Usage: ax_walk.py PID TITLE [MAX_DEPTH [MAX_NODES]]   prints the count read.
"""
import sys

import pyatspi

WINDOW_ROLES = {pyatspi.ROLE_FRAME, pyatspi.ROLE_WINDOW, pyatspi.ROLE_DIALOG, pyatspi.ROLE_ALERT,
                pyatspi.ROLE_FILE_CHOOSER, pyatspi.ROLE_COLOR_CHOOSER, pyatspi.ROLE_FONT_CHOOSER}


def application(pid):
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def window_of(app, title):
    windows = [w for w in app if w is not None and w.getRole() in WINDOW_ROLES
               and w.getState().contains(pyatspi.STATE_SHOWING)]
    for w in windows:
        if w.name == title:
            return w
    return windows[0] if windows else None


def read(element):
    node = {"role": element.getRole(), "name": element.name,
            "description": element.description, "states": element.getState()}
    interfaces = element.get_interfaces()
    if "Value" in interfaces:
        node["value"] = element.queryValue().currentValue
    elif "Text" in interfaces:
        node["value"] = element.queryText().getText(0, -1)
    return node


def walk(element, depth, limits, counter):
    max_depth, max_nodes = limits
    if depth >= max_depth or counter[0] >= max_nodes:
        return []
    nodes = []
    for child in element:
        if counter[0] >= max_nodes:
            break
        counter[0] += 1
        children = walk(child, depth + 1, limits, counter)
        node = read(child)
        node["children"] = children
        nodes.append(node)
    return nodes


def main():
    pid, title = int(sys.argv[1]), sys.argv[2]
    limits = (int(sys.argv[3]) if len(sys.argv) > 3 else 4,
              int(sys.argv[4]) if len(sys.argv) > 4 else 180)
    window = window_of(application(pid), title)
    counter = [0]
    walk(window, 0, limits, counter)
    print(counter[0])


if __name__ == "__main__":
    main()
