#!/usr/bin/env python3
"""Runs a command on a fresh pseudo-terminal as its controlling terminal,
acts on it at given times, and reports what a user would see.

usage: pty_run.py [--timeout S] ACTION... -- COMMAND...

Each ACTION is SECONDS:WHAT, SECONDS counted from the start:
  key:NAME     types a key: esc, ctrl-c (the terminal makes it SIGINT), q,
               space, left, right, home, or any other text as it is
  signal:NAME  sends a signal (TERM, INT, HUP, QUIT) to the command
  cpu          notes the CPU time the command has used so far
  run:COMMAND  runs a shell command (and waits for it)

Prints, one per line: "status N", "changed_while_playing 0|1" (the terminal
was out of line mode at the first key or signal), "restored 0|1",
"cpu_seconds X" (all the command used), "cpu_share P" (percent of one core
between the first and the last cpu mark), "wall_seconds Y", "stop_seconds Z"
(from the last key or signal to the exit), then "output:" and what the
command printed."""
import fcntl
import os
import select
import subprocess
import sys
import termios
import time

KEYS = {"esc": b"\x1b", "ctrl-c": b"\x03", "q": b"q", "space": b" ", "left": b"\x1b[D",
        "right": b"\x1b[C", "home": b"\x1b[H"}
SIGNALS = {"TERM": 15, "INT": 2, "HUP": 1, "QUIT": 3}


def cpu_used(pid):
    """The CPU time a running process has used, in seconds: its threads'
    run times to the nanosecond where the system keeps them (schedstat),
    else utime + stime in clock ticks."""
    try:
        total = 0
        for task in os.listdir("/proc/%d/task" % pid):
            try:
                with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
                    total += int(f.read().split()[0])
            except FileNotFoundError:
                pass  # a thread that ended meanwhile
        return total / 1e9
    except (FileNotFoundError, ValueError, IndexError):
        pass
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def parse(arguments):
    timeout = 60.0
    actions = []
    while arguments and arguments[0] != "--":
        if arguments[0] == "--timeout":
            timeout = float(arguments[1])
            arguments = arguments[2:]
            continue
        when, what = arguments[0].split(":", 1)
        actions.append((float(when), what))
        arguments = arguments[1:]
    return timeout, sorted(actions, key=lambda a: a[0]), arguments[1:]


def main():
    timeout, actions, command = parse(sys.argv[1:])
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

    exited = os.pidfd_open(pid)
    output = bytearray()
    changed = None
    marks = []
    last_stop = None
    pending = list(actions)
    while True:
        now = time.monotonic() - started
        while pending and pending[0][0] <= now:
            what = pending.pop(0)[1]
            kind, _, argument = what.partition(":")
            if kind in ("key", "signal") and changed is None:
                playing = termios.tcgetattr(slave)
                changed = (playing[3] & (termios.ICANON | termios.ECHO)) == 0
            if kind == "key":
                os.write(master, KEYS.get(argument, argument.encode()))
                last_stop = time.monotonic()
            elif kind == "signal":
                os.kill(pid, SIGNALS[argument])
                last_stop = time.monotonic()
            elif kind == "cpu":
                try:
                    marks.append((time.monotonic(), cpu_used(pid)))
                except OSError:
                    pass
            elif kind == "run":
                subprocess.run(argument, shell=True, check=False)
        if now > timeout:
            os.kill(pid, 9)
        wait = 0.2 if not pending else max(0.0, min(0.2, pending[0][0] - now))
        ready, _, _ = select.select([master, exited], [], [], wait)
        if master in ready:
            try:
                output += os.read(master, 4096)
            except OSError:
                pass
        if exited in ready:
            break
    ended = time.monotonic()
    _, wait_status, usage = os.wait4(pid, 0)
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
    print("status", os.waitstatus_to_exitcode(wait_status))
    print("changed_while_playing", int(bool(changed)))
    print("restored", int(after == before))
    print("cpu_seconds %.3f" % (usage.ru_utime + usage.ru_stime))
    if len(marks) >= 2:
        (t0, c0), (t1, c1) = marks[0], marks[-1]
        print("cpu_share %.2f" % (100.0 * (c1 - c0) / (t1 - t0)))
    print("wall_seconds %.3f" % (ended - started))
    if last_stop is not None:
        print("stop_seconds %.3f" % (ended - last_stop))
    print("output:")
    sys.stdout.write(output.decode("utf-8", "replace"))


if __name__ == "__main__":
    main()
