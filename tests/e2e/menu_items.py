#!/usr/bin/python3
# Prints every item of the applications menu as a desktop reads it (pyxdg's
# menu parser, following the XDG variables): "SUBMENU/...<TAB>NAME<TAB>ID",
# one line per item, submenus named by their .directory's Name. Debian's
# python3 (/usr/bin), which python3-xdg is installed for.
import sys

import xdg.Menu


def walk(menu, path):
    for entry in menu.getEntries():
        if isinstance(entry, xdg.Menu.Menu):
            walk(entry, path + [entry.getName()])
        elif isinstance(entry, xdg.Menu.MenuEntry):
            print("/".join(path) + "\t" + entry.DesktopEntry.getName() + "\t" + entry.DesktopFileID)


walk(xdg.Menu.parse(sys.argv[1] if len(sys.argv) > 1 else None), [])
