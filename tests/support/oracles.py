"""Each rule of the module's texts, stated once in plain Python, for the tests and the benchmarks."""

import json
import re

METHODS = ["GET", "POST", "PUT", "DELETE", "HEAD", "OPTIONS", "PATCH", "TRACE", "CONNECT"]
SCHEMA = "https://schema.getpostman.com/json/collection/v2.1.0/collection.json"
BARE = re.compile(r"[A-Za-z0-9@%+=:,./_-]+")  # a url that stands unquoted
SCHEME = re.compile(r"[A-Za-z][A-Za-z0-9+.\-]*(?=://)")  # explicit ranges: ASCII only
# What no command line carries: a NUL anywhere, a line break in a header, a name's leading "@".
NUL, BREAK, NAME = re.compile(r"\0"), re.compile(r"[\0\r\n]"), re.compile(r"\A@|[\0\r\n]")
WHY = {"\0": "holds a NUL character, which no shell can pass to a program"}
WHY["@"] = "begins with '@', which makes curl read headers from a file of that name"
WHY["\r"] = "holds a line break (CR or LF), which curl would send as further header lines"
WHY["\n"] = WHY["\r"]


def _single(text):
    return "'" + text.replace("'", "'\\''") + "'"


def _double(text):
    return text.replace("\\", "\\\\").replace('"', '\\"').replace("$", "\\$").replace("`", "\\`")


def curl_line(url, headers, method, body):
    """The command line for (url, [(name, value)], method name, body or None), or ValueError."""
    texts = [("the url", url, NUL)]
    for i, (n, v) in enumerate(headers):
        texts += [(f"the name of header {i}", n, NAME), (f"the value of header {i}", v, BREAK)]
    texts += [] if body is None else [("the body", body, NUL)]
    for where, text, unpassable in texts:
        if found := unpassable.search(text):
            raise ValueError(f"cannot render the command line: {where} {WHY[found[0]]}")
    return quoted_line(url, headers, method, body)


def quoted_line(url, headers, method, body):
    line = f"curl -X {method} " + (url if BARE.fullmatch(url) else _single(url))
    line += "".join(f' -H "{_double(name)}: {_double(value)}"' for name, value in headers)
    if body is not None:
        line += (" --data-raw " if body.startswith("@") else " -d ") + _single(body)
    return line


def curl_words(url, headers, method, body):
    out = ["-X", method, url, *(word for n, v in headers for word in ("-H", f"{n}: {v}"))]
    if body is not None:
        out += ["--data-raw" if body.startswith("@") else "-d", body]
    return out


def url_doc(url):
    """The url object; its host stands after "scheme://", or a leading "//", up to the next "/"."""
    scheme = SCHEME.match(url)
    start = scheme.end() + 3 if scheme else 2 if url.startswith("//") else 0
    host, slash, path = url[start:].partition("/")
    path = path.split("/") if slash else []
    return {"raw": url, "protocol": scheme[0] if scheme else "https", "host": host, "path": path}


def document(data):
    """The document for (url, headers, method name, body) tuples; ValueError at a hostless url."""
    items = []
    for position, (url, headers, method, body) in enumerate(data):
        if not (cut := url_doc(url))["host"]:
            where = f"the request at position {position} of the collection"
            raise ValueError(f"cannot export {where}: its url '{url}' has no host")
        header = [{"key": name, "value": value} for name, value in headers]
        body = {"mode": "raw", "raw": "" if body is None else body}
        request = {"method": method, "header": header, "body": body, "url": cut}
        items.append({"name": url, "request": request})
    return {"info": {"name": "Pemrik Collection", "schema": SCHEMA}, "item": items}


def export_text(data):
    return json.dumps(document(data), sort_keys=True, separators=(",", ":"), ensure_ascii=False)
