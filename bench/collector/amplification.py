#!/usr/bin/env python3
# Bytes written per byte received by zncip-collector, for a few request shapes: how much disk a client can
# make the collector spend with the bytes it sends. Each shape runs on a fresh database: 20 requests to
# warm up, then the measured ones over keep-alive. Bytes received are every byte of the HTTP requests as
# sent; bytes written the growth of the SQLite file and its log after a checkpoint, or of the PostgreSQL
# tables with their indexes.
#
#   python3 bench/collector/amplification.py build/bin/zncip-collector sqlite|postgresql://... [requests]
import os, socket, sqlite3, subprocess, sys, tempfile, time

binary, target = sys.argv[1], sys.argv[2]
n = int(sys.argv[3]) if len(sys.argv) > 3 else 1000
MODULE_UA = "App SP2 x64/1.0 (WIN; en_US) Ostrevan/1.0 (Qt/5.12.3)"
import random
random.seed(1)
BIG_UA = "M" + "".join(random.choice("abcdefghijklmnopqrstuvwxyz0123456789") for i in range(16000))  # incompressible
def event(cid):
    return ("v=1&tid=UA-582047-16&cid=%s&t=event&ul=en-us&qt=1&an=App%%20SP2%%20x64&av=1.0"
            "&ec=Commands&ea=Execute&el=LINE&ev=1" % cid)
SHAPES = [
    ("batch of 20 one-byte hits, 16 KB agent", "/batch", lambda i: "\n".join(["a"] * 20), BIG_UA),
    ("collect, module hit, 16 KB agent", "/collect", lambda i: event("c%d" % (i % 50)), BIG_UA),
    ("collect, module hit, module agent", "/collect", lambda i: event("c%d" % (i % 50)), MODULE_UA),
    ("batch of 20 tiny hits, module agent", "/batch", lambda i: "\n".join(["a"] * 20), MODULE_UA),
]

def request(path, body, agent):
    return ("POST %s HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
            "User-Agent: %s\r\nContent-Length: %d\r\n\r\n%s" % (path, agent, len(body), body)).encode()

def send(port, reqs):
    s = socket.create_connection(("127.0.0.1", port))
    for r in reqs:
        s.sendall(r)
        data = b""
        while b"\r\n\r\n" not in data:
            data += s.recv(65536)
        head, rest = data.split(b"\r\n\r\n", 1)
        length = int([l.split(b":")[1] for l in head.split(b"\r\n") if l.lower().startswith(b"content-length")][0])
        while len(rest) < length:
            rest += s.recv(65536)
        assert head.split(b" ")[1][:1] == b"2", head
    s.close()

def psql(db, sql):
    return subprocess.check_output(["/usr/lib/postgresql/15/bin/psql", "-XAtq", "-d", db, "-c", sql]).decode().strip()

for name, path, body, agent in SHAPES:
    tmp = tempfile.mkdtemp()
    if target == "sqlite":
        db = tmp + "/hits.db"
    else:
        dbname = "amp%d" % int(time.time() * 1000)
        psql(target, "CREATE DATABASE " + dbname)
        db = target.replace("/zncip", "/" + dbname, 1) if "/zncip" in target else target
    p = subprocess.Popen([binary, "serve", "--port", "0", "--db", db, "--no-admin"], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL)
    port = int(p.stdout.readline().decode().strip().rsplit(":", 1)[1])
    def size():
        if target == "sqlite":
            c = sqlite3.connect(db)
            c.execute("PRAGMA wal_checkpoint(TRUNCATE)")
            c.close()
            return sum(os.path.getsize(db + s) for s in ("", "-wal") if os.path.exists(db + s))
        psql(db, "CHECKPOINT") if False else None
        return int(psql(db, "SELECT sum(pg_total_relation_size(oid)) FROM pg_class WHERE relkind IN ('r','m') AND relnamespace = 'public'::regnamespace"))
    send(port, [request(path, body(i), agent) for i in range(20)])
    before = size()
    reqs = [request(path, body(i + 20), agent) for i in range(n)]
    send(port, reqs)
    grown = size() - before
    received = sum(len(r) for r in reqs)
    print("%-42s %6d B/request received  %8d B/request written  %.2fx" % (name, received // n, grown // n, grown / received))
    p.terminate(); p.wait()
