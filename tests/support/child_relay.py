#!/usr/bin/env python3
"""Runs one Linux program for a Windows test program under Wine.

Wine starts a Linux program, but hands it no pipe and the test no handle to stop it by. So the test
starts this relay: child_relay.py ARGS_FILE (the program's arguments, each ended by a NUL byte). The
relay listens on a free loopback port, writes "port <n>" on its standard output (a file the test reads), waits for the
test's one connection, then starts the program and sends its standard output over the connection.
Anything the test sends, or the connection's end (the test stopped, or its process died), ends the
program: SIGTERM, SIGKILL after 5 s. When the program ends first, the relay closes the connection.
"""
import os
import selectors
import socket
import subprocess
import sys

ACCEPT_TIMEOUT = 30
KILL_AFTER = 5


def stop(child):
    if child.poll() is None:
        child.terminate()
        try:
            child.wait(KILL_AFTER)
        except subprocess.TimeoutExpired:
            child.kill()
            child.wait()


def relay(connection, child):
    selector = selectors.DefaultSelector()
    selector.register(connection, selectors.EVENT_READ, "test")
    selector.register(child.stdout, selectors.EVENT_READ, "program")
    while True:
        for key, _ in selector.select():
            if key.data == "program":
                data = os.read(child.stdout.fileno(), 4096)
                if not data:
                    child.wait()
                    return
                connection.sendall(data)
            else:
                connection.recv(4096)  # a request to stop, or the end of the connection
                return


def main():
    if len(sys.argv) != 2:
        print("usage: child_relay.py ARGS_FILE", file=sys.stderr)
        return 2
    with open(sys.argv[1], encoding="utf-8") as arguments:
        argv = arguments.read().split("\0")[:-1]
    if not argv:
        print("child_relay.py: no program in %s" % sys.argv[1], file=sys.stderr)
        return 2
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    listener.settimeout(ACCEPT_TIMEOUT)
    print("port", listener.getsockname()[1], flush=True)
    try:
        connection, _ = listener.accept()
    except socket.timeout:
        print("child_relay.py: the test never connected", file=sys.stderr)
        return 1
    listener.close()
    child = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
    try:
        relay(connection, child)
    except OSError:
        pass
    finally:
        stop(child)
        connection.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
