#!/usr/bin/env python3
"""An RFC 3161 timestamp server on 127.0.0.1 for the signing test: each POSTed
query is answered by `openssl ts -reply` with the given TSA configuration.
Writes the port it listens on to PORT_FILE once it accepts connections.

    timestamp_server.py TSA_CONFIG PORT_FILE
"""
import http.server
import os
import subprocess
import sys
import tempfile

CONFIG, PORT_FILE = sys.argv[1], sys.argv[2]


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with tempfile.TemporaryDirectory(dir=os.path.dirname(PORT_FILE)) as folder:
            query_path, reply_path = os.path.join(folder, "query.tsq"), os.path.join(folder, "reply.tsr")
            with open(query_path, "wb") as stream:
                stream.write(query)
            answered = subprocess.run(["openssl", "ts", "-reply", "-config", CONFIG, "-queryfile", query_path,
                                       "-out", reply_path], capture_output=True)
            if answered.returncode != 0:
                self.send_error(500, answered.stderr.decode(errors="replace")[:200])
                return
            with open(reply_path, "rb") as stream:
                reply = stream.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *arguments):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
with open(PORT_FILE + ".new", "w") as stream:
    stream.write(str(server.server_port))
os.rename(PORT_FILE + ".new", PORT_FILE)
server.serve_forever()
