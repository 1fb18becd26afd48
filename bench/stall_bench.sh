#!/usr/bin/env bash
# Per-file download times over many small update passes: the demo product (5 files) installed
# from scratch again and again, the way a user's machine starts it, from servers the script starts
# on 127.0.0.1: pyftpdlib's stock server (one shared event loop, as `python3 -m pyftpdlib` runs)
# in active and in passive mode, pyftpdlib's ThreadedFTPServer in active mode, and nginx over
# HTTP. The goal: no file slower than 0.5 s.
#
#   bench/stall_bench.sh [path/to/Tandor] [--passes N] [--rtt MS]
#
# Each kind of server runs N passes (default 200), rounds alternated (pass 1 of every kind, then
# pass 2 of every kind, ...); each pass is `TANDOR_UNATTENDED=1 Tandor --wait Sample` on a demo
# machine laid out as demo/run.sh does, with the product folder emptied before it. The figures
# are the `<file> 파일 다운로드 완료 (<seconds>)` lines of Err.log. --rtt MS puts
# bench/delay_proxy.py (MS/2 each way) between the updater and every server (active FTP's data
# connections, which the server opens, go past it). A failed pass, a file over 0.5 s or a pass
# over 5 s (setup.sh takes 1 s of it; a wait outside any file, such as closing the connections,
# is in no Err.log figure) prints its Err.log and its time-stamped lines (the first 10 of them).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
py=/usr/bin/python3
tandor=$here/build/Tandor passes=200 rtt=
while [ $# -gt 0 ]; do
  case $1 in
    --passes) passes=$2; shift ;;
    --rtt) rtt=$2; shift ;;
    *) tandor=$1 ;;
  esac
  shift
done
tandor=$(realpath "$tandor")

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The server's copy of the product, as demo/run.sh lays it out.
server=$work/server
mkdir -p "$server/Harrowin/Sample"
(cd "$here/demo/product" &&
 cp readme.txt library.dl_ setup.sh Sample.ex_ Tandor10.ini "$server/Harrowin/Sample/" &&
 cd data && zip -q -r -X "$server/Harrowin/Sample/data.zip" docs images)
touch -d '2026-01-01 00:00' "$server/Harrowin/Sample/data.zip"

free_port() {  # below 32768, as demo/run.sh picks one
  $py -c 'import random, socket
for port in random.sample(range(20000, 32768), 200):
    try: socket.create_server(("127.0.0.1", port)).close()
    except OSError: continue
    print(port); break'
}
await_port() {
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "nothing listens on 127.0.0.1:$1 (see $2)" >&2
  exit 1
}
# start_printing NAME COMMAND...: a server that prints its port when ready; sets $port.
start_printing() {
  local name=$1; shift
  "$@" >"$work/$name.port" 2>"$work/$name.log" &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$work/$name.port" ] && break; sleep 0.1; done
  port=$(head -n1 "$work/$name.port")
  [ -n "$port" ] || { echo "$name did not start:" >&2; cat "$work/$name.log" >&2; exit 1; }
  await_port "$port" "$work/$name.log"
}

stock=$(free_port)
$py -m pyftpdlib -i 127.0.0.1 -p "$stock" -u demo -P demo -d "$server" >"$work/stock.log" 2>&1 &
pids+=($!)
await_port "$stock" "$work/stock.log"
threaded=$(free_port)
$py - "$threaded" "$server" >"$work/threaded.log" 2>&1 <<'PY' &
import sys
from pyftpdlib import authorizers, handlers, servers
handlers.FTPHandler.authorizer = authorizers.DummyAuthorizer()
handlers.FTPHandler.authorizer.add_user("demo", "demo", sys.argv[2], perm="elr")
servers.ThreadedFTPServer(("127.0.0.1", int(sys.argv[1])), handlers.FTPHandler).serve_forever()
PY
pids+=($!)
await_port "$threaded" "$work/threaded.log"
start_printing nginx $py "$here/tests/support/servers.py" nginx --root "$server"
http=$port

# kind  method  port  Passive=
kinds=("ftp-active FTP $stock 0" "ftp-passive FTP $stock 1" "threaded-active FTP $threaded 0"
       "http HTTP $http 0")
[ -z "$rtt" ] || echo "== --rtt $rtt: every connection crosses bench/delay_proxy.py but active FTP's" \
  "data connections, which the server opens to the updater directly"

# One demo machine per kind: a prefix, the application folder with the updater copied in.
export XDG_RUNTIME_DIR=$work/runtime
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
for i in "${!kinds[@]}"; do
  read -r kind method target passive <<<"${kinds[$i]}"
  if [ -n "$rtt" ]; then
    ftp=; [ "$method" = FTP ] && ftp=--ftp
    start_printing "proxy-$kind" $py "$here/bench/delay_proxy.py" --target "127.0.0.1:$target" \
      --delay-ms "$($py -c "print($rtt / 2)")" $ftp
    target=$port
  fi
  kinds[$i]="$kind $method $target $passive"
  mkdir -p "$work/$kind/prefix/drive_c/Client"
  cp "$tandor" "$work/$kind/prefix/drive_c/Client/Tandor"
done

# Each line the updater prints, with the milliseconds since the pass started.
stamp() {
  while IFS= read -r line; do
    printf '%6d ms  %s\n' $(((${EPOCHREALTIME/./} - start) / 1000)) "$line"
  done
}
echo "== $passes passes of each of: $(for k in "${kinds[@]}"; do printf '%s ' "${k%% *}"; done)"
results=$work/results
reported=0
for pass in $(seq "$passes"); do
  for entry in "${kinds[@]}"; do
    read -r kind method target passive <<<"$entry"
    prefix=$work/$kind/prefix app=$work/$kind/prefix/drive_c/Client
    rm -rf "$prefix/drive_c/Sample" "$app/Err.log"
    printf '[Tandor]\r\nMethod=%s\r\nAddress=127.0.0.1\r\nPort=%s\r\nUser=demo\r\nPassword=demo\r\nRoot=/Harrowin\r\nPassive=%s\r\n' \
      "$method" "$target" "$passive" >"$app/Tandor.ini"
    start=${EPOCHREALTIME/./}
    TANDOR_UNATTENDED=1 TANDOR_PREFIX=$prefix "$app/Tandor" --wait Sample 2>&1 | stamp >"$work/out" &&
      status=0 || status=${PIPESTATUS[0]}
    wall=$((${EPOCHREALTIME/./} - start))
    echo "pass $kind $status $wall" >>"$results"
    sed -n 's/^\(.*\) 파일 다운로드 완료 (\([0-9.e-]*\))\r\?$/file '"$kind"' \2 \1/p' \
      "$app/Err.log" >"$work/files" 2>/dev/null || true
    cat "$work/files" >>"$results"
    # A failed pass, a file over 0.5 s or a pass over 5 s (setup.sh alone takes 1 s) is shown.
    if [ $reported -lt 10 ] && { [ $status != 0 ] || [ $wall -gt 5000000 ] || ! $py -c 'import sys
sys.exit(any(float(l.split()[2]) > 0.5 for l in open(sys.argv[1])))' "$work/files"; }; then
      reported=$((reported + 1))
      echo "-- pass $pass, $kind: status $status, $((wall / 1000)) ms; Err.log:"
      sed 's/^/   /' "$app/Err.log" 2>/dev/null || echo "   (no Err.log)"
      echo "   what it printed:"
      sed 's/^/   /' "$work/out"
    fi
  done
done

$py - "$results" "${kinds[@]%% *}" <<'PY'
import statistics, sys
rows = [line.split() for line in open(sys.argv[1])]
def q(values, p):  # nearest rank
    values = sorted(values)
    return values[max(0, -(-len(values) * p // 100) - 1)] if values else float("nan")
print(f"{'kind':16} {'passes':>6} {'failed':>6} {'files':>6} {'min':>7} {'median':>7} {'p99':>7}"
      f" {'max':>7} {'>0.5s':>5}  pass median / max {'>5s':>5}")
for kind in sys.argv[2:]:
    runs = [r for r in rows if r[0] == "pass" and r[1] == kind]
    walls = [int(r[3]) / 1e6 for r in runs]
    secs = [float(r[2]) for r in rows if r[0] == "file" and r[1] == kind]
    print(f"{kind:16} {len(runs):6} {sum(r[2] != '0' for r in runs):6} {len(secs):6}"
          f" {min(secs, default=float('nan')):7.4f} {q(secs, 50):7.4f} {q(secs, 99):7.4f}"
          f" {max(secs, default=float('nan')):7.4f} {sum(s > 0.5 for s in secs):5}"
          f"  {statistics.median(walls):6.3f} / {max(walls):6.3f} s {sum(w > 5 for w in walls):5}")
PY
