#!/usr/bin/env python3
"""Local HTTPS test server: the maker's servers and broken ones, on loopback only.

Runs the HTTPS listeners (good, unknown CA, wrong host name, expired), a plain
HTTP listener, a CONNECT proxy and a control endpoint in one asyncio process.
See README.md beside this file for the interface.
"""

import argparse
import asyncio
import hashlib
import itertools
import json
import os
import signal
import socket
import ssl
import struct
import sys
import time
import urllib.parse

LOOPBACK = "127.0.0.1"
PATTERN_PERIOD = 1_000_003
PIECE = 256 * 1024
MAX_WAIT_MS = 120_000
ENDLESS_LIMIT_S = 300
HEAD_LIMIT = 64 * 1024
# Socket buffers of the server's own connections, the proxy's included: small
# enough that what the server counts as sent is close to what the client read
# (the host's defaults grow a loopback buffer to tens of MiB).
SOCKET_BUFFER = 512 * 1024
CONTROL_BODY_LIMIT = 1024 * 1024 * 1024

REASONS = {200: "OK", 204: "No Content", 206: "Partial Content", 301: "Moved Permanently",
           302: "Found", 303: "See Other", 304: "Not Modified", 307: "Temporary Redirect",
           308: "Permanent Redirect", 400: "Bad Request", 403: "Forbidden", 404: "Not Found",
           500: "Internal Server Error", 502: "Bad Gateway", 503: "Service Unavailable"}


class BadRequest(Exception):
    pass


# --- deterministic bodies -------------------------------------------------

_patterns = {}


def pattern(seed):
    """The pattern doubled up to PIECE bytes past its end, so any slice of at
    most PIECE bytes starting inside one period is one contiguous slice."""
    if seed not in _patterns:
        blocks = []
        total = 0
        for j in itertools.count():
            block = hashlib.sha256(f"qv-body:{seed}:{j}".encode()).digest()
            blocks.append(block)
            total += len(block)
            if total >= PATTERN_PERIOD:
                break
        period = b"".join(blocks)[:PATTERN_PERIOD]
        _patterns[seed] = period + period[:PIECE]
    return _patterns[seed]


def pattern_slice(seed, offset, length):
    data = pattern(seed)
    start = offset % PATTERN_PERIOD
    return memoryview(data)[start:start + min(length, PIECE)]


def pattern_bytes(size, seed):
    out = bytearray()
    while len(out) < size:
        out += pattern_slice(seed, len(out), size - len(out))
    return bytes(out)


_digests = {}


def pattern_sha256(size, seed):
    key = (size, seed)
    if key not in _digests:
        digest = hashlib.sha256()
        offset = 0
        while offset < size:
            piece = pattern_slice(seed, offset, size - offset)
            digest.update(piece)
            offset += len(piece)
        _digests[key] = digest.hexdigest()
    return _digests[key]


class PatternBody:
    def __init__(self, size, seed):
        self.size = size  # None: endless
        self.seed = seed

    def open(self):
        return self

    def read(self, offset, length):
        return pattern_slice(self.seed, offset, length)

    def close(self):
        pass


class BytesBody:
    def __init__(self, data):
        self.data = memoryview(data)
        self.size = len(data)

    def open(self):
        return self

    def read(self, offset, length):
        return self.data[offset:offset + min(length, PIECE)]

    def close(self):
        pass


class FileBody:
    def __init__(self, path):
        self.path = path
        self.size = os.path.getsize(path)
        self.handle = None

    def open(self):
        opened = FileBody(self.path)
        opened.handle = open(self.path, "rb")
        return opened

    def read(self, offset, length):
        self.handle.seek(offset)
        return self.handle.read(min(length, PIECE))

    def close(self):
        if self.handle:
            self.handle.close()


def linux_path(path):
    """Accepts a Linux path or the Windows view of one (Z:\\...)."""
    if len(path) >= 2 and path[1] == ":" and path[0] in "zZ":
        return path[2:].replace("\\", "/") or "/"
    return path


# --- state shared by the listeners ------------------------------------------

class RequestRecord:
    def __init__(self, number, lines):
        self.number = number
        self.lines = lines
        self.sent = None  # body bytes handed to the connection; None until the answer has ended

    def __str__(self):
        sent = "-" if self.sent is None else self.sent
        return f"request {self.number}\n" + "".join(line + "\n" for line in self.lines) + f"sent {sent}\nend\n"


class State:
    def __init__(self, folder):
        self.folder = folder
        self.ports = {}
        self.sequence = itertools.count(1)
        self.requests = []          # (target, RequestRecord)
        self.connects = []          # (host:port, text)
        self.blobs = {}
        self.host_rules = {}
        self.routes = {}            # fixed path -> directive text
        self.host_counters = {}
        self.rule_ids = itertools.count(1)
        self.proxy_links = {}       # proxy's outgoing port -> "host:port"
        self.log = open(os.path.join(folder, "requests.log"), "a", encoding="utf-8")

    def listener_for_port(self, port):
        for name, value in self.ports.items():
            if value == port:
                return name
        return None

    def record_request(self, listener, peer_port, method, target, version, headers):
        record = RequestRecord(next(self.sequence), [
            f"listener {listener}", f"connect {self.proxy_links.get(peer_port, '-')}", f"method {method}",
            f"target {target}", f"path {origin_form(target)}", f"version {version}"]
            + [f"header {name}: {value}" for name, value in headers])
        self.requests.append((target, record))
        self.log.write(f"request {record.number}\n" + "".join(line + "\n" for line in record.lines) + "end\n")
        self.log.flush()
        return record

    def record_sent(self, record, sent):
        """The body bytes that the answer to a request handed to its connection, once the answer has ended."""
        record.sent = sent
        self.log.write(f"sent {record.number} {sent}\n")
        self.log.flush()

    def record_connect(self, target, outcome):
        text = f"connect {next(self.sequence)} {target} {outcome}\n"
        self.connects.append((target, text))
        self.log.write(text)
        self.log.flush()

    def next_rule_entry(self, rule_id, host):
        rules = self.host_rules.get(rule_id)
        if rules is None:
            raise BadRequest(f"unknown hosts id {rule_id}")
        key = host if host in rules else "*"
        entries = rules.get(key)
        if not entries:
            return ""
        count = self.host_counters.get((rule_id, key), 0)
        self.host_counters[(rule_id, key)] = count + 1
        return entries[min(count, len(entries) - 1)]


# --- HTTP parsing -------------------------------------------------------------

async def read_head(reader):
    try:
        head = await reader.readuntil(b"\r\n\r\n")
    except asyncio.IncompleteReadError as error:
        if error.partial.strip():
            raise BadRequest("incomplete request head")
        return None
    except asyncio.LimitOverrunError:
        raise BadRequest("request head too long")
    lines = head.decode("iso-8859-1").split("\r\n")
    parts = lines[0].split(" ")
    if len(parts) != 3:
        raise BadRequest("bad request line")
    headers = []
    for line in lines[1:]:
        if not line:
            continue
        name, _, value = line.partition(":")
        headers.append((name, value.strip()))
    return parts[0], parts[1], parts[2], headers, head


def header_value(headers, name):
    for key, value in headers:
        if key.lower() == name.lower():
            return value
    return None


async def read_request_body(reader, headers):
    length = int(header_value(headers, "Content-Length") or 0)
    if length > CONTROL_BODY_LIMIT:
        raise BadRequest("request body too large")
    return await reader.readexactly(length) if length else b""


def wants_close(version, headers):
    connection = (header_value(headers, "Connection") or "").lower()
    return connection == "close" or (version == "HTTP/1.0" and connection != "keep-alive")


def response_head(status, headers):
    lines = [f"HTTP/1.1 {status} {REASONS.get(status, 'Status')}"]
    lines += [f"{name}: {value}" for name, value in headers]
    return ("\r\n".join(lines) + "\r\n\r\n").encode("iso-8859-1")


async def simple_response(writer, status, body=b"", content_type="text/plain"):
    writer.write(response_head(status, [("Content-Type", content_type),
                                        ("Content-Length", str(len(body)))]) + body)
    await writer.drain()


# --- scenarios ----------------------------------------------------------------

def parse_directives(text):
    directives = {}
    for item in text.split(","):
        if not item:
            continue
        name, has_value, value = item.partition("=")
        directives[urllib.parse.unquote(name)] = urllib.parse.unquote(value) if has_value else ""
    return directives


def origin_form(target):
    """Wine's WinHTTP sends the absolute form ("https://host:443/path") even
    inside a CONNECT tunnel, as does any client talking plain HTTP to a proxy."""
    if target.startswith("http://") or target.startswith("https://"):
        parsed = urllib.parse.urlsplit(target)
        target = parsed.path or "/"
        if parsed.query:
            target += "?" + parsed.query
    return target


def split_target(target, routes):
    target = origin_form(target)
    route = routes.get(target.split("?", 1)[0])
    if route is not None:
        return parse_directives(route), target.lstrip("/")
    if not target.startswith("/x/"):
        return {}, target.lstrip("/")
    rest = target[3:]
    directive_text, _, tail = rest.partition("/")
    directive_text = directive_text.split("?", 1)[0]
    return parse_directives(directive_text), tail


def bounded_ms(value):
    return max(0, min(int(value), MAX_WAIT_MS)) / 1000.0


class Scenario:
    def __init__(self, state, target, headers, tls):
        directives, self.tail = split_target(target, state.routes)
        host_header = header_value(headers, "Host") or LOOPBACK
        self.host_header = host_header
        self.host = host_header.rsplit(":", 1)[0].lower() if not host_header.startswith("[") else host_header
        if "hosts" in directives:
            entry = state.next_rule_entry(directives.pop("hosts"), self.host)
            directives.update(parse_directives(entry))
        self.d = directives
        self.state = state
        self.tls = tls

    def number(self, name, default):
        value = self.d.get(name)
        return default if value is None or value == "" else int(value)

    def body(self):
        if "blob" in self.d:
            blob = self.state.blobs.get(self.d["blob"])
            if blob is None:
                raise BadRequest(f"unknown blob {self.d['blob']}")
            return blob
        if "endless" in self.d:
            return PatternBody(None, self.number("seed", 0))
        return PatternBody(self.number("size", 0), self.number("seed", 0))

    def status(self):
        if "redirect" in self.d:
            status = self.number("status", 302)
            return status if 300 <= status < 400 else 302
        return self.number("status", 200)

    def extra_headers(self):
        headers = []
        if "redirect" in self.d:
            kind = self.d["redirect"]
            if kind == "http":
                location = f"http://{self.host}:{self.state.ports['http_port']}/{self.tail}"
            else:
                location = f"https://{self.d.get('to') or self.host_header}/{self.tail}"
            headers.append(("Location", location))
        for name in ("header",):
            if name in self.d:
                key, _, value = self.d[name].partition(":")
                headers.append((key, value))
        return headers


def small_buffers(sock):
    for option in (socket.SO_SNDBUF, socket.SO_RCVBUF):
        sock.setsockopt(socket.SOL_SOCKET, option, SOCKET_BUFFER)


def reset_on_close(writer):
    """The next close sends a TCP reset, as a broken network path does."""
    sock = writer.get_extra_info("socket")
    if sock is not None:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))


async def flush_then_abort(writer, reset=False):
    """Ends the connection without a TLS close_notify, once what was written
    has left the process."""
    await writer.drain()
    for _ in range(100):
        if writer.transport.get_write_buffer_size() == 0:
            break
        await asyncio.sleep(0.01)
    if reset:
        await asyncio.sleep(0.05)
        reset_on_close(writer)
    writer.transport.abort()


async def pace(started, sent, rate):
    if rate:
        wait = started + sent / rate - time.monotonic()
        if wait > 0:
            await asyncio.sleep(wait)


async def send_body(writer, scenario, body, framing, counted):
    """Returns False when the connection was cut on purpose. counted(n) is told of every n body bytes written."""
    total = body.size
    cut = scenario.number("cut", -1)
    stall_ms = scenario.number("stall", 0)
    stall_at = scenario.number("stallat", 0)
    rate = scenario.number("rate", 0)
    deadline = time.monotonic() + ENDLESS_LIMIT_S
    piece_limit = max(1, min(PIECE, rate // 20)) if rate else PIECE
    started = time.monotonic()
    offset = 0
    stalled = False
    while total is None or offset < total:
        if total is None and time.monotonic() > deadline:
            break
        # A client that has gone must end the body at once: writes to the
        # closed transport neither fail nor wait, so the loop would spin.
        if connection_gone(writer):
            break
        if stall_ms and not stalled and offset >= stall_at:
            stalled = True
            await writer.drain()
            await asyncio.sleep(bounded_ms(stall_ms))
        length = piece_limit if total is None else min(piece_limit, total - offset)
        if stall_ms and not stalled:
            length = min(length, stall_at - offset)
        if cut >= 0:
            length = min(length, cut - offset)
            if length <= 0:
                await writer.drain()
                await flush_then_abort(writer)
                return False
        data = body.read(offset, length)
        if not data:
            break
        if framing == "chunked":
            writer.write(b"%x\r\n" % len(data))
            writer.write(data)
            writer.write(b"\r\n")
        else:
            writer.write(data)
        offset += len(data)
        counted(len(data))
        await writer.drain()
        await pace(started, offset, rate)
    if cut >= 0:
        await flush_then_abort(writer, reset=True)
        return False
    if framing == "chunked":
        writer.write(b"0\r\n\r\n")
    await writer.drain()
    return True


def connection_gone(writer):
    """True once the peer's connection is closed, also below a TLS layer,
    whose own transport is not told when the socket under it fails."""
    if writer.is_closing():
        return True
    raw = getattr(getattr(writer.transport, "_ssl_protocol", None), "_transport", None)
    return raw is not None and raw.is_closing()


async def serve_scenario(writer, state, method, target, headers, tls, counted):
    scenario = Scenario(state, target, headers, tls)
    delay = scenario.number("delay", 0)
    if delay:
        await asyncio.sleep(bounded_ms(delay))
    status = scenario.status()
    body = scenario.body().open()
    try:
        length_mode = scenario.d.get("length", "exact")
        if body.size is None and length_mode not in ("close",):
            length_mode = "chunked"
        no_body = method == "HEAD" or status in (204, 304) or status < 200
        head = [("Content-Type", "application/octet-stream")]
        if length_mode == "exact":
            head.append(("Content-Length", str(body.size)))
        elif length_mode == "chunked":
            head.append(("Transfer-Encoding", "chunked"))
        elif length_mode != "close":
            head.append(("Content-Length", str(int(length_mode))))
        head += scenario.extra_headers()
        # Every answer ends its connection. Wine's WinHTTP keeps one pool per
        # proxy, not per host, and would send the next request for another host
        # or port down a tunnel opened for this one, past that host's own
        # certificate and behaviour.
        head.append(("Connection", "close"))
        writer.write(response_head(status, head))
        if not no_body:
            await send_body(writer, scenario, body, length_mode, counted)
        await writer.drain()
        if length_mode == "close":
            # Wine's WinHTTP misses the end of a close-delimited body that ends
            # with a TLS close_notify and waits for its receive timeout; ending
            # with the bare TCP close, as many servers do, ends it at once.
            await flush_then_abort(writer)
    finally:
        body.close()


async def handle_http(state, listener, tls, reader, writer):
    peer_port = writer.get_extra_info("peername")[1]
    record, sent = None, [0]

    def counted(count):
        sent[0] += count
    try:
        request = await read_head(reader)
        if request is None:
            return
        method, target, version, headers, _ = request
        record = state.record_request(listener, peer_port, method, target, version, headers)
        await read_request_body(reader, headers)
        try:
            await serve_scenario(writer, state, method, target, headers, tls, counted)
        except (BadRequest, ValueError) as error:
            await simple_response(writer, 400, f"{error}\n".encode())
    except (BadRequest, ConnectionError, asyncio.IncompleteReadError, ssl.SSLError):
        pass
    finally:
        if record is not None:
            state.record_sent(record, sent[0])
        close_quietly(writer)


def close_quietly(writer):
    try:
        writer.close()
    except Exception:
        pass


# --- CONNECT proxy --------------------------------------------------------------

async def pipe(reader, writer, half_close):
    try:
        while True:
            data = await reader.read(PIECE)
            if not data:
                break
            writer.write(data)
            await writer.drain()
    except ConnectionResetError:
        reset_on_close(writer)  # pass a reset on, so the client sees the cut
        writer.transport.abort()
        return
    except (ConnectionError, asyncio.CancelledError):
        pass
    if half_close and writer.can_write_eof():
        try:
            writer.write_eof()
            return
        except Exception:
            pass
    close_quietly(writer)


def connect_target_port(state, port):
    if port == 1:
        return None  # a server that cannot be reached
    if state.listener_for_port(port) in ("https_port", "unknown_ca_port", "wrong_host_port",
                                         "expired_port", "http_port"):
        return port
    return state.ports["https_port"]


async def handle_proxy(state, reader, writer):
    try:
        request = await read_head(reader)
        if request is None:
            return
        method, target, _, _, head = request
        if method == "CONNECT":
            host, _, port_text = target.rpartition(":")
            local_port = connect_target_port(state, int(port_text))
            if local_port is None:
                state.record_connect(target, "refused")
                await simple_response(writer, 502, b"unreachable\n")
                return
            state.record_connect(target, state.listener_for_port(local_port)[:-len("_port")])
            up_reader, up_writer = await asyncio.open_connection(LOOPBACK, local_port)
            small_buffers(up_writer.get_extra_info("socket"))
            state.proxy_links[up_writer.get_extra_info("sockname")[1]] = target
            writer.write(b"HTTP/1.1 200 Connection established\r\n\r\n")
            await writer.drain()
        else:
            up_reader, up_writer = await asyncio.open_connection(LOOPBACK, state.ports["http_port"])
            state.proxy_links[up_writer.get_extra_info("sockname")[1]] = "plain"
            up_writer.write(head)
        # The server ending its side ends the tunnel: Wine does not notice a
        # half-closed tunnel and would wait for its receive timeout.
        await asyncio.gather(pipe(reader, up_writer, True), pipe(up_reader, writer, False))
    except (BadRequest, ValueError, ConnectionError, asyncio.IncompleteReadError):
        pass
    finally:
        close_quietly(writer)


# --- control endpoint -------------------------------------------------------------

def query_number(query, name, default=0):
    values = query.get(name)
    return int(values[0]) if values else default


def matching(records, query):
    text = (query.get("contains") or [""])[0]
    return "".join(str(record) for key, record in records if text in key).encode()


async def control(state, method, target, body):
    parsed = urllib.parse.urlsplit(target)
    path = parsed.path
    query = urllib.parse.parse_qs(parsed.query)
    if method == "GET" and path == "/health":
        return 200, b"ok\n"
    if method == "GET" and path == "/body":
        return 200, pattern_bytes(query_number(query, "size"), query_number(query, "seed"))
    if method == "GET" and path == "/sha256":
        size, seed = query_number(query, "size"), query_number(query, "seed")
        return 200, (await asyncio.to_thread(pattern_sha256, size, seed)).encode()
    if method == "PUT" and path.startswith("/blob/"):
        name = urllib.parse.unquote(path[len("/blob/"):])
        if "path" in query:
            file_path = linux_path(query["path"][0])
            blob = FileBody(file_path)
            digest = await asyncio.to_thread(file_sha256, file_path)
        else:
            blob = BytesBody(body)
            digest = hashlib.sha256(body).hexdigest()
        state.blobs[name] = blob
        return 200, digest.encode()
    if method in ("POST", "PUT") and (path == "/hosts" or path.startswith("/hosts/")):
        rules = json.loads(body.decode("utf-8"))
        rules = {key.lower(): ([value] if isinstance(value, str) else list(value))
                 for key, value in rules.items()}
        rule_id = path[len("/hosts/"):] if method == "PUT" else f"h{next(state.rule_ids)}"
        state.host_rules[rule_id] = rules
        for key in [key for key in state.host_counters if key[0] == rule_id]:
            del state.host_counters[key]
        return 200, rule_id.encode()
    if method == "PUT" and path == "/route":
        # Fixed addresses such as the segment manifest's take their scenario
        # from here; an empty body removes the route.
        route_path = (query.get("path") or [""])[0]
        if body:
            state.routes[route_path] = body.decode("utf-8")
        else:
            state.routes.pop(route_path, None)
        return 200, b"ok\n"
    if method == "GET" and path == "/requests":
        return 200, matching(state.requests, query)
    if method == "GET" and path == "/connects":
        return 200, matching(state.connects, query)
    return 404, b"no such control request\n"


def file_sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as stream:
        for piece in iter(lambda: stream.read(1 << 20), b""):
            digest.update(piece)
    return digest.hexdigest()


async def handle_control(state, reader, writer):
    try:
        while True:
            request = await read_head(reader)
            if request is None:
                break
            method, target, version, headers, _ = request
            body = await read_request_body(reader, headers)
            try:
                status, answer = await control(state, method, target, body)
            except (OSError, ValueError, KeyError) as error:
                status, answer = 400, f"{error}\n".encode()
            await simple_response(writer, status, answer, "application/octet-stream")
            if wants_close(version, headers):
                break
    except (BadRequest, ConnectionError, asyncio.IncompleteReadError):
        pass
    finally:
        close_quietly(writer)


# --- start-up -------------------------------------------------------------------------

def tls_context(certs, name):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(os.path.join(certs, f"{name}.pem"), os.path.join(certs, f"{name}.key"))
    return context


async def watch_lifetime(parent_pid, time_limit):
    deadline = time.monotonic() + time_limit
    while time.monotonic() < deadline:
        if parent_pid:
            try:
                os.kill(parent_pid, 0)
            except ProcessLookupError:
                return "parent process ended"
        await asyncio.sleep(1)
    return "time limit reached"


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--folder", required=True, help="<build>/testserver")
    parser.add_argument("--parent-pid", type=int, default=0)
    parser.add_argument("--time-limit", type=int, default=100 * 60)
    args = parser.parse_args()

    state = State(args.folder)
    certs = os.path.join(args.folder, "certs")
    servers = []

    async def listen(name, handler, context=None):
        server = await asyncio.start_server(handler, LOOPBACK, 0, ssl=context, limit=HEAD_LIMIT,
                                            ssl_handshake_timeout=30 if context else None)
        # Accepted connections take the listening socket's buffer sizes.
        small_buffers(server.sockets[0])
        state.ports[name] = server.sockets[0].getsockname()[1]
        servers.append(server)

    for name, cert in (("https_port", "good"), ("unknown_ca_port", "unknown-ca"),
                       ("wrong_host_port", "wrong-host"), ("expired_port", "expired")):
        await listen(name, lambda r, w, n=name: handle_http(state, n[:-5], True, r, w),
                     tls_context(certs, cert))
    await listen("http_port", lambda r, w: handle_http(state, "http", False, r, w))
    await listen("proxy_port", lambda r, w: handle_proxy(state, r, w))
    await listen("control_port", lambda r, w: handle_control(state, r, w))

    pattern(0)
    endpoints = os.path.join(args.folder, "endpoints.txt")
    with open(endpoints + ".new", "w") as stream:
        for name, port in state.ports.items():
            stream.write(f"{name}={port}\n")
        stream.write(f"pid={os.getpid()}\n")
    os.replace(endpoints + ".new", endpoints)
    print(f"listening: {state.ports}", flush=True)

    stop = asyncio.get_running_loop().create_future()
    for signum in (signal.SIGTERM, signal.SIGINT):
        asyncio.get_running_loop().add_signal_handler(
            signum, lambda: stop.done() or stop.set_result("signal"))
    lifetime = asyncio.ensure_future(watch_lifetime(args.parent_pid, args.time_limit))
    done, _ = await asyncio.wait([stop, lifetime], return_when=asyncio.FIRST_COMPLETED)
    print(f"stopping: {done.pop().result()}", flush=True)
    for server in servers:
        server.close()
    try:
        os.remove(endpoints)
    except FileNotFoundError:
        pass


if __name__ == "__main__":
    socket.setdefaulttimeout(None)
    asyncio.run(main())
    sys.exit(0)
