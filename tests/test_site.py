"""The built documentation site in a real browser: served on localhost and
opened in headless Chromium, as a reader would open it. Runs when
TARNU_DOCS_SITE names the built site (`make docs-check` sets it); saves a
screenshot of each page it opens beside the site."""

import functools
import html.parser
import os
import shutil
import subprocess
import threading
import urllib.parse
from http.server import SimpleHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

import pytest

SITE = Path(os.environ.get("TARNU_DOCS_SITE", "")).resolve()
pytestmark = pytest.mark.skipif("TARNU_DOCS_SITE" not in os.environ,
                                reason="TARNU_DOCS_SITE is not set (make docs-check sets it)")
PAGES = ["index.html", "api/distance/geodesic_distance.html", "gallery/index.html"]


class Links(html.parser.HTMLParser):
    """The links, images (with their alt text) and element ids of a page."""

    def __init__(self, text):
        super().__init__()
        self.hrefs, self.images, self.ids = [], [], set()
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        self.ids.add(attrs.get("id"))
        if tag == "a" and attrs.get("href"):
            self.hrefs.append(attrs["href"])
        if tag == "img":
            self.images.append((attrs.get("src"), attrs.get("alt")))


@pytest.fixture(scope="module")
def server():
    """The site on a free localhost port; `requests` lists (path, status) of
    every request it answered."""
    class Handler(SimpleHTTPRequestHandler):
        def log_message(self, *args):
            pass

        def send_response(self, code, message=None):
            served.requests.append((urllib.parse.urlsplit(self.path).path, code))
            super().send_response(code, message)

    served = ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Handler, directory=SITE))
    served.requests = []
    served.base = f"http://127.0.0.1:{served.server_port}/"
    thread = threading.Thread(target=served.serve_forever, daemon=True)
    thread.start()
    yield served
    served.shutdown()
    thread.join()


def chromium(tmp_path, *args):
    """Headless Chromium with a profile of its own; the page's scripts get
    ten seconds of virtual time to finish before it reports."""
    browser = shutil.which("chromium")
    assert browser, "chromium is not installed (make docs-check installs it)"
    result = subprocess.run(
        [browser, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
         f"--user-data-dir={tmp_path / 'profile'}", "--virtual-time-budget=10000", *args],
        capture_output=True, text=True, timeout=180)
    assert result.returncode == 0, result.stderr[-2000:]
    return result.stdout


def site_path(page, link):
    """The file a relative link of a page names, and its fragment."""
    url = urllib.parse.urlsplit(urllib.parse.urljoin(page, link))
    return SITE / urllib.parse.unquote(url.path), url.fragment


@pytest.mark.parametrize("page", PAGES)
def test_site_page_loads_everything_in_the_browser(page, server, tmp_path):
    server.requests.clear()
    dom = Links(chromium(tmp_path, "--dump-dom", server.base + page))
    failed = [(path, status) for path, status in server.requests if status >= 400]
    assert failed == []
    shot = SITE.parent / "screenshots" / page.replace("/", "-").replace(".html", ".png")
    shot.parent.mkdir(exist_ok=True)
    chromium(tmp_path, "--window-size=1280,1000", f"--screenshot={shot}", server.base + page)
    assert shot.stat().st_size > 10_000
    requested = {path for path, status in server.requests if status == 200}
    for src, alt in dom.images:
        assert alt, f"{page}: image {src} has no alt text"
        assert "/" + str(site_path(page, src)[0].relative_to(SITE)) in requested, src


def test_site_search_finds_a_function(server, tmp_path):
    dom = chromium(tmp_path, "--dump-dom", server.base + "search.html?q=geodesic_distance")
    assert ("/searchindex.js", 200) in server.requests
    shot = SITE.parent / "screenshots" / "search.png"
    chromium(tmp_path, "--window-size=1280,1000", f"--screenshot={shot}",
             server.base + "search.html?q=geodesic_distance")
    results = [h for h in Links(dom).hrefs if h.startswith("api/")]
    assert "api/distance/geodesic_distance.html" in results


def test_site_has_no_broken_internal_links_or_images():
    pages = {p: Links(p.read_text(encoding="utf-8")) for p in SITE.rglob("*.html")}
    assert len(pages) > 50
    broken = []
    for page, links in pages.items():
        relative = str(page.relative_to(SITE))
        for link in links.hrefs + [src for src, _ in links.images]:
            if urllib.parse.urlsplit(link).scheme or link.startswith("#") and len(link) == 1:
                continue
            target, fragment = site_path(relative, link)
            if target.is_dir():
                target /= "index.html"
            if not target.is_file():
                broken.append((relative, link))
            elif fragment and target.suffix == ".html" and fragment not in pages[target].ids:
                broken.append((relative, link))
    assert broken == []
