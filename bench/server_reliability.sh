#!/usr/bin/env bash
# Reads during an import: 20 clients read the open workspace (status, Browse
# grid, Variables, documents) over loopback HTTP for 30 s while a
# 100,000-row import runs on the same server. Every read must be answered
# 200 with the workspace still open; the figure is the count of reads that
# were not (target: 0), with the reads per second as context.
#   bench/server_reliability.sh [BINARY]   (default build/release/cli/tabulix)
#   CLIENTS=20 SECONDS_=30 ROWS=100000 to change the load.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build/release/cli/tabulix}
[ -x "$bin" ] || { echo "server_reliability: no binary at $bin" >&2; exit 2; }
clients=${CLIENTS:-20}
seconds=${SECONDS_:-30}
rows=${ROWS:-100000}
work=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
docs=$work/docs
mkdir -p "$docs"

echo "Generating data..." >&2
awk -v n="$rows" 'BEGIN { srand(3); print "id,group,x,y,when,label";
  for (i = 1; i <= n; i++)
    printf "%d,g%d,%.3f,%.2f,%02d/%02d/20%02d,item %d\n", i, i % 12, rand() * 100, rand() * 1e4, 1 + i % 12, 1 + i % 28, 10 + i % 10, i % 977 }' \
  > "$docs/big.csv"
head -2001 "$docs/big.csv" > "$work/small.csv"
"$bin" --locale en_US import "$work/small.csv" -o "$docs/small.tbx" --delimiter comma --decimal . >/dev/null 2>&1

"$bin" serve --documents "$docs" --port 0 --locale en_US >"$work/out" 2>"$work/err" &
pid=$!
url=
for _ in $(seq 1 500); do
  url=$(sed -n 's/^Open \(http[^ ]*\)$/\1/p' "$work/out")
  [ -n "$url" ] && break
  sleep 0.01
done
[ -n "$url" ] || { echo "server_reliability: the server did not start" >&2; cat "$work/err" >&2; exit 1; }

python3 - "$url" "$clients" "$seconds" <<'EOF'
import http.client, json, sys, threading, time, urllib.parse

url, clients, seconds = sys.argv[1], int(sys.argv[2]), float(sys.argv[3])
u = urllib.parse.urlparse(url)
headers = {"X-Tabulix-Request": "1", "Content-Type": "application/json"}

def request(conn, method, path, body=None):
    conn.request(method, path, body=json.dumps(body) if body is not None else None, headers=headers)
    r = conn.getresponse()
    return r.status, r.read()

setup = http.client.HTTPConnection(u.hostname, u.port, timeout=30)
status, _ = request(setup, "POST", "/api/workspaces/open", {"name": "small.tbx"})
assert status == 200, status

stop = threading.Event()
lock = threading.Lock()
reads = errors = 0
examples = []
paths = ["/api/status", "/api/browse", "/api/variables", "/api/documents"]

def reader(k):
    global reads, errors
    conn = http.client.HTTPConnection(u.hostname, u.port, timeout=30)
    i = k
    while not stop.is_set():
        path = paths[i % len(paths)]
        i += 1
        try:
            status, body = request(conn, "GET", path)
            doc = json.loads(body)
            st = doc.get("status", doc) if path != "/api/status" else doc
            ok = status == 200 and st.get("workspace") is not None
            why = f"{path}: {status} {body[:120]!r}"
        except Exception as e:  # a dropped connection counts as an error
            ok, why = False, f"{path}: {e!r}"
            conn.close()
            conn = http.client.HTTPConnection(u.hostname, u.port, timeout=30)
        with lock:
            reads += 1
            if not ok:
                errors += 1
                if len(examples) < 5:
                    examples.append(why)

threads = [threading.Thread(target=reader, args=(k,)) for k in range(clients)]
start = time.time()
for t in threads:
    t.start()
# Imports back to back for the whole period, each into a new workspace that
# then becomes the open one.
imports = 0
finished_rows = None
while time.time() - start < seconds:
    status, body = request(setup, "POST", "/api/workspaces/create",
                           {"mode": "import", "name": f"big{imports}", "file": "big.csv", "replace": True})
    assert status == 200, body
    job = json.loads(body)["job"]
    while True:
        status, body = request(setup, "GET", f"/api/jobs/{job}")
        j = json.loads(body)
        if j["finished"]:
            break
        time.sleep(0.2)
    imports += 1
    finished_rows = j["result"].get("observations")
stop.set()
for t in threads:
    t.join()
elapsed = time.time() - start
print(f"{'server_reliability':44s} {'value':>12s}")
print(f"{'reading clients':44s} {clients:12d}")
print(f"{'seconds of reads':44s} {elapsed:12.1f}")
print(f"{'imports completed (rows each)':44s} {imports:5d} ({finished_rows})")
print(f"{'reads answered':44s} {reads:12d}")
print(f"{'reads per second':44s} {reads / elapsed:12.1f}")
print(f"{'reads failed or without the workspace':44s} {errors:12d}")
for e in examples:
    print("  e.g.", e)
print("target (0 failed reads):", "met" if errors == 0 else "MISSED")
sys.exit(0 if errors == 0 else 1)
EOF
