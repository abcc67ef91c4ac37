#!/usr/bin/env bash
# How `tabulix serve` holds up against clients that hold connections, over
# loopback only, each phase bounded in time and bytes:
#   1. 40 connections sending one header byte every 4 s (for 20 s);
#   2. 33 connections that send nothing (for 10 s);
#   3. one connection sending up to 200 MiB of headers.
# During 1 and 2 a page's request (GET /api/status) is timed; the baseline
# is the same request on the idle server. After 3 the server's resident
# memory is compared with its memory before.
#   bench/server_attack.sh [BINARY]   HOST=0.0.0.0 to serve on every address
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build/release/cli/tabulix}
[ -x "$bin" ] || { echo "server_attack: no binary at $bin" >&2; exit 2; }
host=${HOST:-127.0.0.1}
work=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/docs"
"$bin" serve --documents "$work/docs" --host "$host" --port 0 --locale en_US >"$work/out" 2>"$work/err" &
pid=$!
url=
for _ in $(seq 1 500); do
  url=$(sed -n 's/^Open \(http[^ ]*\)$/\1/p' "$work/out")
  [ -n "$url" ] && break
  sleep 0.01
done
[ -n "$url" ] || { echo "server_attack: the server did not start" >&2; cat "$work/err" >&2; exit 1; }

python3 - "$url" "$pid" <<'EOF'
import socket, statistics, sys, threading, time, urllib.parse

url, pid = sys.argv[1], int(sys.argv[2])
u = urllib.parse.urlparse(url)
port = u.port
token = urllib.parse.parse_qs(u.query).get("token", [""])[0]
path = "/api/status" + (f"?token={token}" if token else "")
host_header = f"{u.hostname}:{port}"

def rss_mb():
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0.0

def page_ms():
    """One page request on a new connection; its time in ms, or None when unanswered in 10 s."""
    t = time.time()
    try:
        s = socket.create_connection(("127.0.0.1", port), timeout=10)
        s.sendall(f"GET {path} HTTP/1.1\r\nHost: {host_header}\r\nConnection: close\r\n\r\n".encode())
        data = s.recv(64)
        s.close()
        return (time.time() - t) * 1000 if data.startswith(b"HTTP/1.1") else None
    except OSError:
        return None

def timed(n):
    times = [page_ms() for _ in range(n)]
    answered = [x for x in times if x is not None]
    return (statistics.median(answered) if answered else float("nan"),
            max(answered) if answered else float("nan"), len(times) - len(answered))

base = timed(20)
rss_before = rss_mb()

# 1. Slow headers.
slow = [socket.create_connection(("127.0.0.1", port)) for _ in range(40)]
stop = threading.Event()
def trickle():
    msg = f"GET {path} HTTP/1.1\r\nHost: {host_header}\r\nX-Slow: ".encode()
    k = 0
    t0 = time.time()
    while not stop.is_set() and time.time() - t0 < 20:
        for s in slow:
            try:
                s.send(msg[k % len(msg):k % len(msg) + 1])
            except OSError:
                pass
        k += 1
        stop.wait(4)
t = threading.Thread(target=trickle)
t.start()
time.sleep(0.5)
slow_stats = timed(20)
t0 = time.time()
cut = 0
for s in slow:
    s.settimeout(max(0.1, 20 - (time.time() - t0)))
    try:
        while s.recv(4096):
            pass
        cut += 1
    except socket.timeout:
        pass
    except OSError:  # reset by the server
        cut += 1
slow_cut_s = time.time() - t0
stop.set()
t.join()
for s in slow:
    s.close()

# 2. Idle connections.
idle = [socket.create_connection(("127.0.0.1", port)) for _ in range(33)]
time.sleep(0.5)
idle_stats = timed(20)
for s in idle:
    s.close()

# 3. 200 MiB of headers.
s = socket.create_connection(("127.0.0.1", port))
s.settimeout(10)
s.sendall(f"GET {path} HTTP/1.1\r\nHost: {host_header}\r\n".encode())
chunk = b"".join(b"X-Filler-%d: %s\r\n" % (i, b"f" * 40) for i in range(20000))
sent = 0
try:
    while sent < 200 * 1024 * 1024:
        sent += s.send(chunk)
except OSError:
    pass
s.close()
time.sleep(0.5)
rss_after = rss_mb()
after = timed(20)

print(f"{'server_attack':52s} {'median ms':>10s} {'max ms':>10s} {'unanswered':>10s}")
print(f"{'baseline: GET /api/status, idle server':52s} {base[0]:10.1f} {base[1]:10.1f} {base[2]:10d}")
print(f"{'during 40 slow-header connections':52s} {slow_stats[0]:10.1f} {slow_stats[1]:10.1f} {slow_stats[2]:10d}")
print(f"{'during 33 idle connections':52s} {idle_stats[0]:10.1f} {idle_stats[1]:10.1f} {idle_stats[2]:10d}")
print(f"{'after 200 MiB of headers':52s} {after[0]:10.1f} {after[1]:10.1f} {after[2]:10d}")
print(f"slow-header connections closed by the server: {cut}/40, all within {slow_cut_s:.1f} s")
print(f"header bytes taken before the server hung up: {sent / 1048576:.1f} MiB of 200")
print(f"server memory: {rss_before:.0f} MB before, {rss_after:.0f} MB after")
ok = slow_stats[2] == 0 and idle_stats[2] == 0 and after[2] == 0 and cut == 40 and rss_after < rss_before + 50
print("targets (every page answered, slow clients cut off, memory within 50 MB):", "met" if ok else "MISSED")
sys.exit(0 if ok else 1)
EOF
