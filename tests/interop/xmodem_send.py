#!/usr/bin/python3
"""python3-xmodem's sender as a program on standard input and output, for
the soak: xmodem_send.py MODE TIMEOUT FILE, MODE xmodem or xmodem1k,
TIMEOUT in seconds for each wait for an answer.  Exits 0 when the library
says the file was sent."""

import os
import select
import sys
import time

import xmodem


def getc(size, timeout):
    data, until = b'', time.monotonic() + timeout
    while len(data) < size:
        left = until - time.monotonic()
        if left <= 0 or not select.select([0], [], [], left)[0]:
            return None
        more = os.read(0, size - len(data))
        if not more:
            return None
        data += more
    return data


def putc(data, timeout=0):
    left = bytes(data)
    while left:
        left = left[os.write(1, left):]
    return len(data)


def main(mode, timeout, path):
    timeout = float(timeout)
    modem = xmodem.XMODEM(lambda size, wait=timeout: getc(size, wait), putc,
                          mode=mode)
    with open(path, 'rb') as stream:
        return 0 if modem.send(stream, timeout=timeout, quiet=True) else 1


if __name__ == '__main__':
    sys.exit(main(*sys.argv[1:]))
