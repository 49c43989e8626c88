#!/usr/bin/python3
"""Mock of the zunaro cloud service, for tests and the simulated router.

Serves, by HTTP POST with basic authentication:
  /api/softlogin     raw exchange, body "token=<api token>&gid=757"  -> "|"-separated login text
  /api/forceoffline  JSON exchange, body "mad=<device id>&gid=757"   -> {"code": N}
  /api/cfgcontrol    raw exchange                                     -> <servers> XML
  /api/gamelist      raw exchange                                     -> <games> XML

Usage:
  mockcloud.py --scenario FILE --log FILE --listen ADDR:PORT [--listen ADDR:PORT ...]
               [--ready FILE] [--pidfile FILE]

Every --listen address is served by its own listener (e.g. one per cloud server address). A
server that should be unreachable is simply not given. The ready file is written once every
listener is bound. The scenario is read again on SIGHUP and whenever its modification time
changes (checked on each request), so a test can change behaviour mid-run.

Request log: one JSON object per line, appended to the --log file when the request has been
read and before it is answered:
  {"server": "127.0.0.2:80", "path": "/api/softlogin", "user": "alice", "password": "pw",
   "authorization": "Basic YWxpY2U6cHc=", "auth": true, "body": "token=...&gid=757",
   "form": {"token": "...", "gid": "757"}, "mode": "normal", "time": 1700000000.0}

Scenario file (JSON object; every member optional):
  {
    "token": "3f7a1c9e5b2d4086a1e3c5f7092b4d6e",   # expected API token of the raw exchange
    "gid": 757,                                      # expected game id
    "accounts": {
      "alice": {
        "password": "secret",
        "verdict": "Y",              # field 0 of the login reply ("N" refuses)
        "expire": "2025-06-30_23:59:59",
        "type": 100,
        "server_time": "2025-06-01_08:00:00",
        "pay_state": 1,
        "public_ip": "203.0.113.7",
        "onlines": 0,                # non-zero: tunnel in use by another device
        "login_reply": "Y|...",      # optional: the whole login reply text as is
        "force_offline_code": 0,     # "code" of /api/forceoffline; 0 also clears onlines
        "nodes": [...],              # optional: this account's node list instead of the global one
        "nodes_xml": "<servers/>",   # optional: raw node list reply
        "games": [...], "games_xml": "..."
      }
    },
    "nodes": [ {"id": 1, "serverip": "198.51.100.1", "servername": "tokyo-1", "level": 0,
                "openvport": 1194, "servermemo": "", "openvpndev": "tun", "protocal": 1} ],
    "nodes_xml": "...",              # optional raw reply instead of "nodes"
    "games": [ {"gid": 757, "routes": ["203.0.113.0:255.255.255.0"], "gsroute": ["a|b"]} ],
    "games_xml": "...",
    "servers": {                     # behaviour per listener, keyed "ADDR:PORT" or "ADDR"
      "127.0.0.2:80": {
        "mode": "normal",            # default mode of this listener
        "paths": {"/api/cfgcontrol": "malformed"},   # mode per API path
        "delay": 12                  # seconds for mode "slow" (default 12)
      }
    },
    "default": {"mode": "normal"}    # behaviour of listeners not named under "servers"
  }

Modes (how a real service fails):
  normal     the answer of the scenario
  slow       the normal answer after "delay" seconds (beyond curl's 10-second limit)
  empty      status 200 with an empty body
  error      status 500 with an HTML error page
  truncated  the normal answer cut to half its length (Content-Length of the cut body)
  cut        the normal answer announced in full but cut off by closing the connection
  malformed  status 200 with a body that is neither XML nor JSON nor a login text
  refuse     a refusal by the service: login "N", force-offline code 3, node/game list with
             another root element
  close      the connection is closed without any answer

Unknown users or wrong passwords are refused the way the service refuses them: login "N",
force-offline code 3, and status 401 for the lists.
"""

import argparse
import base64
import json
import os
import signal
import socketserver
import sys
import threading
import time
import http.server
from urllib.parse import parse_qs
from xml.sax.saxutils import escape

DEFAULT_TOKEN = "3f7a1c9e5b2d4086a1e3c5f7092b4d6e"
ERROR_PAGE = (b"<html>\r\n<head><title>500 Internal Server Error</title></head>\r\n<body>\r\n"
              b"<center><h1>500 Internal Server Error</h1></center>\r\n<hr><center>web</center>\r\n"
              b"</body>\r\n</html>\r\n")
MALFORMED = b"<servers><server><id>1</id><<<\x01{\"code\": oops"
NODE_FIELDS = ("id", "serverip", "servername", "level", "openvport", "servermemo", "openvpndev", "protocal")


class Scenario:
    """The scenario file, read again when it changes or on SIGHUP."""

    def __init__(self, path):
        self.path = path
        self.lock = threading.Lock()
        self.mtime = None
        self.data = {}
        self.reload()

    def reload(self):
        with self.lock:
            try:
                mtime = os.stat(self.path).st_mtime_ns
                with open(self.path, encoding="utf-8") as f:
                    self.data = json.load(f)
                self.mtime = mtime
            except (OSError, ValueError) as e:
                print("mockcloud: cannot read scenario %s: %s" % (self.path, e), file=sys.stderr)

    def current(self):
        try:
            mtime = os.stat(self.path).st_mtime_ns
        except OSError:
            mtime = self.mtime
        if mtime != self.mtime:
            self.reload()
        return self.data


def nodes_xml(nodes):
    out = ["<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<servers>\n"]
    for node in nodes:
        out.append("  <server>\n")
        for key in NODE_FIELDS:
            if key in node:
                out.append("    <%s>%s</%s>\n" % (key, escape(str(node[key])), key))
        out.append("  </server>\n")
    out.append("</servers>\n")
    return "".join(out)


def games_xml(games):
    out = ["<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<games>\n"]
    for game in games:
        out.append("  <game>\n    <gid>%s</gid>\n" % escape(str(game.get("gid", ""))))
        if "name" in game:
            out.append("    <gname>%s</gname>\n" % escape(str(game["name"])))
        texts = list(game.get("gsroute", []))
        if game.get("routes"):
            texts.insert(0, "|".join(game["routes"]))
        for text in texts:
            out.append("    <gsroute>%s</gsroute>\n" % escape(text))
        out.append("  </game>\n")
    out.append("</games>\n")
    return "".join(out)


def login_text(acc):
    if "login_reply" in acc:
        return acc["login_reply"]
    fields = [
        acc.get("verdict", "Y"), acc.get("expire", "2099-12-31_23:59:59"), "x",
        str(acc.get("type", 0)), "x", acc.get("server_time", time.strftime("%Y-%m-%d_%H:%M:%S")),
        str(acc.get("pay_state", 0)), "x", acc.get("public_ip", "203.0.113.7"), str(acc.get("onlines", 0)),
    ]
    return "|".join(fields)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "cloud"
    sys_version = ""

    def log_message(self, fmt, *args):
        pass

    # --- request -------------------------------------------------------------------------
    def credentials(self):
        auth = self.headers.get("Authorization", "")
        if not auth.startswith("Basic "):
            return None, None
        try:
            raw = base64.b64decode(auth[6:].strip()).decode("utf-8", "replace")
        except ValueError:
            return None, None
        user, _, password = raw.partition(":")
        return user, password

    def behaviour(self, scen):
        listen = self.server.listen_name
        servers = scen.get("servers", {})
        conf = servers.get(listen) or servers.get(listen.rsplit(":", 1)[0]) or scen.get("default", {})
        mode = conf.get("paths", {}).get(self.path, conf.get("mode", "normal"))
        return mode, float(conf.get("delay", 12))

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0") or 0)
        body = self.rfile.read(length).decode("utf-8", "replace") if length > 0 else ""
        scen = self.server.scenario.current()
        user, password = self.credentials()
        accounts = scen.get("accounts", {})
        acc = accounts.get(user) if user is not None else None
        authed = acc is not None and acc.get("password", "") == password
        mode, delay = self.behaviour(scen)
        form = {k: v[0] for k, v in parse_qs(body, keep_blank_values=True).items()}
        self.server.log_request_line({
            "server": self.server.listen_name, "path": self.path, "user": user, "password": password,
            "authorization": self.headers.get("Authorization", ""), "auth": authed, "body": body, "form": form,
            "mode": mode, "time": time.time(),
        })

        if mode == "close":
            self.close_connection = True
            return
        if mode == "empty":
            return self.answer(200, b"")
        if mode == "error":
            return self.answer(500, ERROR_PAGE, "text/html")
        if mode == "malformed":
            return self.answer(200, MALFORMED)

        status, payload, ctype = self.normal_answer(scen, acc, authed, form, refuse=(mode == "refuse"))
        if mode == "slow":
            time.sleep(delay)
        if mode == "truncated":
            payload = payload[:len(payload) // 2]
        if mode == "cut":
            return self.answer_cut(status, payload, ctype)
        return self.answer(status, payload, ctype)

    # --- answers -------------------------------------------------------------------------
    def normal_answer(self, scen, acc, authed, form, refuse):
        token_ok = form.get("token") == scen.get("token", DEFAULT_TOKEN)
        gid_ok = form.get("gid") == str(scen.get("gid", 757))
        if self.path == "/api/softlogin":
            if refuse or not authed or not token_ok:
                return 200, b"N|||0||||||0", "text/plain"
            return 200, login_text(acc).encode(), "text/plain"
        if self.path == "/api/forceoffline":
            if refuse or not authed:
                code = 3
            elif not gid_ok:
                code = 1
            else:
                code = int(acc.get("force_offline_code", 0))
                if code == 0:
                    acc["onlines"] = 0   # kept until the scenario is read again
            return 200, json.dumps({"code": code, "msg": "force offline"}).encode(), "application/json"
        if self.path in ("/api/cfgcontrol", "/api/gamelist"):
            if not authed or not token_ok:
                return 401, b"Unauthorized\n", "text/plain"
            if refuse:
                return 200, b"<?xml version=\"1.0\"?>\n<error>access denied</error>\n", "text/xml"
            return 200, self.list_reply(scen, acc).encode(), "text/xml"
        return 404, b"Not Found\n", "text/plain"

    def list_reply(self, scen, acc):
        kind = "nodes" if self.path == "/api/cfgcontrol" else "games"
        render = nodes_xml if kind == "nodes" else games_xml
        for source in (acc, scen):
            if kind + "_xml" in source:
                return source[kind + "_xml"]
            if kind in source:
                return render(source[kind])
        return render([])

    def answer(self, status, payload, ctype="text/plain"):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(payload)))
        self.end_headers()
        self.wfile.write(payload)

    def answer_cut(self, status, payload, ctype):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(payload) + 64))
        self.end_headers()
        self.wfile.write(payload[:max(1, len(payload) // 2)])
        self.wfile.flush()
        self.close_connection = True


class Listener(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, addr, scenario, log):
        super().__init__(addr, Handler)
        self.listen_name = "%s:%d" % addr
        self.scenario = scenario
        self.log = log

    def log_request_line(self, entry):
        self.log(entry)


def main():
    ap = argparse.ArgumentParser(description="mock cloud service")
    ap.add_argument("--scenario", required=True)
    ap.add_argument("--log", required=True)
    ap.add_argument("--listen", action="append", required=True, help="ADDR:PORT, may be repeated")
    ap.add_argument("--ready")
    ap.add_argument("--pidfile")
    args = ap.parse_args()

    scenario = Scenario(args.scenario)
    log_lock = threading.Lock()

    def log(entry):
        with log_lock, open(args.log, "a", encoding="utf-8") as f:
            f.write(json.dumps(entry) + "\n")

    listeners = []
    for where in args.listen:
        host, _, port = where.rpartition(":")
        listeners.append(Listener((host, int(port)), scenario, log))
    for srv in listeners:
        threading.Thread(target=srv.serve_forever, daemon=True).start()

    stop = threading.Event()
    signal.signal(signal.SIGHUP, lambda *_: scenario.reload())
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    if args.pidfile:
        with open(args.pidfile, "w") as f:
            f.write("%d\n" % os.getpid())
    if args.ready:
        with open(args.ready, "w") as f:
            f.write("ready\n")
    while not stop.wait(0.5):
        pass
    for srv in listeners:
        srv.shutdown()
        srv.server_close()


if __name__ == "__main__":
    main()
