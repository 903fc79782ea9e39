#!/usr/bin/python3
"""What a screen reader sees of one application, through AT-SPI.

  atspi_probe.py tree APP            the application's accessible tree as JSON lines
  atspi_probe.py act APP ROLE NAME ACTION   runs the named action of the first match; exit 0 when done
Exit status 3: the application is not on the accessibility bus (yet).
"""
import json
import sys

import pyatspi


def find_app(name):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == name:
            return app
    return None


def states_of(node):
    wanted = {
        pyatspi.STATE_SHOWING: "showing", pyatspi.STATE_CHECKED: "checked",
        pyatspi.STATE_FOCUSABLE: "focusable", pyatspi.STATE_FOCUSED: "focused",
        pyatspi.STATE_CHECKABLE: "checkable", pyatspi.STATE_ENABLED: "enabled",
    }
    state = node.getState()
    return [text for key, text in wanted.items() if state.contains(key)]


def actions_of(node):
    try:
        action = node.queryAction()
    except NotImplementedError:
        return []
    return [action.getName(i) for i in range(action.nActions)]


def labelled_by(node):
    names = []
    for relation in node.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            for i in range(relation.getNTargets()):
                names.append(relation.getTarget(i).name)
    return names


def walk(node, depth, out):
    if node is None or depth > 40:
        return
    out.append({"role": node.getRoleName(), "name": node.name or "", "states": states_of(node),
                "actions": actions_of(node), "labelledBy": labelled_by(node), "depth": depth})
    for i in range(node.childCount):
        walk(node.getChildAtIndex(i), depth + 1, out)


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    app = find_app(sys.argv[2])
    if app is None:
        return 3
    if sys.argv[1] == "tree":
        out = []
        walk(app, 0, out)
        for entry in out:
            print(json.dumps(entry))
        return 0
    if sys.argv[1] == "act" and len(sys.argv) == 6:
        role, name, action_name = sys.argv[3], sys.argv[4], sys.argv[5]
        node = pyatspi.findDescendant(app, lambda n: n.getRoleName() == role and n.name == name)
        if node is None:
            return 4
        action = node.queryAction()
        for i in range(action.nActions):
            if action.getName(i) == action_name:
                return 0 if action.doAction(i) else 5
        return 6
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
