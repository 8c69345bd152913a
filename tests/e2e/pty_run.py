#!/usr/bin/env python3
"""Runs a command on a fresh pseudo-terminal as its controlling terminal,
types a key after a delay, and reports what a user would see.

usage: pty_run.py KEY AFTER_SECONDS TIMEOUT_SECONDS COMMAND...

KEY is esc, or ctrl-c (which the terminal turns into SIGINT).

Prints, one per line: "status N", "changed_while_playing 0|1",
"restored 0|1", "cpu_seconds X", "wall_seconds Y", then "output:" and the
command's output."""
import fcntl
import os
import select
import sys
import termios
import time


def main():
    key = {"esc": b"\x1b", "ctrl-c": b"\x03"}[sys.argv[1]]
    esc_after = float(sys.argv[2])
    timeout = float(sys.argv[3])
    command = sys.argv[4:]
    master, slave = os.openpty()
    before = termios.tcgetattr(slave)
    started = time.monotonic()
    pid = os.fork()
    if pid == 0:
        os.close(master)
        os.setsid()
        fcntl.ioctl(slave, termios.TIOCSCTTY, 0)
        for fd in (0, 1, 2):
            os.dup2(slave, fd)
        if slave > 2:
            os.close(slave)
        try:
            os.execvp(command[0], command)
        finally:
            os._exit(127)

    output = bytearray()
    changed = False
    sent = False
    status = None
    usage = None
    while status is None:
        now = time.monotonic() - started
        if not sent and now >= esc_after:
            # The player must have taken the terminal out of line mode by now.
            playing = termios.tcgetattr(slave)
            changed = (playing[3] & (termios.ICANON | termios.ECHO)) == 0
            os.write(master, key)
            sent = True
        if now > timeout:
            os.kill(pid, 9)
        ready, _, _ = select.select([master], [], [], 0.05)
        if ready:
            try:
                output += os.read(master, 4096)
            except OSError:
                pass
        waited, wait_status, usage = os.wait4(pid, os.WNOHANG)
        if waited == pid:
            status = os.waitstatus_to_exitcode(wait_status)
    wall = time.monotonic() - started
    while True:
        ready, _, _ = select.select([master], [], [], 0.05)
        if not ready:
            break
        try:
            chunk = os.read(master, 4096)
        except OSError:
            break
        if not chunk:
            break
        output += chunk
    after = termios.tcgetattr(slave)
    print("status", status)
    print("changed_while_playing", int(changed))
    print("restored", int(after == before))
    print("cpu_seconds %.3f" % (usage.ru_utime + usage.ru_stime))
    print("wall_seconds %.3f" % wall)
    print("output:")
    sys.stdout.write(output.decode("utf-8", "replace"))


if __name__ == "__main__":
    main()
