#!/usr/bin/env python3
"""Runs a program with its standard error on a pseudo-terminal.

Usage: run_on_terminal.py TERMINAL_LOG [--interrupt-after TEXT] -- PROGRAM ARGS...
Standard output stays where it is (a file or pipe); what the program writes on
the terminal is copied to TERMINAL_LOG. With --interrupt-after, SIGINT is sent
once TEXT has appeared on the terminal. Exits with the program's exit status
(128 + N when a signal N ended it).
"""
import os
import pty
import signal
import sys


def main() -> int:
    args = sys.argv[1:]
    log_path = args.pop(0)
    interrupt_after = None
    if args and args[0] == "--interrupt-after":
        interrupt_after = args[1].encode()
        args = args[2:]
    if args and args[0] == "--":
        args = args[1:]
    master, slave = pty.openpty()
    pid = os.fork()
    if pid == 0:
        os.close(master)
        os.dup2(slave, 2)
        os.close(slave)
        os.execvp(args[0], args)
    os.close(slave)
    seen = b""
    interrupted = False
    while True:
        try:
            data = os.read(master, 65536)
        except OSError:  # the program closed the terminal
            break
        if not data:
            break
        seen += data
        if interrupt_after is not None and not interrupted and interrupt_after in seen:
            os.kill(pid, signal.SIGINT)
            interrupted = True
    _, status = os.waitpid(pid, 0)
    with open(log_path, "wb") as f:
        f.write(seen)
    if os.WIFSIGNALED(status):
        return 128 + os.WTERMSIG(status)
    return os.WEXITSTATUS(status)


if __name__ == "__main__":
    sys.exit(main())
