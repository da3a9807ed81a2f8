"""The lab's browser view in headless Chromium against a real lab server and
driver: sign in, connect, add and run a job, its measurement, a comparison
with a standard made from it, history and trend. Screenshots of each view go
to VANTOREL_SCREENSHOTS (default <build>/screenshots)."""

from __future__ import annotations

import os
import shutil
import sys
import unittest
from pathlib import Path

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from lab_harness import ADMIN_TOKEN, BUILD, LabProcesses  # noqa: E402

try:
    from selenium import webdriver
    from selenium.common.exceptions import StaleElementReferenceException, TimeoutException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import Select, WebDriverWait
except ImportError:  # reported as a failure below
    webdriver = None

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
SHOTS = Path(os.environ.get("VANTOREL_SCREENSHOTS") or BUILD / "screenshots")
JOB, SAMPLES = "Batch-07", 3


class BrowserTest(unittest.TestCase):
    def setUp(self) -> None:
        # The test command installs them (scripts/install-deps.sh): missing
        # is a fault of the machine's set-up, not a reason to pass.
        self.assertTrue(webdriver and shutil.which(CHROMIUM) and shutil.which(CHROMEDRIVER),
                        "needs python3-selenium, chromium and chromium-driver (scripts/install-deps.sh)")
        self.lab = LabProcesses().start()
        self.addCleanup(self.lab.stop)
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for arg in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--window-size=1400,1000"):
            options.add_argument(arg)
        self.browser = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        self.addCleanup(self.browser.quit)
        SHOTS.mkdir(parents=True, exist_ok=True)

    # ---- helpers ----

    def wait(self, what: str, condition, limit_s: float = 15.0):
        try:
            # Live events redraw the instrument view: an element found a moment ago may be gone.
            return WebDriverWait(self.browser, limit_s, poll_frequency=0.05,
                                 ignored_exceptions=(StaleElementReferenceException,)).until(lambda d: condition())
        except TimeoutException:
            shown = self.browser.execute_script(
                "const m = document.getElementById('message'); return m && !m.hidden ? m.innerText : '';")
            self.fail(f"{what}: not within {limit_s} s; page message {shown!r}; lab {self.lab.diagnostics()}")

    def find(self, css: str):
        found = self.browser.find_elements(By.CSS_SELECTOR, css)
        return found[0] if found and found[0].is_displayed() else None

    def text(self, css: str) -> str:
        return self.browser.execute_script(
            "const e = document.querySelector(arguments[0]); return e ? e.innerText : '';", css)

    def click(self, what: str, css: str) -> None:
        def clicked() -> bool:
            e = self.find(css)
            if not e or not e.is_enabled():
                return False
            e.click()
            return True

        self.wait(what, clicked)

    def image_loaded(self, css: str) -> bool:
        return bool(self.browser.execute_script(
            "const i = document.querySelector(arguments[0]); return !!i && i.complete && i.naturalWidth > 0;", css))

    def shot(self, name: str) -> None:
        self.assertTrue(self.browser.save_screenshot(str(SHOTS / f"{name}.png")), name)

    def go(self, hash_: str) -> None:
        self.browser.execute_script("location.hash = arguments[0];", hash_)

    # ---- the lab's day ----

    def test_measure_compare_and_browse(self) -> None:
        b, lab = self.browser, self.lab
        b.get(lab.base_url + "/")
        token = self.wait("sign-in form", lambda: self.find("#login-form input[name=token]"))
        self.assertEqual(token.get_attribute("type"), "password")
        token.send_keys(ADMIN_TOKEN)
        b.find_element(By.CSS_SELECTOR, "#login-form button[type=submit]").click()
        self.wait("user in header", lambda: self.find("#role") and self.find("#role").text == "admin")
        self.assertEqual(b.find_element(By.ID, "user").text, "Lab Admin")

        lab.wait_reachable()
        b.refresh()  # the page may have drawn the instrument before the driver answered
        self.click("connect button", "button[data-action=connect]")
        self.wait("instrument connected", lambda: self.find("#add-job-form") and self.find("table[data-instrument=local]"))

        form = b.find_element(By.ID, "add-job-form")
        form.find_element(By.NAME, "name").send_keys(JOB)
        form.find_element(By.NAME, "make").send_keys("Azure lacquer")
        samples = form.find_element(By.NAME, "samples")
        samples.clear()
        samples.send_keys(str(SAMPLES))
        form.find_element(By.CSS_SELECTOR, "button[type=submit]").click()
        row = f"tr[data-job='{JOB}']"
        self.click("run button", row + " button[data-action=run]")
        done = f"{SAMPLES} of {SAMPLES}"
        self.wait("progress reaches all samples", lambda: done in self.text(row + " td.progress"))
        self.wait("instrument idle again", lambda: self.text("[data-test=instrument-state]") == "idle")
        self.shot("instruments")

        self.click("measurement button", row + " button[data-action=measurement]")
        self.wait("record view", lambda: b.current_url.split("#")[-1].startswith("/records/"))
        record = b.current_url.split("/records/")[-1]
        self.wait("spectra image", lambda: self.image_loaded("#spectra"))
        self.wait("geometry table", lambda: b.find_elements(By.CSS_SELECTOR, "#geometry-table tr[data-geometry]"))
        self.assertTrue(b.find_elements(By.CSS_SELECTOR, "a[data-test=image-link]"))
        self.shot("measurement")

        lab.api("POST", "/api/standards", {"name": "Azure", "from": "#" + record}, expect=201)
        b.refresh()
        select = self.wait("standard choice", lambda: self.find("#compare-form select[name=standard] option[value=Azure]")
                           and self.find("#compare-form select[name=standard]"))
        Select(select).select_by_value("Azure")
        b.find_element(By.CSS_SELECTOR, "#compare-form button[type=submit]").click()
        verdict = self.wait("verdict", lambda: self.find("#verdict"))
        self.assertEqual(verdict.text, "PASS")
        self.assertIn("pass", verdict.get_attribute("class"))
        self.assertTrue(b.find_elements(By.CSS_SELECTOR, "#comparison-table tr[data-geometry]"))
        self.assertTrue(self.find("#report-link"))
        b.execute_script("arguments[0].scrollIntoView({block: 'center'});", verdict)
        self.shot("comparison")

        self.go("#/records")
        self.wait("record in history", lambda: self.find(f"#records-table tr[data-record='{record}']"))
        self.shot("history")

        self.go("#/standards/Azure")
        self.wait("trend image", lambda: self.image_loaded("#trend"))
        self.wait("trend row", lambda: b.find_elements(By.CSS_SELECTOR, "#trend-table tr[data-comparison]"))
        self.shot("trend")

        # Everything came from the lab itself, and the session cookie is out of the page's reach.
        origin = b.execute_script("return location.origin;")
        urls = b.execute_script("return performance.getEntriesByType('resource').map(e => e.name);")
        self.assertTrue(urls)
        self.assertEqual([u for u in urls if not u.startswith(origin + "/")], [])
        self.assertNotIn(ADMIN_TOKEN, b.execute_script("return document.cookie;"))


if __name__ == "__main__":
    unittest.main()
