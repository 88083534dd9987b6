#!/usr/bin/python3
"""An HTTP server on 127.0.0.1 that demands NTLM (version 1) and checks the client's answer with
an independent implementation, Debian's python3-impacket.

    ntlm_server.py PORT USER PASSWORD

Every request without credentials gets 401 "WWW-Authenticate: NTLM"; a type-1 message gets a
type-2 challenge with a fresh random server challenge; a type-3 message gets 200 and the body
"welcome USER" when its user name and its LM and NT responses are those impacket computes for
USER and PASSWORD, and 401 otherwise. The exchange must stay on one kept connection.
"""
import base64
import http.server
import os
import sys

try:
    from impacket import ntlm
except ImportError:
    sys.stderr.write("ntlm_server.py: python3-impacket is missing (apt-get install python3-impacket)\n")
    sys.exit(2)

PORT, USER, PASSWORD = int(sys.argv[1]), sys.argv[2], sys.argv[3]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, status, body, challenge=None):
        self.send_response(status)
        if challenge is not None:
            self.send_header("WWW-Authenticate", challenge)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "keep-alive")
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        header = self.headers.get("Authorization", "")
        if not header.startswith("NTLM "):
            self.answer(401, b"", "NTLM")
            return
        message = base64.b64decode(header[5:])
        kind = int.from_bytes(message[8:12], "little")
        if kind == 1:
            self.server_challenge = os.urandom(8)
            challenge = ntlm.NTLMAuthChallenge()
            challenge["flags"] = ntlm.NTLMSSP_NEGOTIATE_NTLM | ntlm.NTLMSSP_NEGOTIATE_UNICODE
            challenge["challenge"] = self.server_challenge
            challenge["Version"] = b""
            challenge["domain_name"] = b""
            challenge["TargetInfoFields"] = b""
            challenge["TargetInfoFields_offset"] = 40
            self.answer(401, b"", "NTLM " + base64.b64encode(challenge.getData()).decode())
            return
        server_challenge = getattr(self, "server_challenge", None)
        if kind != 3 or server_challenge is None:
            self.answer(401, b"type-3 without a challenge on this connection", "NTLM")
            return
        answer = ntlm.NTLMAuthChallengeResponse()
        answer.fromString(message)
        expected_nt, expected_lm, _ = ntlm.computeResponseNTLMv1(
            0, server_challenge, b"", "", "", USER, PASSWORD, use_ntlmv2=False)
        user = answer["user_name"].decode("utf-16-le")
        if user == USER and answer["ntlm"] == expected_nt and answer["lanman"] == expected_lm:
            self.answer(200, ("welcome " + user).encode())
        else:
            self.answer(401, b"refused", "NTLM")


http.server.HTTPServer(("127.0.0.1", PORT), Handler).serve_forever()
