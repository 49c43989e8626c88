#!/usr/bin/python3
"""The router's acceleration page walked in headless Chromium from the LAN host of the simulated
router (sim/router, web stack up): sign in, log in to the service, the node list,
an automatic start to ACC_OK, a crash of the daemon and its restore from what the page recorded,
stop, log out; and the refusals: a wrong router password, a wrong service password, an ended
session, the daemon stopped. Before the browser, /ubus is asked directly what a session may do.

Runs on the LAN host (sim/router lan ...). Every step saves a screenshot at desktop and phone
width into SCREENS_DIR. Exit 0 when every step behaved, 1 otherwise.

    walk.py SIM_ROUTER SCREENS_DIR
"""
import json
import os
import subprocess
import sys
import time
import urllib.request

from selenium import webdriver
from selenium.common.exceptions import TimeoutException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select, WebDriverWait

ROUTER = sys.argv[1]
SCREENS = sys.argv[2]
PAGE = "http://192.168.1.1/zunaro/"
UBUS = "http://192.168.1.1/ubus"
ANON = "0" * 32
ADMIN = ("root", "zunaro-admin")
ACCOUNT = ("demo", "zunaro-demo")
DESKTOP = (1280, 900)
PHONE = 375


class StepFailed(Exception):
    pass


def sim(*args, check=True):
    out = subprocess.run([ROUTER, *args], capture_output=True, text=True, timeout=120)
    if check and out.returncode != 0:
        raise StepFailed(f"sim/router {' '.join(args)}: {out.stderr.strip() or out.stdout.strip()}")
    return out.stdout


def uci_get(option):
    return sim("exec", "uci", "-q", "get", f"userinfo.1.{option}", check=False).strip()


def daemon_state():
    out = sim("rpc", "GetStatus", check=False)
    try:
        return json.loads(out)["result"]["status"]
    except (ValueError, KeyError):
        return ""


def wait_until(what, pred, timeout=30.0):
    end = time.monotonic() + timeout
    while True:
        value = pred()
        if value:
            return value
        if time.monotonic() > end:
            raise StepFailed(f"{what}: not within {timeout:.0f} s")
        time.sleep(0.2)


# --- /ubus without the browser -------------------------------------------------------------------

def ubus(sid, obj, method, args):
    body = json.dumps({"jsonrpc": "2.0", "id": 1, "method": "call", "params": [sid, obj, method, args]})
    req = urllib.request.Request(UBUS, body.encode(), {"Content-Type": "application/json"})
    with urllib.request.urlopen(req, timeout=30) as res:
        return json.loads(res.read())


def denied(reply):
    return reply.get("error", {}).get("code") == -32002 or reply.get("result", [0])[0] == 6


def check_acl():
    for method in ("GetStatus", "Login", "AccStart", "Logout"):
        reply = ubus(ANON, "zunaro", "rpc", {"method": method, "params": list(ACCOUNT)})
        if not denied(reply):
            raise StepFailed(f"{method} without a session was not refused: {reply}")
    if not denied(ubus(ANON, "session", "login", {"username": ADMIN[0], "password": "wrong"})):
        raise StepFailed("a wrong administrator password opened a session")
    sid = ubus(ANON, "session", "login", {"username": ADMIN[0], "password": ADMIN[1]})["result"][1]["ubus_rpc_session"]
    reply = ubus(sid, "zunaro", "rpc", {"method": "GetStatus"})
    if reply.get("result", [None])[0] != 0 or reply["result"][1]["result"]["status"] != "INIT":
        raise StepFailed(f"GetStatus with the administrator's session: {reply}")
    # Only what the page uses: rpc, uci set/commit of userinfo, reading the key log, signing out.
    beyond = [
        ("uci", "set", {"config": "network", "section": "wan", "values": {"proto": "none"}}),
        ("uci", "commit", {"config": "network"}),
        ("uci", "get", {"config": "userinfo"}),
        ("uci", "delete", {"config": "userinfo", "section": "1"}),
        ("file", "read", {"path": "/etc/config/rpcd"}),
        ("file", "write", {"path": "/tmp/zunaro.log", "data": "x"}),
        ("file", "exec", {"command": "/bin/true"}),
        ("session", "list", {}),
        ("session", "grant", {"scope": "ubus", "objects": [["*", "*"]]}),
    ]
    for obj, method, args in beyond:
        if not denied(ubus(sid, obj, method, args)):
            raise StepFailed(f"the administrator's session may call {obj} {method} {args}")
    ubus(sid, "session", "destroy", {})


# --- the browser ---------------------------------------------------------------------------------

def browser():
    opts = webdriver.ChromeOptions()
    opts.binary_location = "/usr/bin/chromium"
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                "--no-first-run", "--disable-extensions", f"--window-size={DESKTOP[0]},{DESKTOP[1]}"):
        opts.add_argument(arg)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=opts)


class Walk:
    def __init__(self, driver):
        self.d = driver
        self.shot = 0

    def el(self, id_):
        return self.d.find_element(By.ID, id_)

    def text(self, id_):
        return self.el(id_).text.strip()

    def visible(self, id_):
        return self.el(id_).is_displayed()

    def wait(self, what, pred, timeout=30.0):
        try:
            return WebDriverWait(self.d, timeout, poll_frequency=0.2).until(lambda _: pred())
        except TimeoutException:
            raise StepFailed(f"{what}: not shown within {timeout:.0f} s; the page shows:\n{self.page_text()}")

    def wait_notice(self, words, timeout=30.0):
        self.wait(f'the notice "{words}"', lambda: self.visible("notice") and words in self.text("notice"), timeout)

    def page_text(self):
        return self.d.find_element(By.TAG_NAME, "body").text

    def screenshot(self, name, focus=None):
        """Saves the page at desktop and phone width; at phone width nothing may stick out. The
        phone shot shows the section `focus` when one is named."""
        self.shot += 1
        base = os.path.join(SCREENS, f"{self.shot:02d}-{name}")
        self.d.save_screenshot(f"{base}-desktop.png")
        self.d.set_window_size(PHONE, DESKTOP[1])
        self.wait("the phone layout", lambda: self.d.execute_script("return window.innerWidth") <= PHONE + 20, 10)
        wide = self.d.execute_script("return document.documentElement.scrollWidth - window.innerWidth")
        if wide > 0:
            raise StepFailed(f"at {PHONE} px the page is {wide} px wider than the screen")
        if focus:
            self.d.execute_script("document.getElementById(arguments[0]).scrollIntoView()", focus)
        self.d.save_screenshot(f"{base}-phone.png")
        self.d.execute_script("window.scrollTo(0, 0)")
        self.d.set_window_size(*DESKTOP)

    def type_into(self, id_, text, submit=False):
        field = self.el(id_)
        field.clear()
        field.send_keys(text + (Keys.RETURN if submit else ""))


def node_names_on_bus():
    """The node names in the order of the daemon's node table (best first)."""
    out = sim("rpc", "GetNodeList")
    return [line.split('"servername": ')[1].strip().strip('",') for line in out.splitlines() if '"servername": ' in line]


def steps(w):
    yield "the sign-in form, and a wrong router password refused"
    w.d.get(PAGE)
    w.wait("the sign-in form", lambda: w.visible("signin"))
    w.type_into("router-pass", "not-the-password", submit=True)
    w.wait_notice("Wrong router user name or password")
    if w.visible("account"):
        raise StepFailed("the page went on after a wrong password")
    w.screenshot("wrong-router-password")

    yield "signing in to the router with the keyboard"
    w.type_into("router-user", ADMIN[0])
    w.type_into("router-pass", ADMIN[1], submit=True)
    w.wait("the service login form", lambda: w.visible("login-form"))
    if w.el("svc-pass").get_attribute("value"):
        raise StepFailed("the service password field is filled")
    w.screenshot("signed-in")

    yield "a wrong service password: the cloud's refusal in words"
    w.type_into("svc-user", ACCOUNT[0])
    w.type_into("svc-pass", "wrong-password", submit=True)
    w.wait_notice("User account invalid")
    w.wait("the refusal in the key log", lambda: "login failed, code: 12" in w.text("keylog-lines"))
    if w.visible("nodes") or daemon_state() != "INIT":
        raise StepFailed("a refused login left the page or the daemon logged in")
    w.screenshot("wrong-service-password")

    yield "logging in to the service: the three nodes, best first"
    w.type_into("svc-user", ACCOUNT[0])
    w.type_into("svc-pass", ACCOUNT[1], submit=True)
    w.wait("the node list", lambda: w.visible("nodes") and len(w.d.find_elements(By.CSS_SELECTOR, "#node-rows tr")) == 3)
    rows = [r.text for r in w.d.find_elements(By.CSS_SELECTOR, "#node-rows tr")]
    names = node_names_on_bus()
    if len(names) != 3 or [r.split()[0] for r in rows] != names:
        raise StepFailed(f"nodes shown {rows}, the daemon's order {names}")
    if not all(" ms " in r or "no answer" in r for r in rows) or "#1" not in rows[0]:
        raise StepFailed(f"rows without ping or rank: {rows}")
    chosen = w.d.find_elements(By.CSS_SELECTOR, "#node-rows tr.chosen")
    if len(chosen) != 1 or not chosen[0].text.startswith(names[0]):
        raise StepFailed("the best node is not marked as the chosen one")
    if w.el("svc-pass").get_attribute("value"):
        raise StepFailed("the service password field is filled after the login")
    if uci_get("currState") != "LOGIN_OK" or uci_get("historyname") != ACCOUNT[0]:
        raise StepFailed(f"recorded state {uci_get('currState')!r}, account {uci_get('historyname')!r}")
    w.screenshot("node-list")

    yield "starting in automatic mode: progress, then ACC_OK"
    Select(w.el("mode")).select_by_visible_text("Automatic")
    w.el("start").click()
    w.wait("the dialing progress", lambda: "Dialing the tunnel" in w.text("progress") or "came up" in w.text("progress"))
    startable = w.el("start").is_enabled()
    if startable and "Dialing the tunnel" in w.text("progress"):
        raise StepFailed("Start can be pressed again while the tunnel is dialed")
    w.screenshot("dialing", "control")
    w.wait("ACC_OK", lambda: "came up in" in w.text("progress") and w.visible("status-card"), 60)
    card = {k: w.text(f"st-{k}") for k in ("state", "node", "mode", "device", "ping", "loss")}
    if card["state"] != "Accelerating" or card["node"] != names[0] or card["device"] != "tun0" or card["mode"] != "OpenVPN":
        raise StepFailed(f"status card {card}")
    if daemon_state() != "ACC_OK" or uci_get("currState") != "ACC_OK" or uci_get("mode") != "0":
        raise StepFailed(f"daemon {daemon_state()}, recorded {uci_get('currState')!r} mode {uci_get('mode')!r}")
    lines = [li.text for li in w.d.find_elements(By.CSS_SELECTOR, "#keylog-lines li")]
    if not lines or "acc success" not in lines[0]:
        raise StepFailed(f"the key log does not show the newest entry first: {lines[:3]}")
    w.screenshot("accelerating", "control")

    yield "the daemon killed while accelerated comes back to ACC_OK from what the page recorded"
    sim("daemon", "kill")
    sim("daemon", "start")
    wait_until("ACC_OK after the restart", lambda: daemon_state() == "ACC_OK", 60)
    w.d.refresh()
    w.wait("the status card after the restore", lambda: w.visible("status-card") and w.text("st-state") == "Accelerating")
    # Restored with the settings the page recorded (sim config: IPsec, no account).
    again = {k: w.text(f"st-{k}") for k in ("node", "mode", "device")}
    if again != {k: card[k] for k in again}:
        raise StepFailed(f"restored as {again}, started as {card}")
    w.screenshot("restored", "control")

    yield "stopping"
    w.el("stop").click()
    w.wait("the stop", lambda: "stopped" in w.text("progress") and not w.visible("status-card"))
    if daemon_state() != "LOGIN_OK" or uci_get("currState") != "LOGIN_OK":
        raise StepFailed(f"daemon {daemon_state()}, recorded {uci_get('currState')!r}")
    w.screenshot("stopped", "control")

    yield "logging out of the service"
    w.el("logout").click()
    w.wait("the service login form", lambda: w.visible("login-form") and not w.visible("nodes"))
    if daemon_state() != "INIT" or uci_get("currState") != "INIT":
        raise StepFailed(f"daemon {daemon_state()}, recorded {uci_get('currState')!r}")
    w.screenshot("logged-out")

    yield "the daemon stopped: the page says so"
    sim("daemon", "stop")
    w.d.refresh()
    w.wait_notice("not running", 40)
    w.screenshot("daemon-stopped")
    sim("daemon", "start")

    yield "signing out of the router ends the session"
    w.d.refresh()
    w.wait("the service login form", lambda: w.visible("login-form"))
    sid = w.d.execute_script("return sessionStorage.getItem('zunaro.session')")
    w.el("signout").click()
    w.wait("the sign-in form", lambda: w.visible("signin") and "signed out" in w.text("notice"))
    if not denied(ubus(sid, "zunaro", "rpc", {"method": "GetStatus"})):
        raise StepFailed("the session still works after signing out")
    w.screenshot("signed-out")

    yield "an ended session leads back to sign-in"
    w.type_into("router-pass", ADMIN[1], submit=True)
    w.wait("the service login form", lambda: w.visible("login-form"))
    sid = w.d.execute_script("return sessionStorage.getItem('zunaro.session')")
    sim("ubus", "call", "session", "destroy", json.dumps({"ubus_rpc_session": sid}))
    w.type_into("svc-user", ACCOUNT[0])
    w.type_into("svc-pass", ACCOUNT[1], submit=True)
    w.wait("the sign-in form", lambda: w.visible("signin") and "session has ended" in w.text("notice"))
    if daemon_state() != "INIT":
        raise StepFailed("a request without a session reached the daemon")
    w.screenshot("session-ended")


def main():
    os.makedirs(SCREENS, exist_ok=True)
    started = time.monotonic()
    step = "the ACL of /ubus"
    try:
        check_acl()
        print(f"ok   {step}", flush=True)
        driver = browser()
        try:
            w = Walk(driver)
            for step in steps(w):
                print(f"...  {step}", flush=True)
            step = ""
        finally:
            logs = driver.get_log("browser") if step else []
            driver.quit()
    except (StepFailed, OSError, subprocess.SubprocessError) as e:
        print(f"FAILED in step: {step}\n{e}", flush=True)
        for entry in logs if "logs" in locals() else []:
            print(f"browser: {entry.get('message')}")
        return 1
    print(f"web walk behaved ({time.monotonic() - started:.1f} s); screenshots in {SCREENS}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
