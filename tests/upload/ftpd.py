#!/usr/bin/python3
"""pyftpdlib for the upload tests: one user ("user", password "pw") on
127.0.0.1, a free port, and on stdout one line per event:

  starting FTP server on 127.0.0.1:PORT   once it listens
  CMD <command line>                      every command (PASS shown as "PASS ***")
  RECEIVED <path> / INCOMPLETE <path>     a file stored whole / cut short
  DISCONNECT                              a session ended

Faults on request:
  --refuse-mkd NAME   MKD of a folder named NAME is answered 553
  --drop-after BYTES  the session is dropped once a STOR has received BYTES
  --throttle BPS      uploads are read at BPS bytes a second

Usage: ftpd.py ROOT [--refuse-mkd NAME] [--drop-after BYTES] [--throttle BPS]
"""
import argparse
import logging
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


def say(*words):
    print(*words, flush=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("root")
    ap.add_argument("--refuse-mkd")
    ap.add_argument("--drop-after", type=int)
    ap.add_argument("--throttle", type=int)
    args = ap.parse_args()
    logging.basicConfig(level=logging.WARNING)

    class DTP(ThrottledDTPHandler):
        read_limit = args.throttle or 0

        def handle_read(self):
            super().handle_read()
            if args.drop_after and self.receive and self.tot_bytes_received >= args.drop_after:
                self.cmd_channel.close()

        handle_read_event = handle_read  # the base binds its own handle_read here

    class Handler(FTPHandler):
        dtp_handler = DTP

        def pre_process_command(self, line, cmd, arg):
            say("CMD", "PASS ***" if cmd == "PASS" else line)
            super().pre_process_command(line, cmd, arg)

        def ftp_MKD(self, path):
            if args.refuse_mkd and os.path.basename(path.rstrip("/")) == args.refuse_mkd:
                self.respond("553 Cannot create %s here." % args.refuse_mkd)
                return None
            return super().ftp_MKD(path)

        def on_file_received(self, file):
            say("RECEIVED", file)

        def on_incomplete_file_received(self, file):
            say("INCOMPLETE", file)

        def on_disconnect(self):
            say("DISCONNECT")

    authorizer = DummyAuthorizer()
    authorizer.add_user("user", "pw", args.root, perm="elradfmwMT")
    Handler.authorizer = authorizer
    server = FTPServer(("127.0.0.1", 0), Handler)
    say("starting FTP server on 127.0.0.1:%d" % server.address[1])
    try:
        server.serve_forever(handle_exit=False)
    except KeyboardInterrupt:
        pass
    finally:
        server.close_all()


if __name__ == "__main__":
    sys.exit(main())
