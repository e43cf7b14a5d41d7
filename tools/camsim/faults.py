"""Fault injection rules for the CGI server and the RTSP server.

A rule is written "<target> <action>[=<value>] ..." on the command line, or given as query terms of a
control request. HTTP rules match requests whose target (path and query exactly as sent) begins with
<target> ("*" matches every request), and all matching rules act together; RTSP rules name a stream path ("h264", "jpeg", ... or "*").
"""

import threading
import time

HTTP_ACTIONS = {
    "status": int,       # answer with this HTTP status
    "body": str,         # answer with this body instead of the normal one
    "empty": None,       # answer 200 with an empty body
    "hang": float,       # read the request and never answer (optional: for that many seconds, then close)
    "delay": int,        # wait this many milliseconds before answering
    "slow": int,         # send the body in 16-byte pieces, this many milliseconds apart
    "close": None,       # close the connection without an answer
    "runtogether": None, # parameter lists without line breaks between entries
    "interim": int,      # send this many "100 Continue" interim answers first, one a second
    "trickle": int,      # send the whole answer, status line and headers too, a byte every this many ms
    "count": int,        # the rule applies to this many requests, then disappears
}

RTSP_ACTIONS = {
    "stall": float,      # stop sending video for this many seconds
    "after": float,      # ... starting this many seconds after PLAY (stall and close)
    "drop": int,         # drop every n-th RTP packet
    "reorder": int,      # send every n-th RTP packet after the one that follows it
    "close": None,       # close the RTSP connection (at once, or "after" seconds after PLAY)
    "bye": None,         # stop the video and send an RTCP BYE (at once, or "after" seconds after PLAY)
    "late": float,       # fraction of RTP packets sent 1 to 15 ms late (random, seeded)
    "dup": float,        # fraction of RTP packets sent twice
    "loss": float,       # fraction of RTP packets lost
    "seed": int,         # seed of the late, dup and loss choices (default 1)
    "refuse": str,       # answer a request method with a status, e.g. SETUP:503 or DESCRIBE:404
    "count": int,        # the rule applies to this many streams (refuse: requests), then disappears
}

FRACTIONS = ("late", "dup", "loss")
RTSP_METHODS = ("DESCRIBE", "SETUP", "PLAY", "OPTIONS", "TEARDOWN")


class FaultError(ValueError):
    pass


def _convert(actions, key, value):
    if key not in actions:
        raise FaultError("unknown fault action %r (known: %s)" % (key, ", ".join(sorted(actions))))
    kind = actions[key]
    if kind is None:
        if value not in (None, "", "1", "true", "yes"):
            raise FaultError("fault action %r takes no value" % key)
        return True
    if value is None:
        if key == "hang":
            return 0.0
        raise FaultError("fault action %r needs a value" % key)
    try:
        converted = kind(value)
    except ValueError:
        raise FaultError("bad value %r for fault action %r" % (value, key)) from None
    if kind in (int, float) and converted < 0:
        raise FaultError("fault action %r needs a value of at least 0" % key)
    if key in FRACTIONS and converted > 1:
        raise FaultError("fault action %r is a fraction from 0 to 1" % key)
    return converted


def parse_terms(actions, terms):
    """terms: [(key, value or None)] -> dict of converted actions."""
    result = {}
    for key, value in terms:
        result[key] = _convert(actions, key, value)
    return result


def parse_spec(actions, spec):
    """"<target> action[=value] ..." -> (target, dict)."""
    words = spec.split()
    if len(words) < 2:
        raise FaultError("a fault is '<target> <action>[=<value>] ...', got %r" % spec)
    terms = []
    for word in words[1:]:
        key, sep, value = word.partition("=")
        terms.append((key, value if sep else None))
    return words[0], parse_terms(actions, terms)


class HttpFaults:
    """The active HTTP rules."""

    def __init__(self):
        self._rules = []
        self._lock = threading.Lock()

    def add(self, target, actions):
        if not set(actions) - {"count"}:
            raise FaultError("a fault needs an action besides count")
        with self._lock:
            self._rules.append({"target": target, "actions": dict(actions), "hits": 0})

    def clear(self, target=None):
        with self._lock:
            self._rules = [rule for rule in self._rules if target is not None and rule["target"] != target]

    def take(self, request_target):
        """The combined actions of every rule that matches this request (a later rule overrides the
        same action of an earlier one), consuming one use of each counted rule; None when none
        matches."""
        combined = None
        with self._lock:
            for rule in list(self._rules):
                if rule["target"] == "*" or request_target.startswith(rule["target"]):
                    combined = dict(combined or {}, **rule["actions"])
                    rule["hits"] += 1
                    count = rule["actions"].get("count")
                    if count is not None and rule["hits"] >= count:
                        self._rules.remove(rule)
        return combined

    def describe(self):
        with self._lock:
            return [dict(rule) for rule in self._rules]


class RtspFaults:
    """The active RTSP rules by stream path. Stalls and closes given without "after" act at once on
    the running streams (and on streams started while a stall lasts)."""

    def __init__(self):
        self._rules = []
        self._lock = threading.Lock()

    def add(self, path, actions, immediate=False):
        """immediate (control requests): a stall without "after" starts now and covers the running
        streams; otherwise stalls and closes apply to each stream that starts, "after" seconds
        (default 0) after its PLAY."""
        actions = dict(actions)
        if not set(actions) - {"count", "after"}:
            raise FaultError("an RTSP fault needs an action besides count and after")
        if "refuse" in actions:
            method, sep, code = actions["refuse"].partition(":")
            method = method.upper()
            if method not in RTSP_METHODS or not sep or not code.isdigit() or not 300 <= int(code) <= 599:
                raise FaultError("refuse is METHOD:STATUS with METHOD one of %s, e.g. SETUP:503" % ", ".join(RTSP_METHODS))
            actions["refuse"] = (method, int(code))
        rule = {"path": path.strip("/"), "actions": actions, "hits": 0, "added": time.monotonic()}
        if immediate and "stall" in actions and "after" not in actions:
            rule["stall_until"] = rule["added"] + actions["stall"]
        with self._lock:
            self._rules.append(rule)
        return rule

    def clear(self, path=None):
        with self._lock:
            self._rules = [rule for rule in self._rules if path is not None and rule["path"] != path.strip("/")]

    def _matching(self, path):
        return [rule for rule in self._rules if rule["path"] in ("*", path)]

    def refusal(self, path, method):
        """Status code to answer a request with, or None."""
        with self._lock:
            for rule in reversed(self._matching(path)):
                refuse = rule["actions"].get("refuse")
                if refuse and refuse[0] == method:
                    rule["hits"] += 1
                    count = rule["actions"].get("count")
                    if count is not None and rule["hits"] >= count:
                        self._rules.remove(rule)
                    return refuse[1]
        return None

    def stream_plan(self, path):
        """Fault settings for a stream that starts now: dict with drop, reorder, stall (after, seconds),
        close_after, bye_after, late, dup, loss, seed. Counted rules are consumed."""
        plan = {"drop": 0, "reorder": 0, "stall": None, "close_after": None, "bye_after": None,
                "late": 0.0, "dup": 0.0, "loss": 0.0, "seed": 1}
        with self._lock:
            for rule in self._matching(path):
                actions = rule["actions"]
                if "refuse" in actions:
                    continue
                if "drop" in actions:
                    plan["drop"] = actions["drop"]
                if "reorder" in actions:
                    plan["reorder"] = actions["reorder"]
                if "stall" in actions and "stall_until" not in rule:
                    plan["stall"] = (actions.get("after", 0.0), actions["stall"])
                if "close" in actions:
                    plan["close_after"] = actions.get("after", 0.0)
                if "bye" in actions:
                    plan["bye_after"] = actions.get("after", 0.0)
                for key in FRACTIONS + ("seed",):
                    plan[key] = actions.get(key, plan[key])
                count = actions.get("count")
                if count is not None:
                    rule["hits"] += 1
                    if rule["hits"] >= count:
                        self._rules.remove(rule)
        return plan

    def live_stall_until(self, path):
        """The end of an immediate stall that covers this path, or 0. Stalls that have ended and
        carry no other action are dropped."""
        now = time.monotonic()
        with self._lock:
            self._rules = [rule for rule in self._rules
                           if rule.get("stall_until", now + 1) > now or set(rule["actions"]) - {"stall", "count"}]
            ends = [rule.get("stall_until", 0) for rule in self._matching(path)]
        return max(ends, default=0)

    def live_drop_reorder(self, path):
        """Immediate drop and reorder settings (rules without a count act on running streams too)."""
        drop = reorder = 0
        with self._lock:
            for rule in self._matching(path):
                if "count" in rule["actions"]:
                    continue
                drop = rule["actions"].get("drop", drop)
                reorder = rule["actions"].get("reorder", reorder)
        return drop, reorder

    def describe(self):
        with self._lock:
            out = []
            for rule in self._rules:
                actions = dict(rule["actions"])
                if "refuse" in actions:
                    actions["refuse"] = "%s:%d" % actions["refuse"]
                out.append({"path": rule["path"], "actions": actions, "hits": rule["hits"]})
            return out
