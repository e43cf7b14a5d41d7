"""HTTP Basic and Digest (MD5, with qop=auth or without qop) authentication for the CGI server."""

import base64
import hashlib
import hmac
import secrets
import threading
import time
from collections import OrderedDict

NONCE_LIFETIME = 300.0
MAX_NONCES = 4096


def md5_hex(text):
    return hashlib.md5(text.encode("utf-8")).hexdigest()


def parse_auth_params(text):
    """Parses 'a="x", b=y' into a dict (names lower-cased). Quoted strings may hold commas and
    backslash escapes. Returns None for malformed input."""
    params = {}
    i, n = 0, len(text)
    while i < n:
        while i < n and text[i] in " \t,":
            i += 1
        if i >= n:
            break
        start = i
        while i < n and text[i] not in "= \t,":
            i += 1
        name = text[start:i].lower()
        while i < n and text[i] in " \t":
            i += 1
        if not name or i >= n or text[i] != "=":
            return None
        i += 1
        while i < n and text[i] in " \t":
            i += 1
        if i < n and text[i] == '"':
            i += 1
            value = []
            while i < n and text[i] != '"':
                if text[i] == "\\" and i + 1 < n:
                    i += 1
                value.append(text[i])
                i += 1
            if i >= n:
                return None
            i += 1
            params[name] = "".join(value)
        else:
            start = i
            while i < n and text[i] not in ",":
                i += 1
            params[name] = text[start:i].strip()
    return params


class Authenticator:
    """Checks the Authorization header of a request.

    mode: "none", "basic" or "digest"; qop: True to offer qop="auth" in Digest challenges.
    check() returns (ok, challenge headers for a 401, reason text, scheme used).
    """

    def __init__(self, mode, user, password, realm="camsim", qop=True):
        if mode not in ("none", "basic", "digest"):
            raise ValueError("unknown authentication mode %r" % mode)
        self.mode = mode
        self.user = user
        self.password = password
        self.realm = realm
        self.qop = qop
        self.opaque = secrets.token_hex(8)
        self._nonces = OrderedDict()
        self._lock = threading.Lock()

    def _new_nonce(self):
        nonce = secrets.token_hex(16)
        with self._lock:
            self._nonces[nonce] = time.monotonic()
            while len(self._nonces) > MAX_NONCES:
                self._nonces.popitem(last=False)
        return nonce

    def _nonce_state(self, nonce):
        with self._lock:
            issued = self._nonces.get(nonce)
        if issued is None:
            return "unknown"
        if time.monotonic() - issued > NONCE_LIFETIME:
            return "stale"
        return "fresh"

    def challenge(self, stale=False):
        if self.mode == "basic":
            return ['Basic realm="%s"' % self.realm]
        if self.mode == "digest":
            value = 'Digest realm="%s", nonce="%s", algorithm=MD5, opaque="%s"' % (
                self.realm, self._new_nonce(), self.opaque)
            if self.qop:
                value += ', qop="auth"'
            if stale:
                value += ", stale=true"
            return [value]
        return []

    def check(self, method, target, header):
        if self.mode == "none":
            return True, [], "", "none"
        if not header:
            return False, self.challenge(), "no credentials", "none"
        scheme, _, rest = header.strip().partition(" ")
        scheme = scheme.lower()
        if self.mode == "basic":
            if scheme != "basic":
                return False, self.challenge(), "scheme %s refused" % scheme, scheme
            try:
                decoded = base64.b64decode(rest.strip(), validate=True).decode("utf-8")
            except (ValueError, UnicodeDecodeError):
                return False, self.challenge(), "malformed Basic credentials", "basic"
            user, sep, password = decoded.partition(":")
            if sep and hmac.compare_digest(user, self.user) and hmac.compare_digest(password, self.password):
                return True, [], "", "basic"
            return False, self.challenge(), "wrong user or password", "basic"
        if scheme != "digest":
            return False, self.challenge(), "scheme %s refused" % scheme, scheme
        return self._check_digest(method, target, rest)

    def _check_digest(self, method, target, rest):
        params = parse_auth_params(rest)
        if params is None:
            return False, self.challenge(), "malformed Digest credentials", "digest"
        for field in ("username", "realm", "nonce", "uri", "response"):
            if field not in params:
                return False, self.challenge(), "Digest credentials without %s" % field, "digest"
        if params["uri"] != target:
            return False, [], "Digest uri %s does not match the request" % params["uri"], "digest-uri"
        algorithm = params.get("algorithm", "MD5")
        if algorithm.upper() != "MD5" or params["realm"] != self.realm or params["username"] != self.user:
            return False, self.challenge(), "wrong user, realm or algorithm", "digest"
        ha1 = md5_hex("%s:%s:%s" % (self.user, self.realm, self.password))
        ha2 = md5_hex("%s:%s" % (method, params["uri"]))
        qop = params.get("qop")
        if qop:
            if qop != "auth" or "nc" not in params or "cnonce" not in params:
                return False, self.challenge(), "unsupported qop %s" % qop, "digest"
            expected = md5_hex("%s:%s:%s:%s:%s:%s" % (ha1, params["nonce"], params["nc"], params["cnonce"], qop, ha2))
        else:
            expected = md5_hex("%s:%s:%s" % (ha1, params["nonce"], ha2))
        if not hmac.compare_digest(expected, params["response"].lower()):
            return False, self.challenge(), "wrong user or password", "digest"
        state = self._nonce_state(params["nonce"])
        if state != "fresh":
            return False, self.challenge(stale=True), "%s nonce" % state, "digest"
        return True, [], "", "digest"
