#!/usr/bin/env python3
"""The client's no-echo key prompt gives the terminal back on Ctrl-C, on Ctrl-Z (taking it again
when continued) and on a kill. usage: key-prompt-signals.py PATH-TO-VORLIK"""
import os, pty, signal, sys, termios, time

failures = []


def check(what, condition):
    print(('ok   ' if condition else 'FAIL ') + what)
    failures.extend([] if condition else [what])


def read_until(fd, text, limit=20.0):
    seen, end = b'', time.monotonic() + limit
    while text not in seen and time.monotonic() < end:
        try:
            seen += os.read(fd, 1000)
        except OSError:
            break
    return seen


def echo(fd):
    return bool(termios.tcgetattr(fd)[3] & termios.ECHO)


def wait_for_echo(fd, wanted, limit=20.0):
    end = time.monotonic() + limit
    while echo(fd) != wanted and time.monotonic() < end:
        time.sleep(0.02)
    return echo(fd) == wanted


def start():
    # A shell's part: the client, started once it owns the terminal and its number is printed, in its
    # own foreground process group, so a stop signal stops it; the shell reports how it stopped or ended.
    pid, fd = pty.fork()
    if pid == 0:
        gate, release = os.pipe()
        child = os.fork()
        if child == 0:
            os.setpgid(0, 0)
            os.read(gate, 1)
            os.execv(sys.argv[1], ['vorlik', '--base-url', 'http://127.0.0.1:1', '--key', '-', 'connect'])
        os.setpgid(child, child)
        signal.signal(signal.SIGTTOU, signal.SIG_IGN)
        os.tcsetpgrp(0, child)
        print('CHILD %d' % child, flush=True)
        os.write(release, b'!')
        while True:
            _, status = os.waitpid(child, os.WUNTRACED)
            print('STOPPED' if os.WIFSTOPPED(status) else 'ENDED %d' % (os.WTERMSIG(status) if os.WIFSIGNALED(status) else -1), flush=True)
            if not os.WIFSTOPPED(status):
                os._exit(0)
    return pid, fd, int(read_until(fd, b'Client key: ').split(b'CHILD ')[1].split()[0])


pid, fd, child = start()
check('the prompt turns echo off', not echo(fd))
os.write(fd, b'\x03')
check('Ctrl-C ends the client', b'ENDED %d' % signal.SIGINT in read_until(fd, b'ENDED'))
check('echo is back after Ctrl-C', echo(fd))
os.waitpid(pid, 0)

pid, fd, child = start()
os.write(fd, b'\x1a')
check('Ctrl-Z stops the client', b'STOPPED' in read_until(fd, b'STOPPED'))
check('echo is back while it is stopped', echo(fd))
os.kill(child, signal.SIGCONT)
check('continued, the prompt turns echo off again', wait_for_echo(fd, False))
os.kill(child, signal.SIGTERM)
check('a kill ends the client', b'ENDED %d' % signal.SIGTERM in read_until(fd, b'ENDED'))
check('echo is back after the kill', echo(fd))
os.waitpid(pid, 0)
sys.exit(1 if failures else 0)
