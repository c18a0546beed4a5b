"""The page of bmpface serve in headless Chromium, on 127.0.0.1 only: pick the sample by keyboard
focus and the file input, see the explain picture, the crop and the JSON, change an option and see
the crop change. Exit 77 (skipped) where Chromium, its driver or Selenium is missing.

  serve_page_test.py BMPFACE SAMPLE.bmp
"""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile

BMPFACE = os.path.abspath(sys.argv[1])
SAMPLE = os.path.abspath(sys.argv[2])

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    print("SKIP: no Selenium (Debian python3-selenium)")
    sys.exit(77)
CHROMIUM = shutil.which("chromium")
DRIVER = shutil.which("chromedriver")
if not CHROMIUM or not DRIVER:
    print("SKIP: no headless Chromium (Debian chromium and chromium-driver)")
    sys.exit(77)


def main():
    profile = tempfile.mkdtemp(prefix="bmpface-page-")
    server = subprocess.Popen([BMPFACE, "serve", "--listen", "127.0.0.1:0"],
                              stderr=subprocess.PIPE, text=True)
    port = json.loads(server.stderr.readline())["port"]
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--no-first-run",
                 "--user-data-dir=" + profile]:
        options.add_argument(flag)
    try:
        browser = webdriver.Chrome(service=Service(DRIVER), options=options)
    except Exception:
        server.kill()
        server.wait()
        shutil.rmtree(profile, ignore_errors=True)
        raise
    failures = []
    try:
        browser.get("http://127.0.0.1:%d/" % port)
        wait = WebDriverWait(browser, 30)
        # The drop zone is reached by the keyboard and says what it is.
        drop = browser.find_element(By.ID, "drop")
        if drop.get_attribute("tabindex") != "0" or drop.get_attribute("role") != "button":
            failures.append("drop zone not keyboard accessible")
        browser.find_element(By.ID, "file").send_keys(SAMPLE)
        wait.until(lambda b: b.find_element(By.ID, "json").text.strip().startswith("{"))
        detected = json.loads(browser.find_element(By.ID, "json").text)
        if detected.get("status") != "face":
            failures.append("JSON: %r" % detected)

        def loaded(image_id):
            return browser.execute_script(
                "const i = document.getElementById(arguments[0]);"
                "return i.complete && i.naturalWidth > 0 ? [i.naturalWidth, i.naturalHeight] "
                ": null;", image_id)

        wait.until(lambda b: loaded("crop") and loaded("explain"))
        before = loaded("crop")
        margin = browser.find_element(By.ID, "margin")
        margin.send_keys("0.3", Keys.TAB)  # by the keyboard: leaving the field applies it
        wait.until(lambda b: loaded("crop") and loaded("crop") != before)
        after = loaded("crop")
        if not (after[0] > before[0] and after[1] >= before[1]):
            failures.append("crop with a margin %r, without %r" % (after, before))
        status = browser.find_element(By.ID, "status").text
        if "face at" not in status:
            failures.append("status line: %r" % status)
    finally:
        browser.quit()
        server.send_signal(signal.SIGTERM)
        server.wait(timeout=30)
        shutil.rmtree(profile, ignore_errors=True)
    for f in failures:
        print("FAIL", f)
    print("page: %s" % ("all passed" if not failures else "%d failures" % len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
