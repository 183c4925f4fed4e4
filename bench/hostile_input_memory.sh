#!/usr/bin/env bash
# Peak memory of veldmoor-sync against a server that sends bombs instead of a repository:
#   list   filelist.php: 4 GiB of zeros, gzip-compressed (4 MB on the wire)
#   index  a file's .chunks: a valid header, then 1 GiB of records, gzip-compressed
#   plain  a file's .chunks: a valid header, then 20 million records (240 MB), uncompressed
# Each run must fail (server data in the wrong form) and its maximum resident set size is
# printed as /usr/bin/time measures it.
#
# Usage: bench/hostile_input_memory.sh [VELDMOOR_SYNC]   (default: build/dev/tools/veldmoor-sync)
# The bombs are built once in a temporary folder (about 300 MB on disk) and removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
sync_program=$(realpath "${1:-build/dev/tools/veldmoor-sync}")
work=$(mktemp -d "${TMPDIR:-/tmp}/veldmoor-bombs-XXXXXX")
server_pid=
cleanup() {
  if [[ -n "$server_pid" ]]; then kill "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

python3 - "$work" <<'PY'
import os, struct, sys, zlib
work = sys.argv[1]
big = 0xFFFFF000          # the header's file size: just under 4 GiB
record = struct.pack('<III', 1, 2, 4096)
header = struct.pack('<III', 0xC53F81A8, big, 0)

def gzip_file(path, prefix, pattern, total):
    block = pattern * (1048576 // len(pattern))
    comp = zlib.compressobj(1, zlib.DEFLATED, 31)
    with open(path, 'wb') as out:
        out.write(comp.compress(prefix))
        fed = len(prefix)
        while fed < total:
            take = min(len(block), total - fed)
            out.write(comp.compress(block[:take]))
            fed += take
        out.write(comp.flush())

for case in ('list', 'index', 'plain'):
    os.makedirs(os.path.join(work, 'served', case, 'transfer'), exist_ok=True)
    if case != 'list':
        with open(os.path.join(work, 'served', case, 'filelist.php'), 'w') as f:
            f.write('{ path: "big.bin", time: "5" }\n')
gzip_file(os.path.join(work, 'served/list/filelist.php.gz'), b'', b'\0', 4 << 30)
gzip_file(os.path.join(work, 'served/index/transfer/big.bin.chunks.gz'), header, record, 1 << 30)
with open(os.path.join(work, 'served/plain/transfer/big.bin.chunks'), 'wb') as out:
    out.write(header)
    chunk = record * 1000000
    for _ in range(20):
        out.write(chunk)
PY

# A server that sends "<path>.gz" as <path> with Content-Encoding: gzip when it exists.
cat > "$work/serve.py" <<'PY'
import http.server, os, sys
root = sys.argv[1]
class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass
    def do_GET(self):
        path = os.path.join(root, self.path.lstrip('/').replace('//', '/'))
        gz = os.path.exists(path + '.gz')
        name = path + '.gz' if gz else path
        if not os.path.isfile(name):
            self.send_response(404); self.send_header('Content-Length', '0'); self.end_headers(); return
        self.send_response(200)
        if gz:
            self.send_header('Content-Encoding', 'gzip')
        self.send_header('Content-Length', str(os.path.getsize(name)))
        self.end_headers()
        try:
            with open(name, 'rb') as f:
                while True:
                    data = f.read(1 << 20)
                    if not data:
                        break
                    self.wfile.write(data)
        except (BrokenPipeError, ConnectionResetError):
            pass
server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
with open(sys.argv[2], 'w') as f:
    f.write(str(server.server_address[1]))
server.serve_forever()
PY
python3 "$work/serve.py" "$work/served" "$work/port" &
server_pid=$!
for _ in $(seq 100); do [[ -s "$work/port" ]] && break; sleep 0.1; done
port=$(cat "$work/port")

printf '%-6s %-10s %-12s %s\n' case exit peak_kB outcome
for case in list index plain; do
  install="$work/install-$case"
  mkdir -p "$install"
  set +e
  /usr/bin/time -v -o "$work/time-$case" "$sync_program" --quiet "$install" \
    "http://127.0.0.1:$port/$case/" >"$work/out-$case" 2>&1
  status=$?
  set -e
  peak=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time-$case")
  outcome=$(grep -m1 -E 'Diagnostic|Up to date|veldmoor-sync:' "$work/out-$case" || true)
  printf '%-6s %-10s %-12s %s\n' "$case" "$status" "$peak" "$outcome"
done
