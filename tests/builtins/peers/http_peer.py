#!/usr/bin/python3
"""HTTP peer of the socket tests: Python's http.server on 127.0.0.1 and an ephemeral port, printed as "port N".

/chunked     a chunked body (lower-case field name), written in pieces that split a size line
/nolength    neither length nor chunks: the body ends with the connection
/continue    an interim "100 Continue" before the real reply
/lower       a Content-Length field in lower case
/huge        a Content-Length far beyond what a client takes
/badchunk    a chunked body whose second size line is not one
/short       a body that ends (the connection closes) before its Content-Length
POST         the request's content type and body echoed back
anything else: the path, host and user agent the request carried
"""
import http.server


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def raw(self, data):
        self.wfile.write(data)
        self.wfile.flush()
        self.close_connection = True

    def do_GET(self):
        if self.path == "/chunked":
            self.raw(b"HTTP/1.1 200 OK\r\ntransfer-encoding: Chunked\r\nConnection: close\r\n\r\n")
            for piece in (b"5\r\nhello\r\n1", b"0\r\n, chunked", b" world!\r\n", b"0\r\n\r\n"):
                self.raw(piece)
        elif self.path == "/nolength":
            self.raw(b"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + b"to the end " * 300)
        elif self.path == "/continue":
            self.raw(b"HTTP/1.1 100 Continue\r\n\r\n")
            self.raw(b"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\nafter")
        elif self.path == "/lower":
            self.raw(b"HTTP/1.1 200 OK\r\ncontent-length: 4\r\nConnection: close\r\n\r\nlowerXXXX")
        elif self.path == "/badchunk":
            self.raw(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n5\r\nhello\r\nnot a size\r\n")
        elif self.path == "/short":
            self.raw(b"HTTP/1.1 200 OK\r\nContent-Length: 10\r\nConnection: close\r\n\r\nabc")
        elif self.path == "/huge":
            self.raw(b"HTTP/1.1 200 OK\r\nContent-Length: 99999999999\r\nConnection: close\r\n\r\nstart")
        else:
            body = ("path=%s host=%s ua=%s" % (self.path, self.headers["Host"], self.headers["User-Agent"])).encode()
            self.reply(body)

    def do_POST(self):
        length = int(self.headers["Content-Length"] or 0)
        body = self.rfile.read(length)
        self.reply(b"%s %s:%s" % (self.command.encode(), self.headers["Content-type"].encode(), body))

    def reply(self, body):
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.raw(body)


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
print("port", server.server_address[1], flush=True)
server.serve_forever()
