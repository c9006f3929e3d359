"""The web server of `serve`: Starlette routes behind a guard, run by uvicorn.

The guard comes first for every request: the Host header must name the
loopback (or the address given with --host), the request must carry the
token (in the address once, then in a cookie), a change also in a header,
and a body is refused past its size limit.

The web libraries are optional (the serve extra): their imports tell the
type checkers so, and the package checks clean with or without them."""
import hmac
import json
import os
import secrets
import socket
from typing import Any, Dict, List, Optional, Set, cast
from urllib.parse import urlencode

import uvicorn  # type: ignore[import-not-found, unused-ignore]
from starlette.applications import Starlette  # type: ignore[import-not-found, unused-ignore]
from starlette.concurrency import run_in_threadpool  # type: ignore[import-not-found, unused-ignore]
from starlette.datastructures import MutableHeaders  # type: ignore[import-not-found, unused-ignore]
from starlette.requests import Request  # type: ignore[import-not-found, unused-ignore]
from starlette.responses import (  # type: ignore[import-not-found, unused-ignore]
    HTMLResponse, JSONResponse, PlainTextResponse, RedirectResponse, Response)
from starlette.routing import Route  # type: ignore[import-not-found, unused-ignore]
from starlette.types import ASGIApp, Message, Receive, Scope, Send  # type: ignore[import-not-found, unused-ignore]

from yolpt import errors
from yolpt.errors import Error
from yolpt.serve import pages
from yolpt.serve.store import Conflict, Refusal, Store, editor_text

# The largest request body taken: a change is one value.
BODY_LIMIT = 256 * 1024

TOKEN_HEADER = "X-Yolpt-Token"
LOOPBACK_NAMES = {"127.0.0.1", "localhost", "[::1]"}
WILDCARDS = {"0.0.0.0", "::", ""}

STATIC = {"serve.css": "text/css; charset=utf-8", "serve.js": "text/javascript; charset=utf-8"}
_STATIC_FOLDER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "static")

SECURITY_HEADERS = {
    # Nothing but this server's own style and script, and no inline code.
    "Content-Security-Policy": "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
                               "connect-src 'self'; form-action 'none'; frame-ancestors 'none'; base-uri 'none'",
    "X-Content-Type-Options": "nosniff",
    "X-Frame-Options": "DENY",
    "Referrer-Policy": "no-referrer",
    "Cache-Control": "no-store",
}


class Settings:
    def __init__(self, store: Store, token: str, port: int, hosts: Set[str]) -> None:
        self.store = store
        self.token = token
        self.hosts = hosts                      # the names a Host header may give
        self.cookie = "yolpt_serve_%d" % port   # one per port: cookies do not tell ports apart

    def is_token(self, text: Optional[str]) -> bool:
        return text is not None and hmac.compare_digest(text.encode("utf-8", "replace"),
                                                        self.token.encode("ascii"))


def host_name(header: str) -> str:
    """The name of a Host header without its port: 127.0.0.1, [::1], localhost."""
    header = header.strip().lower()
    if header.startswith("["):
        end = header.find("]")
        return header[:end + 1] if end > 0 else header
    return header.rpartition(":")[0] if ":" in header else header


class Guard:
    """Refuses, before any route runs, what does not come from the page."""

    def __init__(self, app: ASGIApp, settings: Settings) -> None:
        self.app = app
        self.settings = settings

    async def __call__(self, scope: Scope, receive: Receive, send: Send) -> None:
        if scope["type"] != "http":
            await self.app(scope, receive, send)
            return

        async def send_secured(message: Message) -> None:
            if message["type"] == "http.response.start":
                headers = MutableHeaders(scope=message)
                for name, value in SECURITY_HEADERS.items():
                    headers[name] = value
            await send(message)

        request = Request(scope)
        refused = self.refusal(request)
        if refused is not None:
            await refused(scope, receive, send_secured)
            return
        given = request.query_params.get("token")
        if given is not None and request.method in ("GET", "HEAD"):
            # The token leaves the address for a cookie, which the page's requests carry.
            others = [(key, value) for key, value in request.query_params.multi_items() if key != "token"]
            response = RedirectResponse(request.url.path + ("?" + urlencode(others) if others else ""),
                                        status_code=303)
            response.set_cookie(self.settings.cookie, self.settings.token, httponly=True, samesite="strict",
                                path="/")
            await response(scope, receive, send_secured)
            return
        await self.app(scope, receive, send_secured)

    def refusal(self, request: Request) -> Optional[Response]:
        settings = self.settings
        host = request.headers.get("host")
        if host is None or host_name(host) not in settings.hosts:
            return PlainTextResponse("refused: the Host header %s is not an address of this server (%s): "
                                     "open the address that yolpt serve printed"
                                     % ("is missing" if host is None else repr(host),
                                        ", ".join(sorted(settings.hosts))), status_code=400)
        given = request.query_params.get("token")
        if given is None:
            given = request.cookies.get(settings.cookie)
        if given is None:
            return PlainTextResponse("refused: no token: open the address that yolpt serve printed, "
                                     "http://HOST:PORT/?token=...", status_code=403)
        if not settings.is_token(given):
            return PlainTextResponse("refused: wrong token: open the address that this yolpt serve printed "
                                     "(each start makes a new token)", status_code=403)
        if request.method not in ("GET", "HEAD") and not settings.is_token(request.headers.get(TOKEN_HEADER)):
            return PlainTextResponse("refused: a change needs the token in the header %s as well (the page's "
                                     "script sends it): nothing written" % TOKEN_HEADER, status_code=403)
        length = request.headers.get("content-length")
        if length is not None and (not length.isdigit() or int(length) > BODY_LIMIT):
            return PlainTextResponse("refused: the body is larger than %d bytes: nothing written" % BODY_LIMIT,
                                     status_code=413)
        return None


def build(settings: Settings) -> ASGIApp:
    store = settings.store

    def languages(request: Request) -> List[str]:
        return pages.accepted_languages(request.headers.get("accept-language"))

    def folder_name() -> str:
        return os.path.basename(os.path.abspath(store.root))

    async def tree(request: Request) -> Response:
        wanted = languages(request)
        top = await run_in_threadpool(store.tree)
        note = ('<p class="note">Descriptions in the language your browser asks for (%s) where they have it, '
                'else in their default text.</p>' % pages.escape(", ".join(wanted) or "none"))
        return HTMLResponse(pages.page("%s: yolpt serve" % folder_name(), store.root, pages.tree_html(top, wanted),
                                       settings.token, "/", note))

    async def check(request: Request) -> Response:
        found = await run_in_threadpool(store.findings)
        return HTMLResponse(pages.page("%s: check: yolpt serve" % folder_name(), store.root,
                                       pages.check_html(store.root, found), settings.token, "/check"))

    async def static(request: Request) -> Response:
        name = request.path_params["name"]
        if name not in STATIC:
            return PlainTextResponse("no such file", status_code=404)
        with open(os.path.join(_STATIC_FOLDER, name), "rb") as handle:
            return Response(handle.read(), media_type=STATIC[name])

    async def change(request: Request) -> Response:
        try:
            fields = _fields(await _body(request))
            view = await run_in_threadpool(store.change, fields["book"], fields["parameter"], fields["attribute"],
                                           fields["text"], fields["type"], fields["version"])
        except Conflict as exc:
            return JSONResponse({"error": str(exc), "version": exc.book.version,
                                 "theirs": editor_text(exc.theirs) if exc.present else None,
                                 "theirs_html": pages.value_html(exc.theirs) if exc.present else None,
                                 "html": pages.book_html(exc.book, languages(request))}, status_code=exc.status)
        except Refusal as exc:
            return JSONResponse({"error": str(exc)}, status_code=exc.status)
        return JSONResponse({"version": view.version, "html": pages.book_html(view, languages(request))})

    routes = [Route("/", tree, methods=["GET"]), Route("/check", check, methods=["GET"]),
              Route("/static/{name}", static, methods=["GET"]), Route("/api/set", change, methods=["POST"])]
    return Guard(Starlette(routes=routes), settings)


async def _body(request: Request) -> bytes:
    """The body, refused past the limit also where no Content-Length announced it."""
    data = b""
    async for chunk in request.stream():
        data += chunk
        if len(data) > BODY_LIMIT:
            raise Refusal(413, "the body is larger than %d bytes: nothing written" % BODY_LIMIT)
    return data


def _fields(data: bytes) -> Dict[str, Any]:
    """The fields of a change: book, parameter and attribute names, the text
    of the value, its type (null: the one stored) and the book's version."""
    try:
        parsed: Any = json.loads(data.decode("utf-8"))
    except ValueError as exc:
        raise Refusal(400, "the body is not JSON: %s" % exc)
    if not isinstance(parsed, dict):
        raise Refusal(400, "the body is not a JSON object")
    fields = cast(Dict[str, Any], parsed)
    for name in ("book", "parameter", "attribute", "text", "version"):
        if not isinstance(fields.get(name), str):
            raise Refusal(400, "the field %r is missing or not a string" % name)
    if not isinstance(fields.get("type"), (str, type(None))):
        raise Refusal(400, "the field 'type' is a type's name or null")
    fields.setdefault("type", None)
    return fields


def _listening_socket(host: str, port: int) -> socket.socket:
    family = socket.AF_INET6 if ":" in host else socket.AF_INET
    listener = socket.socket(family, socket.SOCK_STREAM)
    try:
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind((host, port))
        listener.listen(128)  # before the address is printed: connections wait for the server
    except OSError as exc:
        listener.close()
        raise Error("cannot listen on %s port %d: %s" % (host, port, errors.describe(exc)))
    return listener


def serve(root: str, host: Optional[str], port: int) -> int:
    """Serves the folder until the process is interrupted."""
    listen = (host or "127.0.0.1").strip("[]")
    listener = _listening_socket(listen, port)
    port = listener.getsockname()[1]
    hosts = set(LOOPBACK_NAMES)
    shown = "127.0.0.1"
    if host is not None and listen not in WILDCARDS:
        shown = "[%s]" % listen if ":" in listen else listen
        hosts.add(shown.lower())
    token = secrets.token_urlsafe(32)
    settings = Settings(Store(root), token, port, hosts)
    if host is not None:
        errors.tell("warning", "listening on %s, not only on this machine's loopback: whoever reaches it with "
                               "the address printed can change the books" % listen)
    print("http://%s:%d/?token=%s" % (shown, port, token), flush=True)
    errors.tell("note", "serving %s; Ctrl-C stops" % root)
    config = uvicorn.Config(build(settings), lifespan="off", log_level="warning", access_log=False, http="h11",
                            loop="asyncio", proxy_headers=False, server_header=False)
    try:
        uvicorn.Server(config).run(sockets=[listener])
    except KeyboardInterrupt:  # uvicorn raises Ctrl-C again once it has shut down
        pass
    errors.tell("note", "stopped")
    return errors.OK

