#!/usr/bin/python3
"""netifd's interface events in the simulated router: an event runs every script of
/etc/hotplug.d/iface in name order, each sourced by its own shell with the environment netifd's
hotplug call gives it (HOTPLUG_TYPE=iface, ACTION, INTERFACE, and DEVICE at ifup, when the
interface has its layer-3 device). As with netifd, whoever reports an event does not wait for the
scripts: events are queued and run one after the other, in the order they were reported, by one
runner in the background. Every script run is logged as one JSON object per line to
log/hotplug.log of the sim state.

    hotplug.py iface ACTION INTERFACE [DEVICE]    queue an event (inside the router)
"""

import fcntl
import glob
import json
import os
import shlex
import subprocess
import sys
import time

STATE = "/run/zunaro-sim"
QUEUE = STATE + "/hotplug"
LOG = STATE + "/log/hotplug.log"
SCRIPTS = "/etc/hotplug.d/iface/*"
KEPT_ENV = ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS")
SCRIPT_TIMEOUT = 60   # a script that hangs must not hold every later event


def router_path():
    """The router's PATH: the sim's tools, the system's, then the router's own (ubus, uci)."""
    prefix = ""
    try:
        with open(STATE + "/sim.env", encoding="utf-8") as f:
            for line in f:
                words = shlex.split(line, comments=True)
                if words and words[0].startswith("UBUS_PREFIX="):
                    prefix = words[0].partition("=")[2]
    except OSError:
        pass
    path = STATE + "/bin:/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"
    return path + (":%s/sbin:%s/bin" % (prefix, prefix) if prefix else "")


def locked(name, blocking=True):
    """An exclusive lock on QUEUE/name (its descriptor), or None when it is held elsewhere."""
    fd = os.open("%s/%s" % (QUEUE, name), os.O_RDWR | os.O_CREAT, 0o644)
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | (0 if blocking else fcntl.LOCK_NB))
    except BlockingIOError:
        os.close(fd)
        return None
    return fd


def unlock(fd):
    fcntl.flock(fd, fcntl.LOCK_UN)
    os.close(fd)


def queued():
    return sorted(glob.glob(QUEUE + "/*.event"))


def queue(action, interface, device=None):
    """Queues an event and makes sure a runner takes it."""
    os.makedirs(QUEUE, exist_ok=True)
    fd = locked("seq.lock")
    try:
        try:
            with open(QUEUE + "/seq", encoding="ascii") as f:
                seq = int(f.read().strip() or 0) + 1
        except (OSError, ValueError):
            seq = 1
        with open(QUEUE + "/seq", "w", encoding="ascii") as f:
            f.write("%d\n" % seq)
        event = {"action": action, "interface": interface}
        if device:
            event["device"] = device
        path = "%s/%010d.event" % (QUEUE, seq)
        with open(path + ".tmp", "w", encoding="utf-8") as f:
            json.dump(event, f)
        os.replace(path + ".tmp", path)
    finally:
        unlock(fd)
    subprocess.Popen([sys.executable, os.path.abspath(__file__), "_run"], stdin=subprocess.DEVNULL,
                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, close_fds=True,
                     start_new_session=True)


def run_event(path):
    """Runs the scripts for one queued event; the event leaves the queue whatever they do."""
    try:
        with open(path, encoding="utf-8") as f:
            event = json.load(f)
        run_scripts(event)
    finally:
        os.unlink(path)


def run_scripts(event):
    env = {"PATH": router_path(), "HOTPLUG_TYPE": "iface", "ACTION": event["action"],
           "INTERFACE": event["interface"], "LOGNAME": "root", "USER": "root", "HOME": "/root"}
    if event.get("device"):
        env["DEVICE"] = event["device"]
    for name in KEPT_ENV:
        if name in os.environ:
            env[name] = os.environ[name]
    for script in sorted(glob.glob(SCRIPTS)):
        if not os.path.isfile(script):
            continue
        started = time.monotonic()
        try:
            res = subprocess.run(["/bin/sh", "-c", '. "$0"', script], env=env, cwd="/", check=False,
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, text=True, timeout=SCRIPT_TIMEOUT)
            status, output = res.returncode, res.stdout
        except subprocess.TimeoutExpired as e:
            out = e.output or b""
            status, output = "timeout", out.decode(errors="replace") if isinstance(out, bytes) else out
        entry = dict(event)
        entry.update({"script": script, "status": status, "output": output[-400:],
                      "seconds": round(time.monotonic() - started, 3),
                      "time": time.strftime("%Y-%m-%dT%H:%M:%S")})
        with open(LOG, "a", encoding="utf-8") as f:
            f.write(json.dumps(entry) + "\n")


def runner():
    """Runs queued events until none is left; a runner that finds another one at work leaves."""
    fd = locked("run.lock", blocking=False)
    while fd is not None:
        events = queued()
        if events:
            try:
                run_event(events[0])
            except (OSError, ValueError, KeyError) as e:
                with open(LOG, "a", encoding="utf-8") as f:
                    f.write(json.dumps({"event": os.path.basename(events[0]), "error": str(e)}) + "\n")
            continue
        unlock(fd)
        # An event queued while this runner was letting go has a runner of its own, or is taken here.
        fd = locked("run.lock", blocking=False) if queued() else None


def main(argv):
    if len(argv) in (3, 4) and argv[0] == "iface":
        queue(argv[1], argv[2], argv[3] if len(argv) == 4 else None)
        return 0
    if argv == ["_run"]:
        os.makedirs(QUEUE, exist_ok=True)
        runner()
        return 0
    print(__doc__, file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
