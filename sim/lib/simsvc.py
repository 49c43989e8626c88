#!/usr/bin/python3
"""Simulated services of the router: the init scripts of the OpenVPN and IPsec clients, netifd's
ifup/ifdown for the interface "vpn" (L2TP and PPTP) and the LED init script.

Runs inside the router (its mount and network namespaces). A tunnel is made for real: a veth pair
whose router end carries the tunnel's interface name and a point-to-point address, and whose far
end lives in the internet namespace, which holds the public resolvers. Both ends share one MAC
address and resolve no neighbours, so whatever the router routes into the tunnel device reaches
the internet namespace, as through a real tunnel.

A dial succeeds only when the node it names is one of the internet's acceleration nodes and is
reachable, the WAN is up, the credentials belong to an account of the cloud scenario (unless the
sim was started without that check) and no fault says otherwise. It takes as long as on a router
(DIAL_TIMES, unless a fault sets the time). As on the router, a start of the OpenVPN or IPsec
service leaves a running or dialing tunnel alone unless its configuration changed, while ifup
always dials again: netifd takes the interface down and up, which ends a dial in progress. The
interface "vpn" has netifd's interface events: its scripts run when its device comes and goes.
Every invocation is logged, with the values the service read, as one JSON object per line to
log/services.log of the sim state.

    simsvc.py openvpn|ipsec start|stop|restart|status
    simsvc.py ifup [-w] IFACE  |  simsvc.py ifdown IFACE
    simsvc.py led reload|start|restart|stop
    simsvc.py drop KIND            (a fault: the tunnel of KIND goes away now)
    simsvc.py state                (tunnel devices that are up, one "KIND DEVICE" per line)
"""

import fcntl
import json
import os
import random
import re
import shlex
import subprocess
import sys
import time

import hotplug

STATE = "/run/zunaro-sim"
INET_NS = STATE + "/ns/inet.net"
SVC_DIR = STATE + "/svc"
FAULT_DIR = STATE + "/fault"
LOG = STATE + "/log/services.log"
UCI_DIR = "/etc/config"
USERPASS = "/etc/openvpn/userpass.txt"
IPSEC_CONF = "/etc/ipsec.conf"
IPSEC_SECRETS = "/etc/ipsec.secrets"
LED_DIR = "/sys/class/leds"

# Tunnel kinds: service that runs them, far-end name, point-to-point addresses (router, far end).
KINDS = {
    "openvpn": {"service": "openvpn", "index": 1, "far": "tnl-openvpn", "local": "10.8.0.2", "peer": "10.8.0.1"},
    "ipsec": {"service": "ipsec", "index": 2, "far": "tnl-ipsec", "local": "10.9.0.2", "peer": "10.9.0.1"},
    "l2tp": {"service": "vpn", "index": 3, "far": "tnl-l2tp", "local": "10.10.0.2", "peer": "10.10.0.1"},
    "pptp": {"service": "vpn", "index": 4, "far": "tnl-pptp", "local": "10.11.0.2", "peer": "10.11.0.1"},
}
SERVICE_KINDS = {"openvpn": ["openvpn"], "ipsec": ["ipsec"], "vpn": ["l2tp", "pptp"]}
# How long a dial takes on a router, in seconds (uniformly within the range), when no fault says.
DIAL_TIMES = {"openvpn": (1.0, 3.0), "ipsec": (1.0, 3.0), "l2tp": (2.0, 5.0), "pptp": (2.0, 5.0)}


# --- small helpers ------------------------------------------------------------------------------

def settings():
    """The sim's settings (sim.env: KEY=VALUE lines, values shell-quoted)."""
    out = {}
    try:
        with open(STATE + "/sim.env", encoding="utf-8") as f:
            for line in f:
                words = shlex.split(line, comments=True)
                if words and "=" in words[0]:
                    key, _, value = words[0].partition("=")
                    out[key] = value
    except OSError:
        pass
    return out


def read_text(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()
    except OSError:
        return None


def write_text(path, text):
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(tmp, path)


def log(entry):
    entry = dict(entry)
    entry["time"] = time.strftime("%Y-%m-%dT%H:%M:%S")
    os.makedirs(os.path.dirname(LOG), exist_ok=True)
    with open(LOG, "a", encoding="utf-8") as f:
        f.write(json.dumps(entry) + "\n")


def run(argv, inet=False):
    if inet:
        argv = ["nsenter", "--net=" + INET_NS, "--"] + argv
    return subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, check=False)


class Lock:
    """Serialises the start, stop and timers of one service."""

    def __init__(self, service):
        os.makedirs(SVC_DIR, exist_ok=True)
        self.fd = os.open("%s/%s.lock" % (SVC_DIR, service), os.O_RDWR | os.O_CREAT, 0o644)

    def __enter__(self):
        fcntl.flock(self.fd, fcntl.LOCK_EX)
        return self

    def __exit__(self, *exc):
        fcntl.flock(self.fd, fcntl.LOCK_UN)
        os.close(self.fd)


# --- UCI ----------------------------------------------------------------------------------------

def uci_statements(text):
    """Statements of a UCI file as lists of words: 'single quoted' text is literal, "double
    quoted" text and bare words take the character after a backslash literally, '#' at the start
    of a word starts a comment."""
    stmts, words, cur, i, n = [], [], None, 0, len(text)
    while i < n:
        c = text[i]
        if c == "\n" or c in " \t\r":
            if cur is not None:
                words.append(cur)
                cur = None
            if c == "\n" and words:
                stmts.append(words)
                words = []
            i += 1
        elif c == "#" and cur is None:
            while i < n and text[i] != "\n":
                i += 1
        elif c == "'":
            end = text.find("'", i + 1)
            if end < 0:
                raise ValueError("unterminated single quote")
            cur = (cur or "") + text[i + 1:end]
            i = end + 1
        elif c == '"':
            cur = cur or ""
            i += 1
            while i < n and text[i] != '"':
                if text[i] == "\\" and i + 1 < n:
                    i += 1
                cur += text[i]
                i += 1
            if i >= n:
                raise ValueError("unterminated double quote")
            i += 1
        elif c == "\\" and i + 1 < n:
            if text[i + 1] != "\n":
                cur = (cur or "") + text[i + 1]
            i += 2
        else:
            cur = (cur or "") + c
            i += 1
    if cur is not None:
        words.append(cur)
    if words:
        stmts.append(words)
    return stmts


def uci_get(package, section, option):
    """The value of a plain option of a named section, or None."""
    text = read_text(os.path.join(UCI_DIR, package))
    if text is None:
        return None
    try:
        stmts = uci_statements(text)
    except ValueError:
        return None
    current, value = None, None
    for words in stmts:
        if words[0] == "config":
            current = words[2] if len(words) > 2 else None
        elif words[0] == "option" and len(words) > 2 and current == section and words[1] == option:
            value = words[2]
    return value


# --- checks -------------------------------------------------------------------------------------

def fault(kind):
    """Fault settings of a kind: {"never": bool, "delay": seconds, "lifetime": seconds}; the delay
    is the kind's dial time unless a fault sets it."""
    out = {"never": False, "delay": random.uniform(*DIAL_TIMES[kind]), "lifetime": 0.0}
    for line in (read_text("%s/%s" % (FAULT_DIR, kind)) or "").splitlines():
        words = line.split()
        if words == ["never"]:
            out["never"] = True
        elif len(words) == 2 and words[0] in ("delay", "lifetime"):
            out[words[0]] = float(words[1])
    return out


def wan_down():
    return (read_text(FAULT_DIR + "/wan") or "").strip() == "down"


def inet_addresses():
    res = run(["ip", "-4", "-o", "addr", "show", "dev", "lo"], inet=True)
    return set(re.findall(r"inet (\d+\.\d+\.\d+\.\d+)/", res.stdout))


def node_known(addr, conf):
    nodes = conf.get("NODES", "").split()
    return addr in nodes and addr in inet_addresses()


def credentials_ok(user, password, conf):
    if conf.get("CHECK_CREDENTIALS", "1") != "1":
        return True
    try:
        with open(STATE + "/scenario.json", encoding="utf-8") as f:
            accounts = json.load(f).get("accounts")
    except (OSError, ValueError):
        return True
    if not isinstance(accounts, dict):
        return True
    acc = accounts.get(user)
    return isinstance(acc, dict) and acc.get("password", "") == password


# --- what the services read ---------------------------------------------------------------------

def openvpn_request():
    remote = uci_get("openvpn", "zunaro", "remote")
    dev = uci_get("openvpn", "zunaro", "dev") or "tun"
    lines = (read_text(USERPASS) or "").split("\n")
    node, _, port = (remote or "").strip().partition(" ")
    return {
        "remote": remote, "dev": dev, "user": lines[0] if lines else "",
        "password": lines[1] if len(lines) > 1 else "", "node": node, "port": port.strip(),
        "device": dev if dev[-1:].isdigit() else dev + "0",
    }


def ipsec_request():
    conf = read_text(IPSEC_CONF) or ""
    ident = re.search(r"^\s*eap_identity=(.*)$", conf, re.M)
    right = re.search(r"^\s*right=(.*)$", conf, re.M)
    user, password = "", ""
    for line in (read_text(IPSEC_SECRETS) or "").splitlines():
        m = re.match(r'^(.*) : EAP "(.*)"\s*$', line)
        if m:
            user, password = m.group(1), m.group(2)
    return {
        "eap_identity": ident.group(1) if ident else None, "right": right.group(1) if right else None,
        "user": user, "password": password, "node": right.group(1).strip() if right else "",
        "device": "ipsec0",
    }


def vpn_request():
    proto = uci_get("network", "vpn", "proto")
    req = {"proto": proto}
    for opt in ("server", "username", "password", "auto"):
        req[opt] = uci_get("network", "vpn", opt)
    req.update({"user": req["username"] or "", "node": (req["server"] or "").strip(),
                "device": "%s-vpn" % proto})
    return req


# --- tunnel devices -----------------------------------------------------------------------------

def link_exists(name):
    return bool(name) and run(["ip", "link", "show", "dev", name]).returncode == 0


def link_index(name):
    try:
        with open("/sys/class/net/%s/ifindex" % name, encoding="ascii") as f:
            return f.read().strip()
    except OSError:
        return ""


def create_tunnel(kind, name):
    """Makes the tunnel device; returns None, or the error text."""
    k = KINDS[kind]
    mac = "02:5a:7e:00:%02x:01" % k["index"]
    steps = [
        (["ip", "link", "add", name, "type", "veth", "peer", "name", k["far"], "netns", INET_NS], False),
        (["ip", "link", "set", "dev", name, "address", mac, "arp", "off", "mtu", "1400"], False),
        (["ip", "link", "set", "dev", k["far"], "address", mac, "arp", "off", "mtu", "1400"], True),
        (["ip", "addr", "add", k["peer"], "peer", k["local"], "dev", k["far"]], True),
        (["ip", "link", "set", "dev", k["far"], "up"], True),
        (["ip", "addr", "add", k["local"], "peer", k["peer"], "dev", name], False),
        (["ip", "link", "set", "dev", name, "up"], False),
    ]
    for argv, inet in steps:
        res = run(argv, inet=inet)
        if res.returncode != 0:
            run(["ip", "link", "del", "dev", name])
            return "%s: %s" % (" ".join(argv), res.stderr.strip())
    # The kernel passes traffic only once it has noticed the carrier (which it may defer for up to
    # a second); the device counts as up from then on.
    deadline = time.monotonic() + 3
    while read_text("/sys/class/net/%s/operstate" % name) != "up\n" and time.monotonic() < deadline:
        time.sleep(0.02)
    write_text("%s/%s.dev" % (SVC_DIR, k["service"]), "%s %s %s\n" % (kind, name, link_index(name)))
    if k["service"] == "vpn":
        hotplug.queue("ifup", "vpn", name)
    return None


def current_tunnel(service):
    """(kind, device, ifindex) recorded for a service, or None."""
    words = (read_text("%s/%s.dev" % (SVC_DIR, service)) or "").split()
    return tuple(words) if len(words) == 3 else None


def remove_tunnel(service):
    """Removes the service's device; returns its name when there was one."""
    cur = current_tunnel(service)
    try:
        os.unlink("%s/%s.dev" % (SVC_DIR, service))
    except OSError:
        pass
    if cur and link_exists(cur[1]):
        run(["ip", "link", "del", "dev", cur[1]])
        if service == "vpn":
            hotplug.queue("ifdown", "vpn")
        return cur[1]
    return None


def next_generation(service):
    """Counts starts and stops of a service; a timer acts only for the generation it was made in."""
    path = "%s/%s.gen" % (SVC_DIR, service)
    gen = int((read_text(path) or "0").strip() or 0) + 1
    write_text(path, "%d\n" % gen)
    return gen


def generation(service):
    return int((read_text("%s/%s.gen" % (SVC_DIR, service)) or "0").strip() or 0)


def pending_path(service):
    return "%s/%s.pending" % (SVC_DIR, service)


def dial_pending(service):
    """A delayed dial of the service's current generation has not come up yet."""
    return (read_text(pending_path(service)) or "").strip() == str(generation(service))


def spawn_timer(kind, name, gen, delay, lifetime):
    subprocess.Popen([sys.executable, os.path.abspath(__file__), "_timer", kind, name, str(gen),
                      str(delay), str(lifetime)],
                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                     close_fds=True, start_new_session=True)


def timer(kind, name, gen, delay, lifetime):
    """Background part of a start: brings the device up after a delay, drops it after its lifetime."""
    service = KINDS[kind]["service"]
    gen = int(gen)
    if float(delay) > 0:
        time.sleep(float(delay))
        with Lock(service):
            if dial_pending(service):
                os.unlink(pending_path(service))
            if generation(service) != gen:
                # Logged, so that a test can wait for the moment the dial would have come up.
                log({"service": service, "kind": kind, "action": "delayed-up", "device": name,
                     "result": "cancelled"})
                return
            if wan_down():
                log({"service": service, "kind": kind, "action": "delayed-up", "result": "no-wan"})
                return
            err = create_tunnel(kind, name)
            # With the values of the dial, as a dial that comes up at once logs them.
            entry = {"service": service, "kind": kind, "action": "delayed-up"}
            try:
                entry.update(json.loads(read_text(request_path(service)) or "{}"))
            except ValueError:
                pass
            entry.update({"device": name, "result": "error" if err else "up"})
            if err:
                entry["error"] = err
            log(entry)
            if err:
                return
    if float(lifetime) > 0:
        time.sleep(float(lifetime))
        with Lock(service):
            cur = current_tunnel(service)
            if generation(service) != gen or not cur or cur[1] != name:
                return
            remove_tunnel(service)
            log({"service": service, "kind": kind, "action": "drop", "device": name, "result": "dropped"})


def request_path(service):
    return "%s/%s.req" % (SVC_DIR, service)


def request_text(req):
    return json.dumps(req, sort_keys=True) + "\n"


def instance_running(service, kind, req):
    """An init script's start leaves a running instance, dialing or up, alone when its
    configuration is the one it was started with (only a changed configuration restarts it);
    netifd's ifup always dials again."""
    if service == "vpn":
        return False
    cur = current_tunnel(service)
    return bool(read_text(request_path(service)) == request_text(req) and
                ((cur and cur[0] == kind and link_exists(cur[1])) or dial_pending(service)))


def start(kind, req, action="start"):
    """Dials: checks the request, then makes the device now or from a timer."""
    conf = settings()
    service = KINDS[kind]["service"]
    f = fault(kind)
    entry = {"service": service, "kind": kind, "action": action}
    entry.update(req)
    with Lock(service):
        if action == "start" and instance_running(service, kind, req):
            entry["result"] = "running"
            log(entry)
            return 0
        write_text(request_path(service), request_text(req))
        gen = next_generation(service)
        remove_tunnel(service)
        name = req["device"]
        if not req.get("node"):
            result = "bad-config"
        elif wan_down():
            result = "no-wan"
        elif not node_known(req["node"], conf):
            result = "no-node"
        elif not credentials_ok(req.get("user", ""), req.get("password", ""), conf):
            result = "bad-credentials"
        elif f["never"]:
            result = "never"
        elif f["delay"] > 0:
            result = "delayed"
            entry["delay"] = round(f["delay"], 2)
            write_text(pending_path(service), "%d\n" % gen)
            spawn_timer(kind, name, gen, f["delay"], f["lifetime"])
        else:
            err = create_tunnel(kind, name)
            result = "error" if err else "up"
            if err:
                entry["error"] = err
            elif f["lifetime"] > 0:
                spawn_timer(kind, name, gen, 0, f["lifetime"])
        entry["result"] = result
        log(entry)
    return 0


def stop(service, action="stop"):
    with Lock(service):
        next_generation(service)
        removed = remove_tunnel(service)
    log({"service": service, "action": action, "device": removed, "result": "stopped" if removed else "not-running"})
    return 0


def status(service):
    cur = current_tunnel(service)
    if cur and link_exists(cur[1]):
        print("running (%s)" % cur[1])
        return 0
    print("inactive")
    return 1


# --- entry points -------------------------------------------------------------------------------

def init_script(service, args):
    kind = service
    request = openvpn_request if kind == "openvpn" else ipsec_request
    cmd = args[0] if args else ""
    if cmd == "start":
        return start(kind, request())
    if cmd == "stop":
        return stop(service)
    if cmd in ("restart", "reload"):
        stop(service, action=cmd)
        return start(kind, request(), action=cmd)
    if cmd == "status":
        return status(service)
    if cmd in ("enable", "disable", "enabled", "boot"):
        return 0
    print("Syntax: /etc/init.d/%s [start|stop|restart|reload|status]" % service, file=sys.stderr)
    return 1


def netifd(cmd, args):
    names = [a for a in args if not a.startswith("-")]
    if len(names) != 1:
        print("Usage: %s [-w] <iface>" % cmd, file=sys.stderr)
        return 1
    iface = names[0]
    if iface != "vpn":
        log({"service": "netifd", "action": cmd, "interface": iface, "result": "not-simulated"})
        return 0
    if cmd == "ifdown":
        return stop("vpn", action="ifdown")
    req = vpn_request()
    if req["proto"] not in ("l2tp", "pptp"):
        stop("vpn", action="ifup")
        log({"service": "vpn", "action": "ifup", "proto": req["proto"], "result": "bad-config"})
        return 0
    return start(req["proto"], req, action="ifup")


def led(args):
    cmd = args[0] if args else ""
    conf = settings()
    if cmd in ("start", "reload", "restart", "boot"):
        values = {"state_b": conf.get("LED_B_DEFAULT", "1"), "state_g": conf.get("LED_G_DEFAULT", "0")}
    elif cmd == "stop":
        values = {"state_b": "0", "state_g": "0"}
    elif cmd in ("enable", "disable", "enabled"):
        return 0
    else:
        print("Syntax: /etc/init.d/led [start|stop|restart|reload]", file=sys.stderr)
        return 1
    for name, value in values.items():
        with open("%s/%s/brightness" % (LED_DIR, name), "w", encoding="ascii") as f:
            f.write(value + "\n")
    log({"service": "led", "action": cmd, "result": "ok", "state_b": values["state_b"], "state_g": values["state_g"]})
    return 0


def drop(kind):
    service = KINDS[kind]["service"]
    with Lock(service):
        cur = current_tunnel(service)
        if not cur or cur[0] != kind:
            print("%s: no tunnel up" % kind, file=sys.stderr)
            return 1
        next_generation(service)
        removed = remove_tunnel(service)
    log({"service": service, "kind": kind, "action": "drop", "device": removed, "result": "dropped"})
    return 0


def state():
    for service in SERVICE_KINDS:
        cur = current_tunnel(service)
        if cur and link_exists(cur[1]):
            print("%s %s" % (cur[0], cur[1]))
    return 0


def main(argv):
    if len(argv) < 1:
        print(__doc__, file=sys.stderr)
        return 1
    what, args = argv[0], argv[1:]
    if what in ("openvpn", "ipsec"):
        return init_script(what, args)
    if what in ("ifup", "ifdown"):
        return netifd(what, args)
    if what == "led":
        return led(args)
    if what == "drop" and len(args) == 1 and args[0] in KINDS:
        return drop(args[0])
    if what == "state":
        return state()
    if what == "_timer" and len(args) == 5:
        timer(*args)
        return 0
    print(__doc__, file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
