#!/usr/bin/env python3
"""Loopback stand-in for the application server that hands out the bootable image.

It answers GET requests for one path (default /halcyra/image) whose query string carries the
configured parameters plus "Rand=<0..32767>", with the image file as the body. Every other
request gets 404. For tests it can misbehave in the ways a real server or network does:

    normal    the image with its Content-Length (at most --rate bytes per second when given)
    nolength  the image without a length, the end marked by closing the connection
    404, 500  an error status with a short HTML body
    drop      the length of the whole image, half of the body, then the connection is closed
    trickle   the image with its length, in small pieces with pauses in between
    stall     the headers and the first piece, then nothing until the client goes away
    hold      the headers and the first piece, then nothing until /_control?release=1 (the rest
              then follows at once) or until the client goes away
    signin    a network's sign-in page instead of the image: status 200, text/html, its length
    signinbin the same page sent as application/octet-stream
    nosig     the image's length and bytes, but without the boot signature at offsets 510, 511
    redirect  "302 Found" to the same address with "&moved=1" added, which is then served as
              in normal mode (as a server that hands downloads to another host does)

The image goes out with an ETag (from its length and modification time, so a replaced image
gets a new one) and a Last-Modified, unless --no-validators is given: then with neither, as from
a server that can't tell one image from the next. A request whose If-None-Match names the
image's ETag gets "304 Not Modified" and no body, unless --no-conditional is given (a server
that ignores the header and sends the image again). With --not-modified weak or other, every
request with If-None-Match gets a 304 that names another ETag: the image's with "W/" before it
(as a proxy that turns it weak sends) or one of no image.

The mode is set at start (--mode) and can be changed while the server runs with
GET /_control?mode=<mode> (optionally &rate=<bytes per second>&interval=<trickle seconds>,
&image=<path> to serve another image from then on, &validators=0 or 1, &conditional=0 or 1,
&not_modified=weak, other or nothing, &release=1 to let held requests go on).
Every image served carries the boot signature 0x55 0xAA at offsets 510 and 511: the server
refuses to start with, or switch to, one that doesn't.
GET /_requests lists the image requests served so far as JSON lines, one object per request
with its path, query, Rand value, mode, start time, time of its latest write, and how it ended: "complete", "dropped" (by
the server, as the mode asks), "cut" (the client went away), "not modified" (304) or
"redirected" (302), with the bytes sent. GET /_bodies answers the number of image bodies sent
whole so far.

The server binds to 127.0.0.1 only and prints "PORT <n>" on its first output line.
"""

import argparse
import http.server
import json
import os
import socket
import sys
import threading
import time
import urllib.parse

MODES = ("normal", "nolength", "404", "500", "drop", "trickle", "stall", "hold", "signin",
         "signinbin", "nosig", "redirect")
NOT_MODIFIED = ("", "weak", "other")
COPY_BLOCK = 1 << 20
SIGN_IN_PAGE = b"""<!DOCTYPE html>
<html><head><title>Welcome to GuestNet</title></head>
<body><h1>Sign in to use the Internet</h1>
<form method="post" action="/login"><input name="room"><input type="submit" value="Connect"></form>
</body></html>
"""


def has_signature(path):
    """True when the file is at least one sector long and ends its first one in 0x55 0xAA."""
    with open(path, "rb") as f:
        sector = f.read(512)
    return len(sector) == 512 and sector[510:] == b"\x55\xaa"


class State:
    def __init__(self, args):
        self.image = args.image
        self.path = args.path
        self.query = urllib.parse.parse_qs(args.query, keep_blank_values=True)
        self.mode = args.mode
        self.trickle_bytes = args.trickle_bytes
        self.trickle_interval = args.trickle_interval
        self.rate = args.rate
        self.validators = not args.no_validators
        self.conditional = not args.no_conditional
        self.not_modified = args.not_modified
        self.bodies = 0
        self.lock = threading.Lock()
        self.requests = []
        self.release = threading.Event()

    def note(self, entry):
        with self.lock:
            self.requests.append(entry)


def parse_rand(values):
    """The Rand value of a request when it is one whole number in 0..32767, else None."""
    if len(values) != 1 or not values[0].isdigit():
        return None
    value = int(values[0])
    return value if 0 <= value <= 32767 else None


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "HalcyraImageServer/1"
    state = None  # set by main

    def log_message(self, fmt, *args):
        if self.server.verbose:
            sys.stderr.write("%s %s\n" % (self.address_string(), fmt % args))

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query, keep_blank_values=True)
        if url.path == "/_control":
            mode = query.get("mode", [self.state.mode])[0]
            if mode not in MODES:
                return self.reply_text(400, "unknown mode\n")
            self.state.mode = mode
            if "rate" in query:
                self.state.rate = int(query["rate"][0])
            if "validators" in query:
                self.state.validators = query["validators"][0] == "1"
            if "conditional" in query:
                self.state.conditional = query["conditional"][0] == "1"
            if "not_modified" in query:
                if query["not_modified"][0] not in NOT_MODIFIED:
                    return self.reply_text(400, "unknown not_modified\n")
                self.state.not_modified = query["not_modified"][0]
            if "interval" in query:
                self.state.trickle_interval = float(query["interval"][0])
            if "image" in query:
                if not has_signature(query["image"][0]):
                    return self.reply_text(400, "image without the boot signature\n")
                self.state.image = query["image"][0]
            if mode == "hold" and self.state.mode != "hold":
                self.state.release.clear()
            if query.get("release") == ["1"]:
                self.state.release.set()
            return self.reply_text(200, "mode %s\n" % mode)
        if url.path == "/_requests":
            with self.state.lock:
                body = "".join(json.dumps(r) + "\n" for r in self.state.requests
                               if r["path"] == self.state.path)
            return self.reply_text(200, body)
        if url.path == "/_bodies":
            with self.state.lock:
                return self.reply_text(200, "%d\n" % self.state.bodies)

        rand = parse_rand(query.get("Rand", []))
        expected = all(query.get(k) == v for k, v in self.state.query.items())
        mode = self.state.mode
        entry = {"path": url.path, "query": url.query, "rand": rand, "mode": mode,
                 "time": time.time(), "end": None, "sent": 0}
        self.state.note(entry)
        if url.path != self.state.path or not expected or rand is None:
            entry["end"] = "refused"
            return self.reply_text(404, "<html><body>Not found</body></html>\n", "text/html")
        if mode in ("404", "500"):
            entry["end"] = mode
            text = "Not Found" if mode == "404" else "Internal Server Error"
            return self.reply_text(int(mode), "<html><body>%s</body></html>\n" % text, "text/html")
        if mode in ("signin", "signinbin"):
            entry["end"] = mode
            kind = "text/html; charset=utf-8" if mode == "signin" else "application/octet-stream"
            return self.reply_text(200, SIGN_IN_PAGE.decode(), kind)
        if mode == "redirect":
            if "moved" not in query:
                entry["end"] = "redirected"
                self.send_response(302)
                self.send_header("Location", self.path + "&moved=1")
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            mode = entry["mode"] = "normal"
        self.send_image(mode, entry)

    def reply_text(self, status, body, kind="text/plain"):
        data = body.encode()
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", "no-cache")
        self.end_headers()
        self.wfile.write(data)

    def send_image(self, mode, entry):
        path = self.state.image
        stamp = os.stat(path)
        size = stamp.st_size
        etag = '"%x-%x"' % (size, stamp.st_mtime_ns)
        asked = [tag.strip() for tag in self.headers.get("If-None-Match", "").split(",")]
        entry["if_none_match"] = self.headers.get("If-None-Match")
        stale = self.state.not_modified if entry["if_none_match"] else ""
        if self.state.validators and (stale or self.state.conditional and etag in asked):
            self.send_response(304)
            self.send_header("ETag", {"": etag, "weak": "W/" + etag, "other": '"0-0"'}[stale])
            self.send_header("Last-Modified", self.date_time_string(stamp.st_mtime))
            self.send_header("Cache-Control", "no-cache")
            self.end_headers()
            entry["end"] = "not modified"
            entry["end_time"] = time.time()
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Cache-Control", "no-cache")
        if self.state.validators:
            self.send_header("ETag", etag)
            self.send_header("Last-Modified", self.date_time_string(stamp.st_mtime))
        if mode == "nolength":
            self.send_header("Connection", "close")
            self.close_connection = True
        else:
            self.send_header("Content-Length", str(size))
        self.end_headers()
        self.entry = entry
        try:
            with open(path, "rb") as image:
                if mode in ("normal", "nolength"):
                    self.copy(image, size)
                elif mode == "nosig":
                    sector = bytearray(image.read(512))
                    sector[510:512] = b"\0\0"
                    self.write(bytes(sector))
                    self.copy(image, size - len(sector))
                elif mode == "hold":
                    first = image.read(self.state.trickle_bytes)
                    self.write(first)
                    if self.hold():
                        entry["released"] = time.time()
                        self.copy(image, size - len(first))
                    else:
                        entry["end"] = "cut"
                elif mode == "drop":
                    self.copy(image, size // 2)
                    self.wfile.flush()
                    self.connection.shutdown(socket.SHUT_RDWR)
                    self.close_connection = True
                    entry["end"] = "dropped"
                elif mode == "trickle":
                    self.trickle(image)
                elif mode == "stall":
                    self.write(image.read(self.state.trickle_bytes))
                    self.stall()
                    entry["end"] = "cut"
            self.wfile.flush()
            if entry["end"] is None:
                entry["end"] = "complete"
                with self.state.lock:
                    self.state.bodies += 1
        except (BrokenPipeError, ConnectionResetError, OSError):
            if entry["end"] is None:
                entry["end"] = "cut"
            self.close_connection = True
        entry["end_time"] = time.time()

    def write(self, data):
        self.wfile.write(data)
        self.wfile.flush()
        self.entry["sent"] += len(data)
        self.entry["last_write"] = time.time()

    def copy(self, image, count):
        rate = self.state.rate
        block_size = min(COPY_BLOCK, max(4096, rate // 16)) if rate else COPY_BLOCK
        start, sent = time.monotonic(), 0
        while count > 0:
            block = image.read(min(block_size, count))
            if not block:
                break
            self.write(block)
            count -= len(block)
            sent += len(block)
            if rate:
                ahead = sent / rate - (time.monotonic() - start)
                if ahead > 0:
                    time.sleep(ahead)

    def trickle(self, image):
        while True:
            block = image.read(self.state.trickle_bytes)
            if not block:
                break
            self.write(block)
            time.sleep(self.state.trickle_interval)

    def hold(self):
        """Waits for the release; False when the client went away first."""
        self.connection.settimeout(0.2)
        while not self.server.stopping:
            if self.state.release.is_set():
                self.connection.settimeout(None)
                return True
            try:
                if not self.connection.recv(1):
                    return False
            except socket.timeout:
                continue
        return False

    def stall(self):
        # Waits until the client closes its end (a read returns nothing) or the server stops.
        self.connection.settimeout(0.5)
        while not self.server.stopping:
            try:
                if not self.connection.recv(1):
                    break
            except socket.timeout:
                continue
        self.close_connection = True


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    verbose = False
    stopping = False


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--image", required=True, help="file served as the image")
    parser.add_argument("--port", type=int, default=0, help="port on 127.0.0.1 (0: any free one)")
    parser.add_argument("--path", default="/halcyra/image")
    parser.add_argument("--query", default="product=halcyra&channel=current",
                        help="parameters every image request must carry (besides Rand)")
    parser.add_argument("--mode", default="normal", choices=MODES)
    parser.add_argument("--trickle-bytes", type=int, default=4096)
    parser.add_argument("--trickle-interval", type=float, default=0.2, help="seconds")
    parser.add_argument("--rate", type=int, default=0,
                        help="bytes per second for normal and nolength (0: as fast as possible)")
    parser.add_argument("--no-validators", action="store_true",
                        help="send the image without ETag and Last-Modified")
    parser.add_argument("--no-conditional", action="store_true",
                        help="ignore If-None-Match: always send the image")
    parser.add_argument("--not-modified", default="", choices=NOT_MODIFIED,
                        help="answer every If-None-Match with a 304 that names another ETag")
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args()

    if not has_signature(args.image):
        parser.error("%s lacks the boot signature 0x55 0xAA at offsets 510 and 511" % args.image)
    Handler.state = State(args)
    server = Server(("127.0.0.1", args.port), Handler)
    server.verbose = args.verbose
    print("PORT %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass
    finally:
        server.stopping = True
        server.server_close()


if __name__ == "__main__":
    main()
