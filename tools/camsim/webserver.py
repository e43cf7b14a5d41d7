"""The camera's CGI web interface (param.cgi, ptz.cgi, ptzconfig.cgi, input.cgi, output.cgi) and the
simulator's control endpoints under /camsim/, on one threaded HTTP/1.1 server with kept-alive
connections."""

import json
import socket
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import unquote

from camera import CgiError
from faults import HTTP_ACTIONS, RTSP_ACTIONS, FaultError, parse_terms

CONTROL_PREFIX = "/camsim/"
SLOW_PIECE = 16


def split_query(query):
    """"a=1&b&c=%5C" -> [("a", "1"), ("b", None), ("c", "\\")]; empty terms are skipped."""
    terms = []
    for term in query.split("&"):
        if not term:
            continue
        key, sep, value = term.partition("=")
        terms.append((unquote(key), unquote(value) if sep else None))
    return terms


class CgiServer(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, address, port, sim):
        self.sim = sim
        super().__init__((address, port), CgiHandler)


class CgiHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "camsim/1.0"
    sys_version = ""

    def version_string(self):
        return self.server_version

    def log_message(self, format, *args):  # noqa: A002 - the base class's signature
        if self.server.sim.verbose:
            super().log_message(format, *args)

    # --- answering ----------------------------------------------------------------------------

    def _answer(self, status, body, headers=(), content_type="text/plain", slow_ms=0, interim=0, trickle_ms=0):
        data = body.encode("utf-8") if isinstance(body, str) else body
        try:
            for _ in range(interim):
                # Interim answers a client must skip; a second apart, so that they also hold the request.
                self.wfile.write(b"HTTP/1.1 100 Continue\r\n\r\n")
                self.wfile.flush()
                if self.server.sim.stopping.wait(1.0):
                    return
        except OSError:  # the client gave up waiting
            self._drop_connection()
            return
        if trickle_ms:
            self._trickle(status, data, headers, content_type, trickle_ms)
            return
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", "no-cache")
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        if not slow_ms:
            self.wfile.write(data)
            return
        self.wfile.flush()
        for start in range(0, len(data), SLOW_PIECE):
            if self.server.sim.stopping.wait(slow_ms / 1000.0):
                break
            self.wfile.write(data[start:start + SLOW_PIECE])
            self.wfile.flush()

    def _trickle(self, status, data, headers, content_type, trickle_ms):
        """The whole answer, status line included, one byte at a time."""
        lines = ["HTTP/1.1 %d %s" % (status, self.responses.get(status, ("",))[0]),
                 "Server: " + self.server_version, "Content-Type: " + content_type,
                 "Content-Length: %d" % len(data), "Cache-Control: no-cache"]
        lines += ["%s: %s" % (name, value) for name, value in headers]
        raw = ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1") + data
        for i in range(len(raw)):
            if self.server.sim.stopping.wait(trickle_ms / 1000.0):
                self._drop_connection()
                return
            try:
                self.wfile.write(raw[i:i + 1])
                self.wfile.flush()
            except OSError:  # the client gave up waiting
                self._drop_connection()
                return

    def _drop_connection(self):
        self.close_connection = True
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    # --- dispatch -----------------------------------------------------------------------------

    def do_GET(self):  # noqa: N802 - http.server naming
        if self.path.startswith(CONTROL_PREFIX):
            self._control()
        else:
            self._cgi()

    def _refuse_method(self):
        self.server.sim.log.write("%s %s 405" % (self.command, self.path))
        self._answer(405, "Method Not Allowed\r\n", [("Allow", "GET")])

    do_POST = do_PUT = do_DELETE = do_HEAD = _refuse_method  # noqa: N815

    def _cgi(self):
        sim = self.server.sim
        target = self.path
        ok, challenge, reason, scheme = sim.auth.check("GET", target, self.headers.get("Authorization"))
        if not ok:
            status = 400 if scheme == "digest-uri" else 401
            sim.log.write("GET %s %d" % (target, status))
            if sim.verbose:
                self.log_message("authentication failed: %s", reason)
            self._answer(status, "Unauthorized\r\n" if status == 401 else "Bad Request\r\n",
                         [("WWW-Authenticate", value) for value in challenge])
            return

        fault = sim.http_faults.take(target) or {}
        if "hang" in fault:
            sim.log.write("GET %s -" % target)
            limit = fault["hang"] or None
            sim.stopping.wait(limit)
            self._drop_connection()
            return
        if "delay" in fault and sim.stopping.wait(fault["delay"] / 1000.0):
            self._drop_connection()
            return
        if "close" in fault:
            sim.log.write("GET %s -" % target)
            self._drop_connection()
            return

        path, _, query = target.partition("?")
        try:
            status, body = 200, self._cgi_answer(path, split_query(query), fault.get("runtogether", False))
        except CgiError as error:
            status, body = error.status, error.body
        if "status" in fault:
            status = fault["status"]
            body = "" if status in (204, 304) else "Error %d\r\n" % status
        if "body" in fault:
            body = fault["body"]
        if "empty" in fault:
            body = ""
        headers = []
        if status == 401:
            headers = [("WWW-Authenticate", value) for value in sim.auth.challenge()]
        sim.log.write("GET %s %d" % (target, status))
        self._answer(status, body, headers, slow_ms=fault.get("slow", 0), interim=fault.get("interim", 0),
                     trickle_ms=fault.get("trickle", 0))

    def _cgi_answer(self, path, terms, run_together):
        camera = self.server.sim.camera
        if path == "/cgi-bin/admin/param.cgi":
            action = next((value for key, value in terms if key == "action"), None)
            if action == "list":
                groups = []
                for key, value in terms:
                    if key == "group" and value:
                        groups.extend(item for item in value.split(",") if item)
                entries, unknown = camera.list_params(groups)
                lines = ["root.%s=%s" % entry for entry in entries]
                lines += ["# Error: Error -1 getting param in group '%s'" % group for group in unknown]
                if run_together:
                    return "".join(lines) + "\r\n"
                return "".join(line + "\r\n" for line in lines)
            if action == "update":
                updates = [(key, value if value is not None else "") for key, value in terms if key != "action"]
                return camera.update(updates)
            raise CgiError(200, "# Error: unsupported action '%s'\r\n" % action)
        if path == "/cgi-bin/com/ptz.cgi":
            return camera.ptz_command([(k, v or "") for k, v in terms], config=False)
        if path == "/cgi-bin/com/ptzconfig.cgi":
            return camera.ptz_command([(k, v or "") for k, v in terms], config=True)
        if path == "/cgi-bin/io/input.cgi":
            if not camera.inputs:
                raise CgiError(404, "Not Found\r\n")
            spec = next((value for key, value in terms if key == "check"), None)
            if spec is None:
                raise CgiError(400, "Error: check=<input> expected\r\n")
            return camera.input_answer(spec)
        if path == "/cgi-bin/io/output.cgi":
            if not camera.outputs:
                raise CgiError(404, "Not Found\r\n")
            for key, value in terms:
                if key == "action" and value is not None:
                    return camera.output_action(value)
                if key == "check" and value is not None:
                    return camera.output_answer(value)
            raise CgiError(400, "Error: action=<output>:<state> or check=<output> expected\r\n")
        raise CgiError(404, "Not Found\r\n")

    # --- control endpoints (not logged, no authentication) -------------------------------------

    def _control(self):
        sim = self.server.sim
        path, _, query = self.path.partition("?")
        terms = split_query(query)
        name = path[len(CONTROL_PREFIX):]
        try:
            if name == "status":
                self._answer(200, json.dumps(sim.status(), indent=1) + "\n", content_type="application/json")
                return
            if name == "input":
                values = dict(terms)
                port = values.get("port", "1")
                state = values.get("state")
                if not port.isdigit() or state not in (None, "0", "1"):
                    raise CgiError(400, "use /camsim/input?port=<n>&state=0|1 (no state toggles)\n")
                new_state = sim.camera.set_input(int(port), None if state is None else int(state))
                self._answer(200, "Input%s=%d\n" % (port, new_state))
                return
            if name == "param":
                updates = []
                for key, value in terms:
                    if key == "remove":
                        updates.append((value or "", None))
                    else:
                        updates.append((key[5:] if key.startswith("root.") else key, value or ""))
                sim.camera.force_params(updates)
                self._answer(200, "OK\n")
                return
            if name in ("fault", "rtsp-fault"):
                values = dict(terms)
                target = values.pop("path", "*") or "*"
                faults = sim.http_faults if name == "fault" else sim.rtsp_faults
                if "clear" in values:
                    faults.clear(None if "path" not in dict(terms) else target)
                    self._answer(200, "OK\n")
                    return
                actions = parse_terms(HTTP_ACTIONS if name == "fault" else RTSP_ACTIONS, list(values.items()))
                if name == "fault":
                    faults.add(target, actions)
                elif ("close" in actions or "bye" in actions) and "after" not in actions:
                    if sim.rtsp is not None:
                        sim.rtsp.close_now(target, bye="bye" in actions)
                else:
                    faults.add(target, actions, immediate=True)
                self._answer(200, "OK\n")
                return
            raise CgiError(404, "unknown control request; see tools/camsim/README.md\n")
        except FaultError as error:
            self._answer(400, "%s\n" % error)
        except CgiError as error:
            self._answer(error.status, error.body)


