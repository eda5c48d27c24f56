"""pyftpdlib's stand-alone server speaking a given code on its command
channel and in LIST output (its file names on disk stay UTF-8).

Usage: ftpd_codepage.py ENCODING [the options of python3 -m pyftpdlib]
"""

import sys

from pyftpdlib import __main__ as ftpd_main
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib import handlers
from pyftpdlib.handlers import FTPHandler

ENCODING = sys.argv.pop(1)


def decode(self, data):
    return data.decode(ENCODING, self.unicode_errors)


def push(self, s):
    handlers.asynchat.async_chat.push(self, s.encode(ENCODING, self.unicode_errors))


_format_list = AbstractedFS.format_list


def format_list(self, basedir, listing, ignore_err=True):
    for line in _format_list(self, basedir, listing, ignore_err):
        yield line.decode('utf8', 'replace').encode(ENCODING, 'replace')


FTPHandler.decode = decode
FTPHandler.push = push
AbstractedFS.format_list = format_list

if __name__ == '__main__':
    ftpd_main.main()
