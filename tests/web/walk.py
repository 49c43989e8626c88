#!/usr/bin/python3
"""The acceleration's LuCI app walked in headless Chromium from the LAN host of the simulated
router (sim/router, LuCI up): sign in to LuCI, open Services, a refused and a slow service login,
choose a node by keyboard, start to ACC_OK, a reload that shows what runs, the WAN cut and back, a
dropped tunnel redialed, uhttpd away for a while, a key log over rpcd's file limit, an expired
session, a user without the app's ACL, a user with reading rights only, stop, log out. Before the
browser, /ubus is asked directly what each session may do.

Runs on the LAN host (sim/router lan ...). The main steps save a screenshot at desktop and phone
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
from selenium.common.exceptions import TimeoutException, WebDriverException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select, WebDriverWait

ROUTER = sys.argv[1]
SCREENS = sys.argv[2]
SCENARIO = os.path.join(os.environ.get("ZUNARO_SIM_STATE", "/run/zunaro-sim"), "scenario.json")
BASE = "http://192.168.1.1"
APP = BASE + "/cgi-bin/luci/admin/services/zunaro"
UBUS = BASE + "/ubus"
ANON = "0" * 32
ADMIN = ("root", "zunaro-admin")
VIEWER = ("viewer", "zunaro-viewer")      # LuCI without the app's ACL
WATCHER = ("watcher", "zunaro-watcher")   # the app's read group only
ACCOUNT = ("demo", "zunaro-demo")
LONG_NAME = "frankfurt-am-main-premium-3"
DESKTOP = (1280, 900)
PHONE = 375
POLL_S = 5                                # LuCI's poll interval, the page's idle pace


class StepFailed(Exception):
    pass


def sim(*args, check=True, stdin=None):
    out = subprocess.run([ROUTER, *args], capture_output=True, text=True, timeout=120, input=stdin)
    if check and out.returncode != 0:
        raise StepFailed(f"sim/router {' '.join(args)}: {out.stderr.strip() or out.stdout.strip()}")
    return out.stdout


def uci_get(option):
    return sim("exec", "uci", "-q", "get", f"userinfo.1.{option}", check=False).strip()


def daemon_state():
    try:
        return json.loads(sim("rpc", "GetStatus", check=False))["result"]["status"]
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


def set_cloud(default):
    """The mock cloud's behaviour for every listener (it reads the scenario on each request)."""
    with open(SCENARIO, encoding="utf-8") as f:
        scen = json.load(f)
    scen["default"] = default
    with open(SCENARIO + ".new", "w", encoding="utf-8") as f:
        json.dump(scen, f)
    os.replace(SCENARIO + ".new", SCENARIO)


# --- /ubus without the browser -------------------------------------------------------------------

def ubus(sid, obj, method, args, timeout=30):
    body = json.dumps({"jsonrpc": "2.0", "id": 1, "method": "call", "params": [sid, obj, method, args]})
    req = urllib.request.Request(UBUS, body.encode(), {"Content-Type": "application/json"})
    with urllib.request.urlopen(req, timeout=timeout) as res:
        return json.loads(res.read())


def denied(reply):
    return reply.get("error", {}).get("code") == -32002 or reply.get("result", [0])[0] == 6


def session(user):
    reply = ubus(ANON, "session", "login", {"username": user[0], "password": user[1]})
    return reply["result"][1]["ubus_rpc_session"]


def check_acl():
    """Reading and acting are granted apart; the daemon's own object and uci are granted to no one."""
    for method in ("status", "nodes", "keylog", "login", "start", "stop", "logout"):
        if not denied(ubus(ANON, "luci.zunaro", method, {})):
            raise StepFailed(f"luci.zunaro {method} without a session was not refused")
    admin, viewer, watcher = session(ADMIN), session(VIEWER), session(WATCHER)
    for sid, who in ((admin, "administrator"), (watcher, "reader")):
        reply = ubus(sid, "luci.zunaro", "status", {})
        if reply.get("result", [None])[0] != 0 or reply["result"][1].get("state") != "INIT":
            raise StepFailed(f"status for the {who}: {reply}")
        if "uPass" in json.dumps(reply):
            raise StepFailed(f"status carries the password: {reply}")
        if not denied(ubus(sid, "zunaro", "rpc", {"method": "GetStatus"})):
            raise StepFailed(f"the {who} may call the daemon's object directly")
        if not denied(ubus(sid, "uci", "set", {"config": "userinfo", "section": "1", "values": {"mode": "3"}})):
            raise StepFailed(f"the {who} may set userinfo through uci")
    for method in ("login", "start", "stop", "logout"):
        if not denied(ubus(watcher, "luci.zunaro", method, {})):
            raise StepFailed(f"the reader may call {method}")
    for method in ("status", "nodes", "keylog", "stop"):
        if not denied(ubus(viewer, "luci.zunaro", method, {})):
            raise StepFailed(f"a user without the app's ACL may call {method}")
    for sid in (admin, viewer, watcher):
        ubus(sid, "session", "destroy", {})


def no_password_in_replies(sid):
    for method in ("status", "nodes", "keylog"):
        text = json.dumps(ubus(sid, "luci.zunaro", method, {}))
        if ACCOUNT[1] in text or "uPass" in text:
            raise StepFailed(f"luci.zunaro {method} hands out the password: {text[:300]}")


# --- the browser ---------------------------------------------------------------------------------

def browser():
    opts = webdriver.ChromeOptions()
    opts.binary_location = "/usr/bin/chromium"
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                "--no-first-run", "--disable-extensions", "--hide-scrollbars",
                f"--window-size={DESKTOP[0]},{DESKTOP[1]}"):
        opts.add_argument(arg)
    opts.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=opts)


class Walk:
    def __init__(self, driver):
        self.d = driver
        self.shot = 0

    def el(self, id_):
        return self.d.find_element(By.ID, id_)

    def text(self, id_):
        return self.el(id_).text.strip()

    def shown(self, id_):
        found = self.d.find_elements(By.ID, id_)
        return bool(found) and found[0].is_displayed()

    def wait(self, what, pred, timeout=30.0):
        def check(_):
            try:
                return pred()
            except WebDriverException:   # the page is being replaced
                return False
        try:
            return WebDriverWait(self.d, timeout, poll_frequency=0.2).until(check)
        except TimeoutException:
            raise StepFailed(f"{what}: not shown within {timeout:.0f} s; the page shows:\n{self.page_text()}")

    def click_when(self, what, find, timeout=30.0):
        """Clicks the first element `find` returns once it takes the click (menus are built and
        opened by scripts)."""
        def click():
            found = find()
            if found:
                found[0].click()
                return True
            return False
        self.wait(what, click, timeout)

    def wait_notice(self, words, timeout=30.0):
        self.wait(f'the notice "{words}"', lambda: self.shown("zunaro-notice") and words in self.text("zunaro-notice"), timeout)

    def page_text(self):
        try:
            return self.d.find_element(By.TAG_NAME, "body").text[-1500:]
        except WebDriverException:
            return "(no page)"

    def polls(self):
        return self.d.execute_script("return +(document.getElementById('zunaro')?.dataset.polls || 0)")

    def wait_polls(self, n=1, timeout=POLL_S * 3):
        start = self.polls()
        self.wait(f"{n} more poll(s)", lambda: self.polls() >= start + n, timeout)

    def screenshot(self, name, focus=None):
        """Saves the page at desktop and phone width; at phone width the app may not stick out.
        The phone shot shows the element `focus` when one is named."""
        self.shot += 1
        base = os.path.join(SCREENS, f"{self.shot:02d}-{name}")
        self.d.save_screenshot(f"{base}-desktop.png")
        self.d.set_window_size(PHONE, DESKTOP[1])
        self.wait("the phone layout", lambda: self.d.execute_script("return window.innerWidth") <= PHONE + 20, 10)
        wide = self.d.execute_script(
            "const z = document.getElementById('zunaro'); if (!z) return 0;"
            "let w = 0; for (const e of z.querySelectorAll('*')) w = Math.max(w, e.getBoundingClientRect().right);"
            "return Math.ceil(w - document.documentElement.clientWidth)")
        if wide > 0:
            raise StepFailed(f"at {PHONE} px the app is {wide} px wider than the screen")
        if focus:
            self.d.execute_script("document.getElementById(arguments[0])?.scrollIntoView()", focus)
        self.d.save_screenshot(f"{base}-phone.png")
        self.d.execute_script("window.scrollTo(0, 0)")
        self.d.set_window_size(*DESKTOP)

    def type_into(self, elem, text, submit=False):
        elem.clear()
        elem.send_keys(text + (Keys.RETURN if submit else ""))

    def sign_in(self, user, url=APP):
        self.d.get(url)

        def fill():
            name, password = (self.d.find_element(By.NAME, n) for n in ("luci_username", "luci_password"))
            if not password.is_displayed():
                return False
            self.type_into(name, user[0])
            self.type_into(password, user[1], submit=True)
            return True
        self.wait("LuCI's sign-in form", fill)
        self.wait("LuCI after sign-in", lambda: not self.d.find_elements(By.NAME, "luci_password")
                  and self.d.find_elements(By.ID, "maincontent"))

    def sign_out(self):
        self.d.get(BASE + "/cgi-bin/luci/admin/logout")
        self.wait("LuCI's sign-in form", lambda: self.d.find_elements(By.NAME, "luci_password"))
        self.d.delete_all_cookies()

    def sid(self):
        return self.d.execute_script("return L.env.sessionid")

    def app_state(self):
        return self.text("zunaro-state") if self.shown("zunaro-state") else ""

    def node_rows(self):
        return self.d.find_elements(By.CSS_SELECTOR, "#zunaro-nodes tbody tr")


def contrast(rgb_a, rgb_b):
    def lum(rgb):
        def ch(c):
            c /= 255
            return c / 12.92 if c <= 0.03928 else ((c + 0.055) / 1.055) ** 2.4
        r, g, b = (ch(c) for c in rgb)
        return 0.2126 * r + 0.7152 * g + 0.0722 * b
    la, lb = sorted((lum(rgb_a), lum(rgb_b)), reverse=True)
    return (la + 0.05) / (lb + 0.05)


def rgb(css):
    return tuple(int(float(x)) for x in css[css.index("(") + 1:css.index(")")].split(",")[:3])


def steps(w):
    yield "signing in to LuCI and opening Services"
    w.sign_in(ADMIN, BASE + "/cgi-bin/luci/")
    w.wait("the status overview", lambda: "Status" in w.page_text())
    w.click_when("the Services menu", lambda: [a for a in w.d.find_elements(By.CSS_SELECTOR, "a.menu")
                                               if a.text.strip() == "Services" and a.is_displayed()])
    w.click_when("the app in the Services menu", lambda: [a for a in w.d.find_elements(By.CSS_SELECTOR, "a")
                                                          if a.text.strip() == "Game acceleration" and a.is_displayed()])
    w.wait("the service login form", lambda: w.shown("zunaro-login"))
    if w.text("zunaro-state") != "Not logged in":
        raise StepFailed(f"state shown: {w.text('zunaro-state')}")
    w.screenshot("service-login")

    yield "a wrong service password: the cloud's refusal in the daemon's words"
    w.type_into(w.el("zunaro-user"), ACCOUNT[0])
    w.type_into(w.el("zunaro-pass"), "wrong-password", submit=True)
    w.wait_notice("User account invalid")
    if w.el("zunaro-pass").get_attribute("value"):
        raise StepFailed("the password field keeps the password")
    w.wait("the refusal in the key log", lambda: "login failed, code: 12" in w.text("zunaro-keylog"))
    if w.shown("zunaro-accel") or daemon_state() != "INIT":
        raise StepFailed("a refused login left the form or logged the daemon in")
    w.screenshot("wrong-service-password")

    yield "a slow cloud: the login outlasts LuCI's request time-out, the page waits for the outcome"
    set_cloud({"mode": "slow", "delay": 7.5})
    try:
        w.type_into(w.el("zunaro-user"), ACCOUNT[0])
        w.type_into(w.el("zunaro-pass"), ACCOUNT[1], submit=True)
        w.wait_notice("still working", 40)
        if w.shown("zunaro-accel") or w.el("zunaro-login-button").is_enabled():
            raise StepFailed("the node list shows, or the login can be sent again, before the login ended")
        w.screenshot("still-working")
    finally:
        set_cloud({"mode": "normal"})
    w.wait("the node list after the slow login", lambda: w.shown("zunaro-accel") and len(w.node_rows()) == 3, 60)
    w.wait("the notice cleared", lambda: not w.shown("zunaro-notice"), POLL_S * 2)
    if daemon_state() != "LOGIN_OK" or uci_get("currState") != "LOGIN_OK" or uci_get("historyname") != ACCOUNT[0]:
        raise StepFailed(f"daemon {daemon_state()}, recorded {uci_get('currState')!r} {uci_get('historyname')!r}")
    no_password_in_replies(w.sid())
    if ACCOUNT[1] in w.d.page_source:
        raise StepFailed("the password is in the page")

    yield "the node list: best first, names isolated and wrapped, a node chosen by keyboard keeps focus"
    rows = [r.text for r in w.node_rows()]
    if not rows[0].startswith("#1") or not any(LONG_NAME in r for r in rows):
        raise StepFailed(f"rows {rows}")
    if len(w.d.find_elements(By.CSS_SELECTOR, "#zunaro-nodes bdi")) != 3:
        raise StepFailed("node names are not isolated (bdi)")
    # The controls show what was recorded (IPsec, no reconnection), not the form's defaults.
    recorded = (Select(w.el("zunaro-mode")).first_selected_option.text, w.el("zunaro-reconnect").is_selected())
    if recorded != ("IPsec", False):
        raise StepFailed(f"the controls show {recorded}, recorded were IPsec without reconnection")
    first = w.d.find_element(By.CSS_SELECTOR, "#zunaro-nodes input[type=radio]")
    if not first.is_selected():
        raise StepFailed("the best node is not the chosen one")
    first.send_keys(Keys.ARROW_DOWN)
    second = w.node_rows()[1].find_element(By.TAG_NAME, "input")
    w.wait("the second node chosen", lambda: second.is_selected())
    w.wait_polls(1)
    focused = w.d.switch_to.active_element
    if focused.get_attribute("id") != second.get_attribute("id") or not second.is_selected():
        raise StepFailed(f"after the polls the focus is on {focused.tag_name}#{focused.get_attribute('id')}")
    ring, width = focused.value_of_css_property("outline-color"), focused.value_of_css_property("outline-width")
    if contrast(rgb(ring), (255, 255, 255)) < 3 or float(width.rstrip("px")) < 2:
        raise StepFailed(f"focus ring {ring} {width}: under 3:1 against the page")
    chosen_id = int(second.get_attribute("value"))
    w.screenshot("node-list", "zunaro-nodes")

    yield "starting with OpenVPN and reconnection: the dialing progress, then ACC_OK"
    Select(w.el("zunaro-mode")).select_by_visible_text("OpenVPN")
    if not w.el("zunaro-reconnect").is_selected():
        w.el("zunaro-reconnect").click()
    w.el("zunaro-start").click()
    w.wait("the dialing progress", lambda: "Dialing the tunnel" in w.text("zunaro-progress") or "came up" in w.text("zunaro-progress"))
    progress, startable = w.d.execute_script("return [document.getElementById('zunaro-progress').textContent,"
                                             " !document.getElementById('zunaro-start').disabled]")
    if "Dialing" in progress and startable:
        raise StepFailed("Start can be pressed while the tunnel is dialed")
    w.screenshot("dialing", "zunaro-progress")
    w.wait("ACC_OK", lambda: "came up in" in w.text("zunaro-progress") and w.app_state() == "Accelerating", 60)
    if uci_get("mode") != "1" or uci_get("node") != str(chosen_id) or uci_get("reconn") != "1":
        raise StepFailed(f"recorded mode {uci_get('mode')} node {uci_get('node')} reconn {uci_get('reconn')}")
    if "Switch" not in w.text("zunaro-start"):
        raise StepFailed("Start while accelerating does not say it switches")
    if not w.d.find_elements(By.CSS_SELECTOR, "#zunaro-keylog li bdi") or "acc success" not in w.text("zunaro-keylog").split("\n")[0]:
        raise StepFailed(f"the key log does not show the newest entry first: {w.text('zunaro-keylog')[:200]}")
    w.screenshot("accelerating", "zunaro-progress")

    yield "a reload shows the running settings"
    w.d.refresh()
    w.wait("the app after the reload", lambda: w.app_state() == "Accelerating" and len(w.node_rows()) == 3)
    mode = Select(w.el("zunaro-mode")).first_selected_option.text
    chosen = [r.find_element(By.TAG_NAME, "input").get_attribute("value") for r in w.node_rows()
              if r.find_element(By.TAG_NAME, "input").is_selected()]
    if mode != "OpenVPN" or chosen != [str(chosen_id)] or not w.el("zunaro-reconnect").is_selected():
        raise StepFailed(f"after the reload: mode {mode}, node {chosen}, reconnect {w.el('zunaro-reconnect').is_selected()}")

    yield "the WAN cut: the page shows LOGIN_OK within one poll of the daemon"
    sim("fault", "wan", "down")
    try:
        wait_until("the daemon's LOGIN_OK", lambda: daemon_state() == "LOGIN_OK", 60)
        w.wait("LOGIN_OK on the page", lambda: w.app_state() == "Logged in, not accelerating", POLL_S + 3)
        w.wait("the reason", lambda: "WAN does not answer" in w.text("zunaro-progress") + w.text("zunaro-acc"))
        w.screenshot("wan-lost", "zunaro-progress")
    finally:
        sim("fault", "wan", "up")
    w.el("zunaro-start").click()
    w.wait("ACC_OK again", lambda: w.app_state() == "Accelerating" and "came up" in w.text("zunaro-progress"), 60)

    yield "the tunnel dropped: the page follows the redial"
    sim("fault", "tunnel", "openvpn", "drop")
    w.wait("the redial", lambda: "Dialing" in w.text("zunaro-progress") or "reconn acc start" in w.text("zunaro-keylog"), 40)
    w.wait("ACC_OK after the redial", lambda: w.app_state() == "Accelerating" and "reconn acc start" in w.text("zunaro-keylog"), 60)
    w.screenshot("redialed", "zunaro-keylog")

    yield "uhttpd away for a while: the page says so, keeps asking and recovers"
    sim("web", "stop", "uhttpd")
    try:
        w.wait_notice("does not answer", POLL_S * 3)
        started = time.monotonic()
        if "Nothing logged yet" in w.text("zunaro-keylog") or "acc success" not in w.text("zunaro-keylog"):
            raise StepFailed("the key log was dropped while uhttpd is away")
        w.screenshot("uhttpd-away")
        time.sleep(max(0.0, 2 - (time.monotonic() - started)))   # away for two seconds at least
    finally:
        sim("web", "start")
    w.wait("the page back", lambda: not w.shown("zunaro-notice") and w.app_state() == "Accelerating", 40)

    yield "a key log beyond rpcd's file limit: its tail is shown and only the tail is sent"
    filler = "".join(f"[filler {i:06d}]: {'x' * 60}\n" for i in range(4500))
    newest = '[newest]: <img src=x onerror="window.zunaroInjected=1"> after the filler\n'
    sim("exec", "sh", "-c", "cat >>/tmp/zunaro.log", stdin=filler + newest)
    w.wait("the newest key log line", lambda: "after the filler" in w.text("zunaro-keylog").split("\n")[0], POLL_S * 3)
    if w.d.execute_script("return window.zunaroInjected") or "<img" not in w.text("zunaro-keylog"):
        raise StepFailed("a key log line was taken as HTML")
    size = len(json.dumps(ubus(w.sid(), "luci.zunaro", "keylog", {})))
    if size > 16384:
        raise StepFailed(f"the key log reply is {size} bytes")

    yield "the session expired: LuCI says so"
    sim("ubus", "call", "session", "destroy", json.dumps({"ubus_rpc_session": w.sid()}))
    w.wait("LuCI's session expiry", lambda: "Session expired" in w.page_text(), POLL_S * 3)
    if w.shown("zunaro-notice") and "right" in w.text("zunaro-notice"):
        raise StepFailed("an expired session is shown as a missing right")
    w.screenshot("session-expired")

    yield "a user without the app's ACL: no menu entry, no page"
    w.sign_out()
    w.sign_in(VIEWER, BASE + "/cgi-bin/luci/")
    w.wait("the status overview", lambda: "Status" in w.page_text())
    if [a for a in w.d.find_elements(By.CSS_SELECTOR, "a") if (a.get_attribute("href") or "").endswith("/admin/services/zunaro")]:
        raise StepFailed("the menu offers the app to a user without its ACL")
    w.d.get(APP)
    w.wait("the refusal of the app's address", lambda: "zunaro-state" not in w.d.page_source
           and ("403" in w.page_text() or "denied" in w.page_text().lower() or "Not Found" in w.page_text()))
    w.screenshot("no-acl")

    yield "a reader: the page shows what runs, the controls rest, and acting is refused as a missing right"
    w.sign_out()
    w.sign_in(WATCHER)
    w.wait("the reader's view", lambda: w.shown("zunaro-readonly") and w.app_state() == "Accelerating")
    if w.el("zunaro-stop").is_enabled() or w.el("zunaro-start").is_enabled():
        raise StepFailed("the reader's controls are live")
    w.screenshot("reader")
    w.d.execute_script("document.getElementById('zunaro-stop').disabled = false")
    w.el("zunaro-stop").click()
    w.wait_notice("lacks the right")
    if "Session expired" in w.page_text() or daemon_state() != "ACC_OK":
        raise StepFailed("a missing right was shown as an expired session, or the stop went through")

    yield "the administrator stops and logs out"
    w.sign_out()
    w.sign_in(ADMIN)
    w.wait("the app", lambda: w.app_state() == "Accelerating")
    w.el("zunaro-stop").click()
    w.wait("the stop", lambda: "stopped" in w.text("zunaro-progress") and w.app_state() == "Logged in, not accelerating")
    if daemon_state() != "LOGIN_OK" or uci_get("currState") != "LOGIN_OK":
        raise StepFailed(f"daemon {daemon_state()}, recorded {uci_get('currState')!r}")
    w.screenshot("stopped", "zunaro-progress")
    w.el("zunaro-logout").click()
    w.wait("the service login form", lambda: w.shown("zunaro-login") and not w.shown("zunaro-accel"))
    if daemon_state() != "INIT" or uci_get("currState") != "INIT":
        raise StepFailed(f"daemon {daemon_state()}, recorded {uci_get('currState')!r}")
    w.screenshot("logged-out")


def main():
    os.makedirs(SCREENS, exist_ok=True)
    started = time.monotonic()
    step = "the ACL of /ubus"
    logs = []
    try:
        check_acl()
        print(f"ok   {step}", flush=True)
        driver = browser()
        try:
            w = Walk(driver)
            for step in steps(w):
                print(f"...  {step} ({time.monotonic() - started:.0f} s)", flush=True)
            step = ""
        finally:
            logs = driver.get_log("browser") if step else []
            driver.quit()
    except (StepFailed, OSError, subprocess.SubprocessError, WebDriverException) as e:
        print(f"FAILED in step: {step}\n{e}", flush=True)
        for entry in logs:
            print(f"browser: {entry.get('message')}")
        return 1
    print(f"web walk behaved ({time.monotonic() - started:.1f} s); screenshots in {SCREENS}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
