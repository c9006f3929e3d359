"""yolpt serve: the real server on a free loopback port, read over HTTP and
driven in a real headless Chromium (Debian's chromium and chromium-driver,
through Selenium). Where the interpreter, the serve extra or the browser is
missing the tests skip, unless YOL_REQUIRE_BROWSER=1 asks them to fail."""
import http.client
import json
import os
import re
import shutil
import signal
import subprocess
import sys

import pytest

from support import python_command, read_bytes, read_line, run_child, start_child, stop
from yol_vovoruze import Parameter, ParameterBook, ParameterDirectory

REQUIRED = os.environ.get("YOL_REQUIRE_BROWSER") == "1"
BODY_LIMIT = 256 * 1024
# What the page's browser must not inherit from a sanitizer run.
NOT_FOR_THE_BROWSER = ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "PYTHONMALLOC")


def unavailable(reason):
    if REQUIRED:
        pytest.fail(reason + " (YOL_REQUIRE_BROWSER=1)")
    pytest.skip(reason)


def need_server():
    if sys.version_info < (3, 8):
        unavailable("yolpt serve needs Python 3.8 or newer")
    try:
        import starlette  # noqa: F401
        import uvicorn  # noqa: F401
    except ImportError as exc:
        unavailable("the serve extra is not installed (%s)" % exc)


class Server:
    """`yolpt serve FOLDER` in a child process, and the address it printed."""

    def __init__(self, folder, *options):
        need_server()
        self.folder = folder
        self.process = start_child(python_command(["-m", "yolpt", "serve", folder, "--port", "0"] + list(options)))
        self.url = read_line(self.process)
        found = re.match(r"http://([^/]+):(\d+)/\?token=([\w-]+)$", self.url)
        assert found, self.url
        self.host, self.port, self.token = found.group(1), int(found.group(2)), found.group(3)
        self.cookie = "yolpt_serve_%d=%s" % (self.port, self.token)

    def request(self, method, path, body=None, host=None, cookie=True, headers=None, chunked=False):
        """(status, text) of one request, by default with the cookie the page has."""
        connection = http.client.HTTPConnection(self.host.strip("[]"), self.port, timeout=60)
        sent = {"Host": host or "%s:%d" % (self.host, self.port)}
        if cookie:
            sent["Cookie"] = self.cookie
        sent.update(headers or {})
        if chunked:
            connection.request(method, path, body=iter([body]), headers=sent, encode_chunked=True)
        else:
            connection.request(method, path, body=body, headers=sent)
        response = connection.getresponse()
        text = response.read().decode("utf-8")
        connection.close()
        return response.status, text

    def close(self):
        """Stops the server as Ctrl-C does; its stderr is kept."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGINT)
        try:
            self.stderr = self.process.communicate(timeout=30)[1]
        except subprocess.TimeoutExpired:
            stop(self.process)
            raise


def machine():
    speed = Parameter({"default": "Motor speed", "de_DE": "Motordrehzahl"}, value=1200, unit="rpm", limits=[0, 3000])
    torque = Parameter("Torque", value=2.5, unit="Nm", curve=[{"x": 0, "y": 1.5}, {"x": 10, "y": 2.5}], on=True)
    left = ParameterBook({"speed": speed, "torque": torque})
    return ParameterDirectory({"motors": ParameterDirectory({"left": left, "right": left.clone()}),
                               "plant": ParameterBook({"site": Parameter("Site", name="Halle 3")})})


@pytest.fixture(scope="module")
def served(tmp_path_factory):
    """A served folder with a link to a book folder outside it."""
    base = tmp_path_factory.mktemp("serve")
    folder = str(base / "config")
    machine().save(folder)
    ParameterDirectory({"secret": ParameterBook({"key": Parameter("Key", value=1)})}).save(str(base / "outside"))
    os.symlink(str(base / "outside"), os.path.join(folder, "elsewhere"))
    server = Server(folder)
    yield server
    server.close()


def book_file(server, address):
    return os.path.join(server.folder, address + ".yolpt")


def snapshot(folder):
    """Every file below `folder`, links followed, with its bytes."""
    found = {}
    for where, _, files in os.walk(os.path.dirname(folder), followlinks=True):
        for name in files:
            found[os.path.join(where, name)] = read_bytes(os.path.join(where, name))
    return found


def change(server, version=None, **fields):
    body = dict({"book": "motors/left", "parameter": "speed", "attribute": "value", "text": "1", "type": None,
                 "version": version or "0"}, **fields)
    return json.dumps(body).encode()


WRITE = {"X-Yolpt-Token": None, "Content-Type": "application/json"}


@pytest.mark.parametrize("method, path, body, how, status, message", [
    ("GET", "/", None, {"cookie": False}, 403, "no token"),
    ("GET", "/?token=guessed", None, {"cookie": False}, 403, "wrong token"),
    ("GET", "/static/serve.js", None, {"cookie": False}, 403, "no token"),
    ("GET", "/", None, {"host": "evil.example"}, 400, "Host header 'evil.example'"),
    ("POST", "/api/set", change(None), {"host": "attacker.example:80", "headers": WRITE}, 400, "Host header"),
    ("POST", "/api/set", change(None), {}, 403, "X-Yolpt-Token"),
    ("POST", "/api/set", change(None), {"cookie": False, "headers": WRITE}, 403, "no token"),
    ("POST", "/api/set", change(None, book="../outside/secret"), {"headers": WRITE}, 400, "not the address"),
    ("POST", "/api/set", change(None, book="motors/../plant"), {"headers": WRITE}, 400, "not the address"),
    ("POST", "/api/set", change(None, book="/etc/passwd"), {"headers": WRITE}, 400, "not the address"),
    ("POST", "/api/set", change(None, book="elsewhere/secret", parameter="key"), {"headers": WRITE}, 403,
     "outside the folder"),
    ("POST", "/api/set", b"x" * (BODY_LIMIT + 1), {"headers": WRITE}, 413, "larger than"),
    ("POST", "/api/set", b"x" * (BODY_LIMIT + 1), {"headers": WRITE, "chunked": True}, 413, "larger than"),
])
def test_refusals_change_nothing(served, method, path, body, how, status, message):
    headers = {key: served.token if value is None else value for key, value in how.get("headers", {}).items()}
    before = snapshot(served.folder)
    answer = served.request(method, path, body, **dict(how, headers=headers))
    assert answer[0] == status and message in answer[1], answer
    assert snapshot(served.folder) == before


@pytest.mark.parametrize("accepted, shown", [("de-DE,de;q=0.9,en;q=0.8", "Motordrehzahl"),
                                             ("de-AT", "Motordrehzahl"), ("fr-FR, en;q=0.5", "Motor speed"),
                                             ("en, de;q=0.5", "Motordrehzahl"), ("", "Motor speed")])
def test_descriptions_in_the_readers_language_without_script(served, accepted, shown):
    status, page = served.request("GET", "/", headers={"Accept-Language": accepted})
    assert status == 200
    descriptions = re.findall(r'data-parameter="speed"><h3>speed</h3><p class="description"[^>]*><span[^>]*>([^<]*)',
                              page)
    assert descriptions == [shown, shown]  # left and right
    assert '<span class="v v-string">Halle 3</span>' in page and "read only" in page  # the linked folder


def test_check_view(served):
    orphan = book_file(served, "ghost") + "-"
    shutil.copy(book_file(served, "plant"), orphan)
    try:
        status, page = served.request("GET", "/check")
    finally:
        os.remove(orphan)
    assert status == 200 and "orphan backup" in page and "ghost.yolpt-" in page


def test_where_serve_cannot_start(tmp_path):
    """Before 3.8, and without the serve extra, it says what it needs."""
    program = "import sys; sys.modules['uvicorn'] = None; from yolpt.cli import main; sys.exit(main())"
    done = run_child(python_command(program, ["serve", str(tmp_path)]))
    needs = "Python 3.8 or newer" if sys.version_info < (3, 8) else 'pip install "yol_vovoruze[serve]"'
    assert done.returncode == 1 and needs in done.stderr, done.stderr


def test_host_option_warns_and_names_the_host(tmp_path):
    machine().save(str(tmp_path / "config"))
    server = Server(str(tmp_path / "config"), "--host", "127.0.0.2")
    try:
        assert server.host == "127.0.0.2"
        assert server.request("GET", "/")[0] == 200
        assert server.request("GET", "/", host="localhost:%d" % server.port)[0] == 200
    finally:
        server.close()
    assert server.process.returncode == 0  # Ctrl-C is the way to stop it
    assert "warning: listening on 127.0.0.2" in server.stderr and "stopped" in server.stderr


# ---------------------------------------------------------------- the browser


@pytest.fixture(scope="module")
def browser():
    """Headless Chromium whose language is German."""
    need_server()
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError as exc:
        unavailable("Selenium is not installed (%s)" % exc)
    binary = shutil.which("chromium") or shutil.which("chromium-browser")
    driver_binary = shutil.which("chromedriver")
    if not binary or not driver_binary:
        unavailable("no chromium and chromedriver on PATH (Debian: apt-get install chromium chromium-driver)")
    options = webdriver.ChromeOptions()
    options.binary_location = binary
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--window-size=1100,1000", "--lang=de-DE"):
        options.add_argument(argument)
    options.add_experimental_option("prefs", {"intl.accept_languages": "de-DE,de"})
    environment = {key: value for key, value in os.environ.items() if key not in NOT_FOR_THE_BROWSER}
    driver = webdriver.Chrome(service=Service(driver_binary, env=environment), options=options)
    yield driver
    driver.quit()


class Page:
    """The page in one browser window, as a person uses it."""

    def __init__(self, driver, server):
        from selenium.webdriver.support.ui import WebDriverWait
        self.driver, self.server = driver, server
        self.wait = WebDriverWait(driver, 30)
        driver.get(server.url)
        self.wait.until(lambda d: d.execute_script("return document.documentElement.classList.contains('js')"))
        assert "token=" not in driver.current_url  # the token moved to a cookie

    def row(self, book, parameter, attribute):
        return self.driver.find_element("css selector", 'section[data-book="%s"] [data-parameter="%s"] '
                                        'tr[data-attribute="%s"]' % (book, parameter, attribute))

    def edit(self, book, parameter, attribute, text, type_name=None, save=True):
        row = self.row(book, parameter, attribute)
        row.find_element("css selector", "button.edit").click()
        field = row.find_element("css selector", ".field")
        field.clear()
        field.send_keys(text)
        if type_name:
            self.choose_type(row, type_name)
        if save:
            self.save(row)
        return row

    def choose_type(self, row, type_name):
        from selenium.webdriver.support.ui import Select
        Select(row.find_element("css selector", "select.type-choice")).select_by_value(type_name)

    def save(self, row):
        row.find_element("css selector", "button.save").click()

    def shown(self, book, parameter, attribute):
        """The value's text once the book's section shows it (not an editor)."""
        def settled(driver):
            try:
                row = self.row(book, parameter, attribute)
                return None if row.find_elements("css selector", "form.editor") else \
                    row.find_element("css selector", "td.value").text
            except Exception:  # replaced while read
                return None
        return self.wait.until(settled)

    def message(self, row, selector):
        return self.wait.until(lambda d: row.find_element("css selector", selector).text)


def test_german_page_edits_typed_values(served, browser, tmp_path):
    page = Page(browser, served)
    speed = browser.find_element("css selector", 'section[data-book="motors/left"] [data-parameter="speed"] '
                                                 '.description')
    assert speed.text.startswith("Motordrehzahl")
    artifacts = os.environ.get("YOL_SERVE_ARTIFACTS") or str(tmp_path)
    os.makedirs(artifacts, exist_ok=True)
    assert browser.save_screenshot(os.path.join(artifacts, "serve.png"))

    left = book_file(served, "motors/left")
    page.edit("motors/left", "speed", "value", "1500")
    assert page.shown("motors/left", "speed", "value") == "1500"
    page.edit("motors/left", "torque", "value", "3")
    assert page.shown("motors/left", "torque", "value") == "3.0"
    stored = ParameterBook.load(left)
    assert (stored.speed.value, stored.torque.value) == (1500, 3.0)
    assert type(stored.speed.value) is int and type(stored.torque.value) is float

    before = read_bytes(left)
    row = page.edit("motors/left", "speed", "value", "fast")
    assert "holds an integer" in page.message(row, ".reason")
    assert read_bytes(left) == before
    page.choose_type(row, "string")  # in the editor still open, beside the reason
    page.save(row)
    assert page.shown("motors/left", "speed", "value") == "fast"
    assert ParameterBook.load(left).speed.value == "fast"


def test_a_stale_page_does_not_overwrite(served, browser):
    right = book_file(served, "motors/right")
    first = browser.current_window_handle
    mine = Page(browser, served)
    row = mine.edit("motors/right", "speed", "value", "1700", save=False)

    browser.switch_to.new_window("tab")
    other = Page(browser, served)
    other.edit("motors/right", "speed", "value", "1800")
    assert other.shown("motors/right", "speed", "value") == "1800"
    browser.close()
    browser.switch_to.window(first)

    mine.save(row)
    assert "changed on disk" in mine.message(row, ".conflict")
    assert "1800" in row.find_element("css selector", ".conflict .theirs").text
    assert ParameterBook.load(right).speed.value == 1800
    mine.save(row)  # "Save mine over it", against the version now shown
    assert mine.shown("motors/right", "speed", "value") == "1700"
    assert ParameterBook.load(right).speed.value == 1700

    # A program's save meanwhile: the page takes the version on disk.
    row = mine.edit("motors/right", "speed", "unit", "rps", save=False)
    book = ParameterBook.load(right)
    book.speed.unit = "U/min"
    book.save(right, False)
    mine.save(row)
    mine.message(row, ".conflict")
    row.find_element("css selector", "button.take-theirs").click()
    assert mine.shown("motors/right", "speed", "unit") == "U/min"
    assert ParameterBook.load(right).speed.unit == "U/min"
