#!/usr/bin/python3
"""Runs a program on a new pseudo-terminal, as a person at a terminal would:
waits for PROMPT in what it writes, types ANSWER and Enter, and reads on to
the end. Prints everything the program wrote to its terminal, then a last
line "EXIT <status>".

Usage: pty_run.py PROMPT ANSWER PROGRAM [ARGS...]
"""
import os
import pty
import sys
import time


def main():
    prompt, answer, argv = sys.argv[1].encode(), sys.argv[2].encode(), sys.argv[3:]
    pid, fd = pty.fork()
    if pid == 0:
        os.execv(argv[0], argv)
    seen, typed, deadline = b"", False, time.time() + 30
    while time.time() < deadline:
        try:
            chunk = os.read(fd, 4096)
        except OSError:  # the program has ended and closed the terminal
            break
        if not chunk:
            break
        seen += chunk
        if not typed and prompt in seen:
            os.write(fd, answer + b"\n")
            typed = True
    _, status = os.waitpid(pid, 0)
    sys.stdout.write(seen.decode("utf-8", "replace"))
    print("\nEXIT %d" % os.waitstatus_to_exitcode(status))


if __name__ == "__main__":
    main()
