#!/usr/bin/env python3
"""mkani's job done the straightforward way, as a user would write it: the same pictures, the
same order and the same bytes of main.ani. The benchmark's peer, and a check on mkani's output."""
import os
import sys

HEADER = b";Automatically created by Pelorin.\r\n\r\nvoice_data\\w.wav\r\n\r\n"
TRAILER = b'\r\n"EOTL"\r\n\r\nEOF\r\n\r\n'


def main():
    names = [e.name for e in os.scandir(b".") if e.name.lower().endswith(b".jpg")]
    names.sort(key=lambda name: (name.upper(), name))
    skipped = [name for name in names if b"\n" in name or b"\r" in name]
    for name in skipped:
        print("mkani.py: skipped %r: a name holding a line break cannot stand in main.ani" % name,
              file=sys.stderr)
    names = [name for name in names if name not in skipped] if skipped else names
    if not names:
        if skipped:
            return 2
        print("No *.jpg files in current directory!")
        return 1
    count = len(names)
    with open("main.ani", "wb") as script:
        script.write(HEADER)
        script.write(b"".join(b"%s\t\t;%d \r\n" % (name, k) for k, name in enumerate(names)))
        script.write(b"\r\nEOJ\r\n")
        script.write(b"".join(b"\t\t%d\r\n%d" % (k, 10 * (k + 1)) for k in range(count)))
        script.write(b"\r\n\r\nEOFL\r\n\r\n")
        script.write(b"".join(b'""\r\n""\r\n%d\r\n' % (10 * (k + 1)) for k in range(count)))
        script.write(TRAILER)
    return 2 if skipped else 0


if __name__ == "__main__":
    sys.exit(main())
