"""The request log: one line per request the camera received, flushed at once, so that tests can
assert exactly what a client sent.

    GET <target> <status>                 a CGI request; target is the path and query as sent,
                                          status "-" when no answer was sent (hang, close)
    RTSP <METHOD> <url> auth=<scheme>[ transport=<value>]
                                          an RTSP request; scheme is none, Basic or Digest as the
                                          request's Authorization header names it
    EVENT <text>                          something the simulator did on its own (fault, close)
"""

import threading


class RequestLog:
    def __init__(self, path=None):
        self._lock = threading.Lock()
        self._file = open(path, "a", encoding="utf-8", errors="backslashreplace") if path else None
        self.count = 0

    def write(self, line):
        line = line.replace("\r", "\\r").replace("\n", "\\n")
        with self._lock:
            self.count += 1
            if self._file:
                self._file.write(line + "\n")
                self._file.flush()

    def close(self):
        with self._lock:
            if self._file:
                self._file.close()
                self._file = None
