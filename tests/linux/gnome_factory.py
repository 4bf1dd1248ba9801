#!/usr/bin/python3
"""GNOME's thumbnail factory used the way GNOME Files uses it.

usage: gnome_factory.py fail FILE        record a failed thumbnail for FILE
       gnome_factory.py thumbnail FILE   generate and cache FILE's normal-size
                                         thumbnail; print the cached PNG's path

thumbnail exits 3 when a failure recorded earlier stops the factory from
trying, and 4 when the thumbnailer produced nothing."""
import os
import sys

import gi

# GNOME 42 and older (Debian 12) have the factory in GnomeDesktop 3.0, later
# ones in 4.0.
try:
    gi.require_version("GnomeDesktop", "4.0")
except ValueError:
    gi.require_version("GnomeDesktop", "3.0")
from gi.repository import Gio, GnomeDesktop  # noqa: E402


def main(command, path):
    file = Gio.File.new_for_path(path)
    uri = file.get_uri()
    mtime = int(os.stat(path).st_mtime)
    factory = GnomeDesktop.DesktopThumbnailFactory.new(GnomeDesktop.DesktopThumbnailSize.NORMAL)
    if command == "fail":
        factory.create_failed_thumbnail(uri, mtime, None)
        return 0
    if factory.has_valid_failed_thumbnail(uri, mtime):
        print("a failure recorded earlier stops the factory", file=sys.stderr)
        return 3
    mime = file.query_info("standard::content-type", 0, None).get_content_type()
    if not factory.can_thumbnail(uri, mime, mtime):
        print(f"no thumbnailer for {mime}", file=sys.stderr)
        return 4
    try:
        pixbuf = factory.generate_thumbnail(uri, mime, None)
    except gi.repository.GLib.Error as error:
        print(f"the thumbnailer failed: {error.message}", file=sys.stderr)
        return 4
    factory.save_thumbnail(pixbuf, uri, mtime, None)
    print(factory.lookup(uri, mtime))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
