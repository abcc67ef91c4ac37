#!/usr/bin/env bash
# Load on `tabulix serve`: CLIENTS clients each ask for analyses one after
# another for SECONDS seconds, as a page does (POST /api/analyze, then poll
# the job until its result), alternating the bivariate analysis of a
# 100,000-row workspace (about 7 MB of result JSON, the scatter's points)
# and a variable detail. Reports the answers by status, the latency of a
# whole analysis (p50, p99), the server's CPU time, and its resident memory
# when idle, at its peak, 40 s after the load ended (the last results still
# kept for their files) and once they have expired (KEEP seconds after their
# last use, the server's --keep-results).
#   bench/server_load.sh [BINARY]   (default build/release/cli/tabulix)
#   CLIENTS=50 DURATION=60 KEEP=60 bench/server_load.sh    (defaults: 50 clients, 20 s, 60 s)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build/release/cli/tabulix}
clients=${CLIENTS:-50}
seconds=${DURATION:-20}
keep=${KEEP:-60}
[ -x "$bin" ] || { echo "server_load: no binary at $bin" >&2; exit 2; }
command -v python3 >/dev/null || { echo "server_load: needs python3" >&2; exit 2; }
work=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/docs"

echo "Generating the workspace..." >&2
awk 'BEGIN { srand(3); print "x,y,g";
  for (i = 1; i <= 100000; i++) printf "%.4f,%.4f,g%d\n", rand() * 100, rand() * 50 + i / 4000, i % 7 }' >"$work/rows.csv"
"$bin" --locale en_US import "$work/rows.csv" -o "$work/docs/rows.tbx" --delimiter comma --decimal . >/dev/null 2>&1

"$bin" serve --documents "$work/docs" --port 0 --locale en_US --keep-results "$keep" >"$work/out" 2>"$work/err" &
pid=$!
url=
for _ in $(seq 200); do
  url=$(sed -n 's/^Open //p' "$work/out")
  [ -n "$url" ] && break
  sleep 0.05
done
[ -n "$url" ] || { echo "server_load: the server did not start" >&2; cat "$work/err" >&2; exit 1; }

python3 - "$url" "$pid" "$clients" "$seconds" "$keep" <<'EOF'
import http.client, json, os, sys, threading, time, urllib.parse

url, pid, clients, seconds = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4])
keep = float(sys.argv[5])
u = urllib.parse.urlparse(url)
token = urllib.parse.parse_qs(u.query).get("token", [""])[0]
headers = {"X-Tabulix-Request": "1", "Content-Type": "application/json"}
if token:
    headers["Cookie"] = "tabulix_token=" + token

def rss_mb():
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0.0

def rss_parts():
    # Anonymous memory (the heap, stacks) apart from mapped file pages (the
    # workspace under SQLite's mmap, the libraries), which the kernel reclaims.
    parts = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(("RssAnon:", "RssFile:")):
                parts[line.split(":")[0]] = int(line.split()[1]) / 1024
    return f"anonymous {parts.get('RssAnon', 0):.0f} MB, file {parts.get('RssFile', 0):.0f} MB"

def cpu_s():
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

def conn():
    return http.client.HTTPConnection(u.hostname, u.port, timeout=120)

c = conn()
c.request("POST", "/api/workspaces/open", json.dumps({"name": "rows.tbx"}), headers)
r = c.getresponse(); r.read()
assert r.status == 200, r.status
time.sleep(2)
idle = rss_mb()
cpu0 = cpu_s()

lock = threading.Lock()
statuses, latencies, failures = {}, [], []
peak = [idle]
stop = time.monotonic() + seconds

def sample():
    while time.monotonic() < stop + 5:
        peak[0] = max(peak[0], rss_mb())
        time.sleep(0.2)

def client(k):
    c = conn()
    n = 0
    while time.monotonic() < stop:
        body = {"kind": "correlation", "left": 0, "right": 1} if (n + k) % 2 == 0 else {"kind": "detail", "left": 1}
        n += 1
        t0 = time.monotonic()
        try:
            c.request("POST", "/api/analyze", json.dumps(body), headers)
            r = c.getresponse(); data = r.read()
            status = r.status
            if status == 200:
                job = json.loads(data)["job"]
                while True:
                    c.request("GET", "/api/jobs/" + job, headers=headers)
                    r = c.getresponse(); j = json.loads(r.read())
                    if r.status != 200:
                        status = r.status
                        break
                    if j["finished"]:
                        if not (j.get("result") or {}).get("result"):
                            failures.append(str(j.get("result"))[:200])
                        break
                    time.sleep(0.05)
        except Exception as e:
            status = type(e).__name__
            c = conn()
        with lock:
            statuses[status] = statuses.get(status, 0) + 1
            if status == 200:
                latencies.append(time.monotonic() - t0)
        if status == 503:
            time.sleep(0.5)

threads = [threading.Thread(target=client, args=(k,)) for k in range(clients)]
sampler = threading.Thread(target=sample)
sampler.start()
for t in threads: t.start()
for t in threads: t.join()
sampler.join()
cpu1 = cpu_s()
time.sleep(40)
after = rss_mb()
after_parts = rss_parts()
# An idle worker lets go of expired results every 5 s.
time.sleep(max(0, keep + 10 - 40))
expired = rss_mb()
expired_parts = rss_parts()
latencies.sort()
q = lambda p: latencies[min(len(latencies) - 1, int(p * len(latencies)))] if latencies else float("nan")
print(f"clients {clients}, {seconds:.0f} s: {len(latencies)} analyses done; answers by status {statuses}")
print(f"results without a result: {len(failures)}" + (f" (first: {failures[0]})" if failures else ""))
print(f"latency of an analysis: p50 {q(0.5) * 1000:.0f} ms, p99 {q(0.99) * 1000:.0f} ms")
print(f"server CPU time during the load: {cpu1 - cpu0:.1f} s over {seconds:.0f} s of wall time")
print(f"server RSS: idle {idle:.0f} MB, peak {peak[0]:.0f} MB, 40 s after the load {after:.0f} MB ({after_parts})")
print(f"server RSS once the kept results expired ({keep + 10:.0f} s after the load): {expired:.0f} MB ({expired_parts})")
EOF
