#!/usr/bin/env bash
# How fast the update window's EXIT ends the program while a download is stalled: the working
# copy runs with its window on a private Xvfb display against an HTTP server on 127.0.0.1 that
# sends the manifest, then the first 100 KiB of a 10 MiB file and nothing more. Once the file is
# under way, EXIT is clicked (xdotool) and the time from the click until the process has ended
# is taken.
#
#   bench/exit_latency.sh [path of the Tandor binary] [rounds]   (defaults: build-rel/Tandor, 5)
#
# Goal: under 100 ms. Prints each round and min / median / max.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tandor=$(realpath "${1:-$here/../build-rel/Tandor}")
rounds=${2:-5}
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The display: Xvfb picks its own number and tells it on a descriptor.
exec 5<> <(:)
Xvfb -displayfd 5 -nolisten tcp -screen 0 800x600x24 2>/dev/null &
pids+=($!)
read -r -t 10 display <&5 || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$display

# The server: the manifest, then a file that stops after 100 KiB.
cat >"$work/stall.py" <<'PY'
import http.server, socketserver, sys, time
manifest = (b"[Files]\r\n[File1]\r\nKey=big\r\nFilename=big.bin\r\nRealname=big.bin\r\n"
            b"Server Path=$Root/Stall\r\nLocal Path=C:\\Stall\r\nCopyMode=Force\r\n")
class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if self.path.endswith("/Tandor10.ini"):
            self.send_response(200); self.send_header("Content-Length", str(len(manifest)))
            self.end_headers(); self.wfile.write(manifest); return
        self.send_response(200); self.send_header("Content-Length", str(10 << 20)); self.end_headers()
        self.wfile.write(b"\0" * (100 << 10)); self.wfile.flush()
        time.sleep(3600)
    def log_message(self, *args): pass
class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
server = Server(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
PY
exec 6< <(/usr/bin/python3 "$work/stall.py")
pids+=($!)
read -r -t 10 port <&6 || { echo "the server did not start" >&2; exit 1; }

times=()
for round in $(seq "$rounds"); do
  prefix=$work/prefix app=$work/prefix/drive_c/Client
  rm -rf "$prefix"
  mkdir -p "$app"
  cp "$tandor" "$app/TandorStall"
  printf '[Tandor]\r\nMethod=HTTP\r\nAddress=127.0.0.1\r\nPort=%s\r\nRoot=/\r\n' "$port" >"$app/Tandor.ini"
  TANDOR_PREFIX=$prefix QT_QPA_PLATFORM=xcb "$app/TandorStall" Stall >/dev/null 2>&1 &
  pass=$!
  window=$(timeout 20 xdotool search --sync --onlyvisible --pid "$pass" | head -n 1)
  # Under way: the temporary file of big.bin has its first bytes.
  for _ in $(seq 200); do
    compgen -G "$prefix/drive_c/Stall/big.bin.tmp*" >/dev/null && break
    sleep 0.05
  done
  sleep 0.5  # well into the stall
  xdotool mousemove --window "$window" 370 17  # EXIT's middle: 5070,60 (975 x 405) twips
  start=$(date +%s%N)
  xdotool click 1
  clicked=$(date +%s%N)
  for _ in $(seq 1000); do kill -0 "$pass" 2>/dev/null || break; sleep 0.001; done
  end=$(date +%s%N)
  if kill -0 "$pass" 2>/dev/null; then
    kill -9 "$pass"
    echo "round $round: EXIT did not end the program" >&2
    exit 1
  fi
  wait "$pass" || true
  # From the moment xdotool has handed the click to the X server; xdotool's own start is apart.
  ms=$(((end - clicked) / 1000000))
  echo "round $round: click to process end $ms ms (xdotool itself took $(((clicked - start) / 1000000)) ms)"
  times+=("$ms")
done
printf '%s\n' "${times[@]}" | sort -n |
  awk '{v[NR]=$1} END {printf "EXIT during a stalled download: min %d ms, median %d ms, max %d ms (goal < 100 ms)\n", v[1], v[int((NR+1)/2)], v[NR]}'
