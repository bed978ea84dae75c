#!/usr/bin/python3
"""The web remote in headless Chromium, against the real panel (32-bit) on a
virtual device of its own: the page's slider sets the device's render level
(never above the cap), a stream that the reference host plays shows on the
page within two seconds of the panel reporting it (PCM, then DSD64), and the
banner comes up when the device goes and when the panel ends. Every key it touches is put back.
With VELMOR_WEB_SCREENSHOTS=1 it writes docs/web-remote-light.png and
docs/web-remote-dark.png. Exit 77 (skipped) only when Chromium cannot start.
    web_browser_test.py BIN64
"""
import json, os, socket, subprocess, sys, tempfile, time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BIN64 = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build/win64/bin")
PANEL = os.path.join(ROOT, "build/win32/bin/VelmorR5R6ACPL.exe")
WINE = os.path.join(ROOT, "scripts/wine")
CAP = 80
SWITCHES = r"HKLM\Software\Velmor\VelmorR5R6"
SETTINGS = r"HKCU\Software\ASIO\VelmorR5R6"
failures = []


def check(what, ok, detail=""):
    print(("ok: " if ok else "FAIL: ") + what + ("" if ok else ": " + str(detail)), flush=True)
    if not ok:
        failures.append(what)


def wine(*args, timeout=120):
    return subprocess.run([WINE, *args], capture_output=True, text=True, timeout=timeout)


def wait_for(what, done, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        value = done()
        if value:
            return value
        time.sleep(0.1)
    print("timed out after %d s: %s" % (seconds, what), flush=True)
    return None


def panel_ask(port, api):
    """The panel's answer to one request, over UDP on loopback; None on silence."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.settimeout(1.0)
        s.sendto(json.dumps({"api": api}).encode(), ("127.0.0.1", port))
        try:
            return json.loads(s.recvfrom(2048)[0])
        except (OSError, ValueError):
            return None


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_browser():
    from selenium import webdriver  # scripts/setup installs it: missing, the test fails
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    profile = tempfile.mkdtemp(prefix="velmor-chromium-")
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--user-data-dir=" + profile, "--window-size=360,800"):
        options.add_argument(flag)
    try:
        return webdriver.Chrome(options=options, service=Service(executable_path="/usr/bin/chromedriver"))
    except Exception as error:  # no Chromium, or it cannot run here
        print("SKIP: headless Chromium does not start here (%s)" % str(error).splitlines()[0], flush=True)
        sys.exit(77)


def render_level(sim):
    out = wine(os.path.join(BIN64, "velmor-sim.exe"), "--instance", sim, "endpoints", "--json").stdout
    for endpoint in json.loads(out)["endpoints"]:
        if endpoint.get("flow") == "render" and endpoint.get("device", True):
            return endpoint["level"][0]
    return None


def main():
    for program in (PANEL, os.path.join(BIN64, "velmor-remote.exe"), os.path.join(BIN64, "asiohost.exe")):
        if not os.path.exists(program):
            print("FAIL: %s is missing (scripts/build makes it)\n0 passed, 1 failed" % program)
            return 1
    browser = start_browser()
    sim = "web-e2e-%d" % os.getpid()
    os.environ.update(VELMOR_DEVICE="simulated", VELMOR_SIM_INSTANCE=sim)
    saved = tempfile.mkdtemp(prefix="velmor-web-keys-")
    keys = [(SWITCHES, "32"), (SETTINGS, "64")]
    had = [wine("reg", "export", key, os.path.join(saved, "%d.reg" % i), "/reg:" + view, "/y").returncode == 0
           for i, (key, view) in enumerate(keys)]
    parent_had = wine("reg", "query", r"HKLM\Software\Velmor", "/reg:32").returncode == 0
    registered_here = False
    procs = []
    try:
        if "VelmorR5R6" not in wine(os.path.join(BIN64, "asiohost.exe"), "list").stdout:
            registered_here = wine("regsvr32", "/s", os.path.join(BIN64, "VelmorR5R6ASIO.dll")).returncode == 0
        for name in ("PlayRecPP", "AsioDrvPP", "RmtCtrlPP"):
            wine("reg", "add", SWITCHES, "/v", name, "/t", "REG_DWORD", "/d", "1", "/f", "/reg:32")
        wine(os.path.join(BIN64, "velmor-sim.exe"), "--instance", sim, "reset")

        port = free_udp_port()
        panel = subprocess.Popen([WINE, PANEL, "/remote:%d" % port], stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        procs.append(panel)
        check("the panel answers", wait_for("the panel's remote control", lambda: panel_ask(port, "velmor"), 240))
        serve = subprocess.Popen([WINE, os.path.join(BIN64, "velmor-remote.exe"), "--port", str(port), "--timeout",
                                  "1000", "serve", "--http", "127.0.0.1:0", "--max-volume", str(CAP)],
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        procs.append(serve)
        url = None
        for line in serve.stdout:
            print("  serve: " + line.rstrip(), flush=True)
            if line.startswith("open "):
                url = line.split()[1]
                break
        check("velmor-remote serve prints its address", url and url.startswith("http://127.0.0.1:"), url)

        from selenium.webdriver.common.by import By
        from selenium.webdriver.common.keys import Keys
        text = lambda id: browser.find_element(By.ID, id).text.replace("\xa0", " ")
        browser.get(url)
        check("the page shows the volume", wait_for("the first status", lambda: text("volume-value")[-1:] == "%", 30))
        check("the page shows the cap", text("cap") == "Limit %d %%" % CAP, text("cap"))

        slider = browser.find_element(By.ID, "volume")
        for key, what in ((Keys.HOME, "down to 0 %"), (Keys.END, "up to the cap")):
            before = render_level(sim)
            slider.send_keys(key)
            moved = wait_for("the render level after the slider", lambda: render_level(sim) != before, 10)
            check("the slider moved the device's render level " + what, moved, "still %s dB" % before)
        # Past the slider's stop, straight to the API: the server holds the cap too.
        browser.execute_async_script(
            "const done = arguments[0]; fetch('/api/playback' + location.search, {method: 'POST',"
            " headers: {'Content-Type': 'application/json'}, body: '{\"volume\":100}'}).then(done, done);")
        volume = int(panel_ask(port, "get_status")["output"]["playback"]["volume"])
        check("the volume stays at the cap", CAP - 2 <= volume <= CAP, volume)

        host = os.path.join(BIN64, "asiohost.exe")
        for rate, expected in (("96000", "PCM 96 kHz · 24 bit"), ("2822400", "DSD64")):
            play = subprocess.Popen([WINE, host, "play", "VelmorR5R6", "--rate", rate, "--bits", "24", "--seconds",
                                     "8"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            procs.append(play)
            reported = wait_for("the panel reporting the %s stream" % rate,
                                lambda: "asio" in (panel_ask(port, "get_playing_status") or {}).get("output", {}), 60)
            start = time.monotonic()
            seen = wait_for("the page showing " + expected, lambda: text("format") == expected, 10)
            late = time.monotonic() - start
            check("the page shows %s %.1f s after the panel (2 s at most)" % (expected, late),
                  reported and seen and late <= 2.0, text("format"))
            if expected.startswith("PCM") and os.environ.get("VELMOR_WEB_SCREENSHOTS") == "1":
                screenshots(browser)
            play.wait(timeout=120)

        wine(os.path.join(BIN64, "velmor-sim.exe"), "--instance", sim, "unplug")
        banner = wait_for("the banner", lambda: "not connected" in text("banner"), 15)
        check("the banner tells the device is gone", banner, text("banner"))
        panel.kill()
        panel.wait(timeout=60)
        banner = wait_for("the banner", lambda: "does not answer" in text("banner"), 15)
        check("the banner tells the panel is gone", banner, text("banner"))
    finally:
        browser.quit()
        for proc in procs:
            if proc.poll() is None:
                proc.kill()
                proc.wait(timeout=60)
        for i, (key, view) in enumerate(keys):
            wine("reg", "delete", key, "/f", "/reg:" + view)
            if had[i]:
                wine("reg", "import", os.path.join(saved, "%d.reg" % i), "/reg:" + view)
        if not parent_had:
            wine("reg", "delete", r"HKLM\Software\Velmor", "/f", "/reg:32")
        if registered_here:
            wine("regsvr32", "/s", "/u", os.path.join(BIN64, "VelmorR5R6ASIO.dll"))
            if had[1]:
                wine("reg", "import", os.path.join(saved, "1.reg"), "/reg:64")
    print("%d passed, %d failed" % (0 if failures else 1, 1 if failures else 0))
    return 1 if failures else 0


def screenshots(browser):
    docs = os.path.join(ROOT, "docs")
    browser.execute_script("document.activeElement.blur()")
    browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                            {"width": 360, "height": 820, "deviceScaleFactor": 2, "mobile": True})
    for scheme in ("light", "dark"):
        browser.execute_cdp_cmd("Emulation.setEmulatedMedia",
                                {"features": [{"name": "prefers-color-scheme", "value": scheme}]})
        time.sleep(0.3)
        path = os.path.join(docs, "web-remote-%s.png" % scheme)
        browser.save_screenshot(path)
        print("  screenshot: " + path, flush=True)
    browser.execute_cdp_cmd("Emulation.setEmulatedMedia", {"features": []})


if __name__ == "__main__":
    sys.exit(main())
