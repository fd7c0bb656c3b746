#!/usr/bin/env python3
"""Drives the main window of the process PID through the accessibility bus
only, as a screen reader would: presses "查摘要", waits for the run to end,
reads the list's cells and the status panels, ticks every row through the
menu "编辑" > "全部选定" and presses "清除". Prints what it read as JSON.

Usage: atspi_drive.py PID
"""
import json
import sys
import time

import pyatspi


def app_of(pid, timeout=20):
    end = time.time() + timeout
    while time.time() < end:
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            try:
                if app is not None and app.get_process_id() == pid:
                    return app
            except Exception:
                pass
        time.sleep(0.2)
    raise SystemExit("the window never showed on the accessibility bus")


def walk(node, depth=0):
    yield node
    if depth > 40:
        return
    try:
        children = list(node)
    except Exception:
        return
    for child in children:
        # A table's cells are read through its table interface.
        if child is not None and child.getRole() != pyatspi.ROLE_TABLE:
            yield from walk(child, depth + 1)
        elif child is not None:
            yield child


def find(app, role, name, timeout=20):
    roles = role if isinstance(role, tuple) else (role,)
    end = time.time() + timeout
    while time.time() < end:
        for node in walk(app):
            try:
                if node.getRole() in roles and node.name == name:
                    return node
            except Exception:
                pass
        time.sleep(0.2)
    raise SystemExit("no %s named %r" % (pyatspi.Role(role), name))


def do(node, action):
    actions = node.queryAction()
    names = [actions.getName(i) for i in range(actions.nActions)]
    if action not in names:
        raise SystemExit("%r offers %r, not %r" % (node.name, names, action))
    actions.doAction(names.index(action))
    return names


def labels(bar):
    return [n.name for n in walk(bar) if n.getRole() == pyatspi.ROLE_LABEL]


def wait_label(app, part, timeout=60):
    end = time.time() + timeout
    while time.time() < end:
        for text in labels(app):
            if part in text:
                return text
        time.sleep(0.3)
    raise SystemExit("no status panel with %r; panels: %r" % (part, labels(app)))


def cells(table):
    t = table.queryTable()
    rows = []
    for r in range(t.nRows):
        rows.append([t.getAccessibleAt(r, c).name for c in range(t.nColumns)])
    return rows


def main():
    pid = int(sys.argv[1])
    app = app_of(pid)
    out = {}
    header = find(app, pyatspi.ROLE_PUSH_BUTTON, "查摘要")
    out["check_actions"] = do(header, "Press")
    bar = find(app, pyatspi.ROLE_STATUS_BAR, "")
    out["state"] = wait_label(bar, "新到邮件：")
    out["accounts"] = wait_label(bar, "邮箱：")
    table = find(app, pyatspi.ROLE_TABLE, "邮件列表")
    out["rows"] = cells(table)
    out["panels"] = labels(bar)
    edit = find(app, (pyatspi.ROLE_MENU, pyatspi.ROLE_MENU_ITEM), "编辑")
    do(find(edit, pyatspi.ROLE_MENU_ITEM, "全部选定"), "Press")
    time.sleep(0.5)
    out["ticked"] = cells(table)
    do(find(app, pyatspi.ROLE_PUSH_BUTTON, "清除"), "Press")
    out["cleared"] = wait_label(bar, "检测完毕！")
    out["after"] = cells(table)
    print(json.dumps(out, ensure_ascii=False))


if __name__ == "__main__":
    main()
