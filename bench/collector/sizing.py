#!/usr/bin/env python3
"""Sizing of the PostgreSQL store: grows a generated fleet day by day in a throw-away PostgreSQL server
(tools/pg_cluster.sh) through the collector's own store (zncip-collector-gen), and after the days asked
for records the bytes of each table, its rows, the WAL written, the processor time per hit of the writer
and of the server, and memory; then projects them to the product's fleet, each quantity by what it grows
with (hits, distinct client-key-days, keys x days, clients).

usage: bench/collector/sizing.py BUILD_DIR [--dir DIR] [--days 30] [--at 1,10,30] [--clients 100000]
                                 [--hits-per-day 100000] [--per-append 1000] [--read-bench] [--keep]
Writes DIR/sizing.json and prints the tables. With --read-bench, then makes a hot standby of the server
(DIR/standby) and runs zncip-collector-read-bench over both, exiting non-zero when it misses a target.
With --keep the servers are left running (their addresses are printed); otherwise they are stopped and
removed. Stop a kept one with tools/pg_cluster.sh stop DIR/pg (and DIR/standby).
"""

import argparse
import datetime
import json
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PG_BIN = os.environ.get("PG_BIN", "/usr/lib/postgresql/15/bin")
CLOCK = os.sysconf("SC_CLK_TCK")

# The product's fleet.
TARGET_CLIENTS = 1_000_000
TARGET_HITS_PER_DAY = 200_000_000
TARGET_PEAK_HITS_PER_S = 10_000
# What the generator's command vocabulary looks like (bench/collector/hit_generator.cpp): 200 labels by
# Zipf weights 1/i^1.1, about 14 other hits a run, each hit's key counted under 4 scopes of which two
# (the application's version and the whole fleet) are shared by every hit of a client's day.
LABELS, ZIPF, FIXED_PER_RUN = 200, 1.1, 14


def psql(sock, sql):
    cmd = [PG_BIN + "/psql", "-h", sock, "-U", "postgres", "-d", "zncip", "-XAtqF", "\t", "-c", sql]
    if os.getuid() == 0:
        cmd = ["runuser", "-u", "postgres", "--"] + cmd
    out = subprocess.run(cmd, check=True, capture_output=True, text=True, cwd="/").stdout
    return [line.split("\t") for line in out.splitlines() if line]


def proc_stat(pid):
    """utime, stime, cutime, cstime in seconds, and the parent's pid."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return [int(x) / CLOCK for x in fields[11:15]], int(fields[1])


def server_pids(postmaster):
    pids = [postmaster]
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                if proc_stat(int(entry))[1] == postmaster:
                    pids.append(int(entry))
            except (OSError, IndexError):
                pass
    return pids


def server_cpu(postmaster):
    """Processor seconds of the server: the postmaster, its live children, and those it has reaped."""
    total = 0.0
    for pid in server_pids(postmaster):
        try:
            (u, s, cu, cs), _ = proc_stat(pid)
        except OSError:
            continue
        total += u + s + (cu + cs if pid == postmaster else 0)
    return total


def server_pss(postmaster):
    """Bytes of memory the server's processes hold, shared buffers counted once (proportional set size)."""
    total = 0
    for pid in server_pids(postmaster):
        try:
            with open(f"/proc/{pid}/smaps_rollup") as f:
                for line in f:
                    if line.startswith("Pss:"):
                        total += int(line.split()[1]) * 1024
        except OSError:
            pass
    return total


def distinct_labels(n):
    """Expected distinct command labels among n commands drawn by the generator's Zipf weights."""
    weights = [1 / (i + 1) ** ZIPF for i in range(LABELS)]
    total = sum(weights)
    return sum(1 - (1 - w / total) ** n for w in weights)


def snapshot(sock, day_count):
    # A partitioned table (the raw hits, one partition a day) holds nothing itself: its size is that of
    # its partitions, which are not listed apart.
    tables = psql(sock, "SELECT c.relname, sum(pg_total_relation_size(t.oid)), sum(pg_relation_size(t.oid)) "
                        "FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace CROSS JOIN LATERAL "
                        "(SELECT relid FROM pg_partition_tree(c.oid) WHERE isleaf "
                        "UNION ALL SELECT c.oid WHERE c.relkind = 'r') t(oid) "
                        "WHERE n.nspname = 'public' AND c.relkind IN ('r', 'p') AND NOT c.relispartition "
                        "GROUP BY c.relname ORDER BY 1")
    result = {"tables": {}}
    for name, total, heap in tables:
        rows = int(psql(sock, f'SELECT count(*) FROM "{name}"')[0][0])
        result["tables"][name] = {"bytes": int(total), "heap_bytes": int(heap), "rows": rows}
    # Clients present per day: presence under the key of the whole fleet (scope 3).
    per_day = psql(sock, "SELECT count(*) FROM presence p JOIN rollup_keys k ON k.id = p.key "
                         "WHERE k.scope = 3 GROUP BY p.day")
    result["client_days"] = sum(int(r[0]) for r in per_day)
    result["clients_per_day"] = result["client_days"] / max(1, day_count)
    result["keys"] = int(psql(sock, "SELECT count(*) FROM rollup_keys")[0][0])
    result["database_bytes"] = int(psql(sock, "SELECT pg_database_size('zncip')")[0][0])
    result["dead_tuples"] = {r[0]: int(r[1]) for r in psql(
        sock, "SELECT relname, n_dead_tup FROM pg_stat_user_tables ORDER BY 1")}
    return result


def project(s, days):
    """The product fleet's figures from one snapshot: each quantity scaled by what it grows with."""
    t = s["tables"]
    hits = t["hits"]["rows"]
    presence = t["presence"]["rows"]
    client_days = s["client_days"]
    hits_per_client_day = hits / client_days
    presence_per_client_day = presence / client_days
    # At the target's hits per client-day a client's day holds more distinct commands: the command part of
    # presence grows with the distinct labels (two scopes each), the rest stays.
    target_hpcd = TARGET_HITS_PER_DAY / TARGET_CLIENTS
    extra = 2 * (distinct_labels(target_hpcd - FIXED_PER_RUN)
                 - distinct_labels(hits_per_client_day - FIXED_PER_RUN))
    presence_per_client_day_target = presence_per_client_day + max(0.0, extra)
    rollup_tables = [n for n in ("daily_counts", "first_visits", "daily_rejections") if n in t]
    rollup_bytes_per_day = sum(t[n]["bytes"] for n in rollup_tables) / days
    p = {
        "hits_per_client_day": hits_per_client_day,
        "presence_rows_per_client_day": presence_per_client_day,
        "presence_rows_per_client_day_at_target": presence_per_client_day_target,
        "hits_bytes_per_hit": t["hits"]["bytes"] / hits,
        "presence_bytes_per_row": t["presence"]["bytes"] / presence,
        "rollup_bytes_per_day": rollup_bytes_per_day,
        "wal_bytes_per_hit": s["wal_bytes"] / hits,
        "writer_cpu_us_per_hit": 1e6 * s["writer_cpu_s"] / hits,
        "server_cpu_us_per_hit": 1e6 * s["server_cpu_s"] / hits,
    }
    target_client_days = TARGET_CLIENTS * days
    p["target"] = {
        "hits_bytes": p["hits_bytes_per_hit"] * TARGET_HITS_PER_DAY * days,
        "presence_rows": presence_per_client_day_target * target_client_days,
        "presence_bytes": p["presence_bytes_per_row"] * presence_per_client_day_target * target_client_days,
        # The rollups' rows are one per key, day (and writer shard): they grow with keys x days, not with
        # the hits, as long as the vocabulary is the same.
        "rollup_bytes": rollup_bytes_per_day * days,
        "wal_bytes_per_day": p["wal_bytes_per_hit"] * TARGET_HITS_PER_DAY,
        "writer_cores_at_peak": p["writer_cpu_us_per_hit"] * TARGET_PEAK_HITS_PER_S / 1e6,
        "server_cores_at_peak": p["server_cpu_us_per_hit"] * TARGET_PEAK_HITS_PER_S / 1e6,
        # first_visits holds a row per (day, previous day, key): once every earlier day is someone's
        # previous day, as with a million clients, it nears keys x days x (days + 1) / 2.
        "first_visits_rows_bound": s["keys"] * days * (days + 1) / 2,
        "first_visits_bytes_bound": s["keys"] * days * (days + 1) / 2 * t["first_visits"]["bytes"]
                                    / max(1, t["first_visits"]["rows"]),
    }
    return p


def mib(x):
    return f"{x / 2**20:,.1f} MiB"


def gib(x):
    return f"{x / 2**30:,.1f} GiB"


def print_snapshot(day, s, p):
    print(f"\n== after day {day}: {s['tables']['hits']['rows']:,} hits, {s['client_days']:,} client-days "
          f"({s['clients_per_day']:,.0f} clients a day), {s['keys']:,} keys, load average {s['load']}")
    print(f"  {'table':<18} {'rows':>12} {'total bytes':>14} {'bytes/row':>10}")
    for name, t in s["tables"].items():
        print(f"  {name:<18} {t['rows']:>12,} {t['bytes']:>14,} {t['bytes'] / max(1, t['rows']):>10.0f}")
    print(f"  database {mib(s['database_bytes'])}; WAL written {mib(s['wal_bytes'])} "
          f"({p['wal_bytes_per_hit']:.0f} bytes a hit); WAL folder {mib(s['wal_folder_bytes'])}")
    print(f"  processor per hit: writer {p['writer_cpu_us_per_hit']:.1f} us, "
          f"server {p['server_cpu_us_per_hit']:.1f} us; "
          f"generation {s['hits_per_s']:,.0f} hits/s")
    print(f"  memory: writer peak RSS {mib(s['writer_peak_rss'])}, server PSS {mib(s['server_pss'])}")
    print(f"  per client-day: {p['hits_per_client_day']:.1f} hits, "
          f"{p['presence_rows_per_client_day']:.1f} presence rows "
          f"({p['presence_rows_per_client_day_at_target']:.1f} at "
          f"{TARGET_HITS_PER_DAY // TARGET_CLIENTS} hits)")
    t = p["target"]
    print(f"  projected to {TARGET_CLIENTS:,} clients, {TARGET_HITS_PER_DAY:,} hits a day, "
          f"same {day} day(s): "
          f"hits {gib(t['hits_bytes'])}, presence {t['presence_rows']:,.0f} rows {gib(t['presence_bytes'])}, "
          f"rollups {mib(t['rollup_bytes'])} (first_visits at most {t['first_visits_rows_bound']:,.0f} rows, "
          f"{mib(t['first_visits_bytes_bound'])}), WAL {gib(t['wal_bytes_per_day'])} a day, "
          f"cores at {TARGET_PEAK_HITS_PER_S:,}/s: writer {t['writer_cores_at_peak']:.2f}, "
          f"server {t['server_cores_at_peak']:.2f}")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("build")
    ap.add_argument("--dir", default="/tmp/zncip-sizing")
    ap.add_argument("--days", type=int, default=30)
    ap.add_argument("--at", default="1,10,30")
    ap.add_argument("--clients", type=int, default=100_000)
    ap.add_argument("--hits-per-day", type=int, default=100_000)
    ap.add_argument("--per-append", type=int, default=1000)
    ap.add_argument("--read-bench", action="store_true")
    ap.add_argument("--keep", action="store_true")
    a = ap.parse_args()
    at = {int(x) for x in a.at.split(",")}
    gen = os.path.join(os.path.abspath(a.build), "bin", "zncip-collector-gen")
    os.makedirs(a.dir, exist_ok=True)
    os.chmod(a.dir, 0o755)
    pg_dir = os.path.join(a.dir, "pg")
    if os.path.exists(pg_dir):
        sys.exit(f"sizing: {pg_dir} exists: the sizing starts from an empty server (remove it first)")
    start = subprocess.run([os.path.join(ROOT, "tools/pg_cluster.sh"), "start", pg_dir], check=True,
                           capture_output=True, text=True)
    address = start.stdout.strip().splitlines()[-1]
    sock = os.path.join(pg_dir, "socket")
    with open(os.path.join(pg_dir, "data", "postmaster.pid")) as f:
        postmaster = int(f.readline())
    first_day = datetime.date.today() - datetime.timedelta(days=a.days - 1)
    print(f"sizing: {a.clients:,} clients, {a.hits_per_day:,} hits a day in batches of {a.per_append}, "
          f"{a.days} days from {first_day} into {address}")

    lsn0 = psql(sock, "SELECT pg_current_wal_lsn()")[0][0]
    cpu0 = server_cpu(postmaster)
    writer_cpu = writer_seconds = 0.0
    peak_rss = 0
    snapshots = {}
    for d in range(1, a.days + 1):
        day = first_day + datetime.timedelta(days=d - 1)
        began = time.monotonic()
        child = subprocess.Popen([gen, "--db", address, "--append", "--days", "1", "--last-day", str(day),
                                  "--hits", str(a.hits_per_day), "--clients", str(a.clients),
                                  "--run-seed", str(d), "--per-append", str(a.per_append),
                                  "--release-days", str(a.days), "--day-offset", str(d - 1)],
                                 stdout=subprocess.DEVNULL)
        _, status, usage = os.wait4(child.pid, 0)
        if status != 0:
            sys.exit(f"sizing: the generator failed on day {d} ({day})")
        writer_seconds += time.monotonic() - began
        writer_cpu += usage.ru_utime + usage.ru_stime
        peak_rss = max(peak_rss, usage.ru_maxrss * 1024)
        print(f"  day {d:2} {day}: {a.hits_per_day / (time.monotonic() - began):,.0f} hits/s", flush=True)
        if d not in at:
            continue
        s = snapshot(sock, d)
        wal = psql(sock, f"SELECT pg_wal_lsn_diff(pg_current_wal_lsn(), '{lsn0}')")
        s["wal_bytes"] = int(float(wal[0][0]))
        s["wal_folder_bytes"] = int(psql(sock, "SELECT sum(size) FROM pg_ls_waldir()")[0][0])
        s["writer_cpu_s"] = writer_cpu
        s["server_cpu_s"] = server_cpu(postmaster) - cpu0
        s["writer_peak_rss"] = peak_rss
        s["server_pss"] = server_pss(postmaster)
        s["hits_per_s"] = a.hits_per_day * d / writer_seconds
        s["load"] = " ".join(open("/proc/loadavg").read().split()[:3])
        p = project(s, d)
        snapshots[d] = {"measured": s, "per_unit": p}
        print_snapshot(d, s, p)

    with open(os.path.join(a.dir, "sizing.json"), "w") as f:
        json.dump({"clients": a.clients, "hits_per_day": a.hits_per_day, "per_append": a.per_append,
                   "first_day": str(first_day), "address": address, "days": snapshots}, f, indent=1)
    status = 0
    pg_dirs = [pg_dir]
    if a.read_bench:
        standby_dir = os.path.join(a.dir, "standby")
        pg_dirs.insert(0, standby_dir)
        standby = subprocess.run([os.path.join(ROOT, "tools/pg_cluster.sh"), "standby", pg_dir, standby_dir],
                                 check=True, capture_output=True, text=True).stdout.strip().splitlines()[-1]
        bench = os.path.join(os.path.abspath(a.build), "bin", "zncip-collector-read-bench")
        status = subprocess.run([bench, "--db", address, "--read-db", standby]).returncode
        if a.keep:
            print(f"standby left running: {standby}")
    if a.keep:
        print(f"server left running: {address}")
    else:
        for d in pg_dirs:
            subprocess.run([os.path.join(ROOT, "tools/pg_cluster.sh"), "stop", d], check=True)
            shutil.rmtree(d)
    return status


if __name__ == "__main__":
    sys.exit(main())
