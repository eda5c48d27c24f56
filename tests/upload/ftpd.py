#!/usr/bin/python3
"""pyftpdlib for the upload tests: one user ("user", password "pw") on
127.0.0.1, a free port, and on stdout one line per event:

  starting FTP server on 127.0.0.1:PORT   once it listens
  CMD <command line>                      every command (PASS shown as "PASS ***")
  RECEIVED <path> / INCOMPLETE <path>     a file stored whole / cut short
  DISCONNECT                              a session ended

Faults on request:
  --refuse-mkd NAME   MKD of a folder named NAME is answered 553
  --refuse-stor NAME  STOR of a file named NAME is answered 553
  --drop-after BYTES  the session is dropped once a STOR has received BYTES
  --throttle BPS      uploads are read at BPS bytes a second
  --fault K:KIND      once, at the K-th STOR since the start (1 is the first):
                        drop   the session is dropped once the file's first bytes came
                        421    the STOR is answered 421 and the session closed
                        stall  the server stops reading the file and never answers
  --no-rename-over    RNTO onto an existing file is answered 553
  --max-cons-per-ip N more connections from one address are answered 421

TLS (pyftpdlib's TLS handler, python3-openssl):
  --tls PEM           certificate and key in PEM, AUTH TLS offered
  --implicit          with --tls: TLS from the first byte, no AUTH
  --require-tls       with --tls: USER before AUTH, and transfers before
                      PROT P, are refused
  --tls12             with --tls: TLS 1.2 at most

Usage: ftpd.py ROOT [options]
"""
import argparse
import logging
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler

try:
    from pyftpdlib.handlers import TLS_FTPHandler, TLS_DTPHandler
except ImportError:  # python3-openssl missing: only plain FTP
    TLS_FTPHandler = TLS_DTPHandler = None
from pyftpdlib.servers import FTPServer


def say(*words):
    print(*words, flush=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("root")
    ap.add_argument("--refuse-mkd")
    ap.add_argument("--drop-after", type=int)
    ap.add_argument("--throttle", type=int)
    ap.add_argument("--refuse-stor")
    ap.add_argument("--fault")
    ap.add_argument("--no-rename-over", action="store_true")
    ap.add_argument("--max-cons-per-ip", type=int, default=0)
    ap.add_argument("--tls")
    ap.add_argument("--implicit", action="store_true")
    ap.add_argument("--require-tls", action="store_true")
    ap.add_argument("--tls12", action="store_true")
    args = ap.parse_args()
    fault_at, fault_kind = (int(args.fault.split(":")[0]), args.fault.split(":")[1]) if args.fault else (0, None)
    stors = [0]
    logging.basicConfig(level=logging.WARNING)

    tls = bool(args.tls)
    if tls and TLS_FTPHandler is None:
        sys.exit("ftpd.py: --tls needs python3-openssl")

    class DTP(TLS_DTPHandler if tls else ThrottledDTPHandler):
        read_limit = args.throttle or 0

        def handle_read(self):
            super().handle_read()
            cmd = self.cmd_channel
            if args.drop_after and self.receive and self.tot_bytes_received >= args.drop_after:
                cmd.close()
            elif cmd.fault == "drop" and self.tot_bytes_received > 0:
                cmd.fault = None
                cmd.close()

        if not tls:  # (the TLS base runs its handshake from handle_read_event)
            handle_read_event = handle_read  # the base binds its own handle_read here

        def readable(self):
            return self.cmd_channel.fault != "stall" and super().readable()

    class Handler(TLS_FTPHandler if tls else FTPHandler):
        dtp_handler = DTP
        fault = None
        if tls:
            certfile = args.tls
            tls_control_required = args.require_tls
            tls_data_required = args.require_tls
            if args.tls12:
                from OpenSSL import SSL
                ssl_options = TLS_FTPHandler.ssl_options | SSL.OP_NO_TLSv1_3

        def handle(self):
            if tls and args.implicit:
                self.secure_connection(self.ssl_context)
            super().handle()

        def pre_process_command(self, line, cmd, arg):
            say("CMD", "PASS ***" if cmd == "PASS" else line)
            super().pre_process_command(line, cmd, arg)

        def ftp_MKD(self, path):
            if args.refuse_mkd and os.path.basename(path.rstrip("/")) == args.refuse_mkd:
                self.respond("553 Cannot create %s here." % args.refuse_mkd)
                return None
            return super().ftp_MKD(path)

        def ftp_STOR(self, file, mode="w"):
            stors[0] += 1
            name = os.path.basename(file)
            if args.refuse_stor and name == args.refuse_stor:
                self.respond("553 Cannot store %s here." % name)
                return None
            if stors[0] == fault_at:
                if fault_kind == "421":
                    self.respond("421 Service not available, closing control connection.")
                    self.close_when_done()
                    return None
                self.fault = fault_kind
            return super().ftp_STOR(file, mode)

        def ftp_RNTO(self, path):
            if args.no_rename_over and os.path.exists(path):
                self._rnfr = None
                self.respond("553 Will not rename over an existing file.")
                return None
            return super().ftp_RNTO(path)

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
    server.max_cons_per_ip = args.max_cons_per_ip
    say("starting FTP server on 127.0.0.1:%d" % server.address[1])
    try:
        server.serve_forever(handle_exit=False)
    except KeyboardInterrupt:
        pass
    finally:
        server.close_all()


if __name__ == "__main__":
    sys.exit(main())
