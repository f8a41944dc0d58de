"""Drives the page `kelvora view` writes in headless Chromium, the way a person uses it, and checks
it against the command line: markers and slices equal `analyse --json`, the slider re-cuts like
`--sensitivity`, its command line exports the same slices, a slice auditioned plays exactly its
samples, and a slice downloaded from the page equals the exported one.
Usage: view_page_test.py KELVORA CHROMIUM CHROMEDRIVER ARTIFACT_FOLDER"""
import json
import pathlib
import shlex
import subprocess
import sys
import tempfile
import time

import numpy
import soundfile
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

TOOL, CHROMIUM, DRIVER, ARTIFACTS = sys.argv[1:5]
RATE, FRAMES = 44100, 88200
# Uneven levels, so the sensitivity matters. The faint first tick, 120 frames in, cuts only at
# high sensitivities, and there the tool folds the sliver it would make into the next slice.
HITS = [120, 9000, 22050, 31000, 44100, 57500, 66150, 80000]
LEVELS = [0.03, 0.25, 0.8, 0.12, 1.0, 0.4, 0.6, 0.18]
SENSITIVITIES = ["0.1", "0.3", "0.9"]
SLICE = 3  # the slice auditioned and downloaded, numbered from 1 as on the page

# Runs before the page's own script: the page's AudioContext becomes an OfflineAudioContext, so
# what the page plays can be rendered and read back sample by sample.
INSTRUMENT = """
window.pageErrors = [];
addEventListener("error", (e) => pageErrors.push(String(e.message)));
addEventListener("unhandledrejection", (e) => pageErrors.push(String(e.reason)));
window.AudioContext = class extends OfflineAudioContext {
  constructor(options) {
    super({ numberOfChannels: 2, length: %d, sampleRate: options.sampleRate });
    window.pageAudio = this;
  }
  resume() { return Promise.resolve(); }
};
""" % FRAMES


def clicks():
    """Decaying noise bursts at known frames, a different level each."""
    noise = numpy.random.default_rng(7)
    audio = numpy.zeros((FRAMES, 2), numpy.float32)
    burst = numpy.exp(-numpy.arange(882) / 150.0)[:, None]
    for hit, level in zip(HITS, LEVELS):
        audio[hit:hit + 882] += level * burst * noise.uniform(-0.9, 0.9, (882, 2))
    return audio


def kelvora(*args):
    run = subprocess.run([TOOL, *map(str, args)], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    return run.stdout


def analyse(loop, sensitivity):
    return json.loads(kelvora("analyse", "--json", "--sensitivity", sensitivity, loop))[0]


def browser(folder):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("headless=new no-sandbox disable-gpu disable-quic no-first-run disable-sync "
                 "disable-background-networking disable-component-update window-size=1280,720 "
                 f"user-data-dir={folder / 'profile'}").split():
        options.add_argument("--" + flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service(DRIVER), options=options)
    driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": INSTRUMENT})
    driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                           {"behavior": "allow", "downloadPath": str(folder / "downloads")})
    return driver


def main(folder):
    loop, page = folder / "clicks.wav", folder / "clicks.html"
    source = clicks()
    soundfile.write(loop, source, RATE, subtype="FLOAT")
    report = analyse(loop, "0.5")
    print(kelvora("view", loop, "-o", page), end="")

    driver = browser(folder)
    try:
        driver.get(page.as_uri())
        markers = driver.execute_script(
            "return [...document.querySelectorAll('#overlay .point')].map((e) =>"
            " [Number(e.dataset.position), Number(e.dataset.strength), e.dataset.active === 'true'])")
        assert markers == [[s["position"], s["strength"], s["active"]] for s in report["slices"]]
        cutting = [position for position, _, active in markers if active]
        assert len(cutting) == report["activeSlices"] == len(HITS) - 1, cutting
        assert all(abs(p - hit) <= 16 for p, hit in zip(cutting, HITS[1:])), cutting

        counts = []
        for sensitivity in SENSITIVITIES:
            shown = driver.execute_script(
                "const slider = document.getElementById('sensitivity');"
                "slider.value = arguments[0]; slider.dispatchEvent(new Event('input'));"
                "const count = document.getElementById('active-count').dataset; return"
                " [+count.active, +count.slices, document.getElementById('command').textContent]",
                sensitivity)
            cli = analyse(loop, sensitivity)
            assert shown[:2] == [cli["activeSlices"], len(cli["regions"])], (sensitivity, shown)
            counts.append(shown[0])
        assert len(set(counts)) == len(counts), f"the sensitivities chosen cut alike: {counts}"

        # The command the page offers exports the slices shown at the last sensitivity.
        command = shlex.split(shown[2])
        assert command[:2] == ["kelvora", "export"] and "--dir" in command, command
        command[command.index("--dir") + 1] = str(folder / "exported")
        kelvora(*command[1:])
        exported = sorted((folder / "exported").glob("clicks-slice*.wav"))
        assert len(exported) == shown[1], (len(exported), shown[1])

        # Its number key plays the slice; what the page's audio graph renders is that region.
        region = cli["regions"][SLICE - 1]
        start, length = region["start"], region["length"]
        driver.find_element(By.TAG_NAME, "body").send_keys(str(SLICE))
        played = numpy.array(driver.execute_async_script(
            "const done = arguments[0]; pageAudio.startRendering().then((b) =>"
            " done([0, 1].map((c) => Array.from(b.getChannelData(c)))))"), numpy.float32).T
        assert numpy.array_equal(played[:length], source[start:start + length])
        assert not played[length:].any(), "the audition plays past its slice"

        driver.find_elements(By.CSS_SELECTOR, "#slices .download")[SLICE - 1].click()
        downloaded = folder / "downloads" / f"clicks-slice0{SLICE}.wav"
        for _ in range(200):
            if not downloaded.exists():
                time.sleep(0.1)
        assert soundfile.info(str(downloaded)).subtype == "FLOAT"
        saved, rate = soundfile.read(downloaded, dtype="float32")
        expected, expectedRate = soundfile.read(exported[SLICE - 1], dtype="float32")
        assert rate == expectedRate == RATE and numpy.array_equal(saved, expected)
        assert numpy.array_equal(saved, source[start:start + length])

        driver.set_window_size(390, 844)  # a phone: nothing may stick out sideways
        overflow = driver.execute_script(
            "return document.documentElement.scrollWidth - document.documentElement.clientWidth")
        assert overflow <= 0, f"{overflow} px wider than a phone screen"
        driver.set_window_size(1280, 720)
        driver.execute_script("const slider = document.getElementById('sensitivity');"
                              "slider.value = 0.5; slider.dispatchEvent(new Event('input'))")
        driver.save_screenshot(str(pathlib.Path(ARTIFACTS) / "view-page.png"))

        errors = driver.execute_script("return pageErrors")
        errors += [e["message"] for e in driver.get_log("browser") if e["level"] == "SEVERE"]
        assert not errors, errors
    finally:
        driver.quit()
    print("view page: markers, slider, command, audition and download match the tool")


if __name__ == "__main__":
    with tempfile.TemporaryDirectory(prefix="kelvora-view-") as folder:
        main(pathlib.Path(folder))
