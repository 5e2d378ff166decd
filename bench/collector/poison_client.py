#!/usr/bin/env python3
"""Honest clients beside a poison client, against a running collector: prints how many honest hits were
answered 2xx at once.

    python3 bench/collector/poison_client.py PORT [poison: 0|1]

Four honest clients post 500 ordinary hits each, one after another on keep-alive connections, all on the
same event. With poison 1, a fifth client meanwhile posts /batch bodies of nine hits carrying the largest
value the protocol's digits allow, as fast as it is answered. Point it at a collector on a PostgreSQL
database (`tools/pg_cluster.sh start DIR`, then `zncip-collector serve --port 0 --db ADDRESS`) to see
whether one client can fail the group commits that other clients' hits share.
"""
import socket
import sys
import threading

HONEST_CLIENTS, HITS_EACH = 4, 500


def connect(port):
    s = socket.create_connection(("127.0.0.1", port))
    s.settimeout(10)
    return s


def post(s, path, body):
    data = body.encode()
    s.sendall(b"POST %s HTTP/1.1\r\nHost: x\r\nContent-Length: %d\r\n\r\n" % (path.encode(), len(data)) + data)
    answer = b""
    while b"\r\n\r\n" not in answer:
        answer += s.recv(4096)
    head, rest = answer.split(b"\r\n\r\n", 1)
    lines = head.split(b"\r\n")
    length = next(int(l.split(b":")[1]) for l in lines if l.lower().startswith(b"content-length"))
    while len(rest) < length:
        rest += s.recv(4096)
    return int(lines[0].split()[1])


def hit(cid, value):
    return ("v=1&tid=UA-582047-16&cid=%s&t=event&ul=en-us&qt=1&an=App&av=1.0&ec=Commands&ea=Execute"
            "&el=LINE&ev=%s" % (cid, value))


def main():
    port, poison = int(sys.argv[1]), len(sys.argv) > 2 and sys.argv[2] == "1"
    answered, batches, done = [0], [0], threading.Event()
    lock = threading.Lock()

    def honest(n):
        s = connect(port)
        for _ in range(HITS_EACH):
            if post(s, "/collect", hit("honest%d" % n, 1)) // 100 == 2:
                with lock:
                    answered[0] += 1

    def attacker():
        s = connect(port)
        body = "\n".join([hit("poison", "999999999999999999")] * 9)
        while not done.is_set():
            post(s, "/batch", body)
            batches[0] += 1

    threads = [threading.Thread(target=honest, args=(n,)) for n in range(HONEST_CLIENTS)]
    attack = threading.Thread(target=attacker) if poison else None
    for t in threads + ([attack] if attack else []):
        t.start()
    for t in threads:
        t.join()
    done.set()
    if attack:
        attack.join()
    print("%s: %d of %d honest hits answered 2xx at once; %d poison batches" % (
        "beside a poison client" if poison else "alone", answered[0], HONEST_CLIENTS * HITS_EACH, batches[0]))


if __name__ == "__main__":
    main()
