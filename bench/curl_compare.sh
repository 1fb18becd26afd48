#!/usr/bin/env bash
# Whole processes side by side: an unattended update pass against curl fetching the same files
# from the same server, rounds alternated, min and median of each side and their ratio.
#
#   bench/curl_compare.sh [path of the Tandor binary] [rounds]   (defaults: build-rel/Tandor, 5)
#
# Rows: first install of 1,000 x 10 KiB over HTTP (nginx) and over FTP (vsftpd, passive against
# passive and active against active), and one large file (TANDOR_BENCH_MB, default 1024 MiB) over
# HTTP and FTP with the peak memory of both sides, and a zip of 2,000 files (200 MB) extracted
# over the files already there, against curl and `unzip -o` in one shell; TANDOR_BENCH_ROWS (a
# regular expression) picks rows by name. nginx and vsftpd run on 127.0.0.1 with configurations
# of their own in a temporary folder and are stopped at the end. Both sides run under the same
# wrappers (taskset, /usr/bin/time); "paired" is the median of each round's own ratio.
#
# Latency rows: 1,000 x 10 KiB over HTTP, HTTPS (a self-signed certificate made here with
# openssl) and FTP (passive only: in active mode the server would connect to the client directly,
# past the delay) through bench/delay_proxy.py at each round trip of TANDOR_BENCH_RTTS (default
# "20 100" ms; 0 shows what the proxy itself costs) over a link of TANDOR_BENCH_RATE_MBIT
# (default 100, 0 for none) each way, against curl on one connection and against curl -Z
# --parallel-max 8. Rows at 100 ms or more run TANDOR_BENCH_SLOW_ROUNDS rounds (default 1).
# TANDOR_BENCH_CONNECTIONS, when set, is written to Tandor.ini as Connections=.
#
# TANDOR_BENCH_VS=<another Tandor binary> puts that binary where curl was, in every row (curl -Z
# is left out): two builds side by side, rounds alternated, as before and after a change.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tandor=$(realpath "${1:-$here/../build-rel/Tandor}")
rounds=${2:-5}
mb=${TANDOR_BENCH_MB:-1024}
work=$(mktemp -d)
chmod 755 "$work"  # the servers' workers run as another user
pids=()
cleanup() {
  for pid in "${pids[@]}" ${proxy_pid:-}; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# With two cores or more the servers run on the last core and the clients on the others, as if
# across a network. On one core a server's reply is there before the client reads on, and curl
# 7.88 then leaves many a passive FTP data connection unstarted for a second.
server_cpu=() client_cpu=()
cores=$(nproc)
if [ "$cores" -ge 2 ]; then
  server_cpu=(taskset -c "$((cores - 1))")
  client_cpu=(taskset -c "0-$((cores - 2))")
fi

free_port() {
  /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
wait_port() {
  for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return; sleep 0.05; done
  echo "server on port $1 did not start" >&2
  exit 1
}

# The products: Small (1,000 files of 10 KiB) and Large (one file), each with its manifest.
srv=$work/srv
mkdir -p "$srv/Small" "$srv/Large" "$work/runs"
head -c 10240 /dev/urandom >"$work/one"
{
  printf '[Files]\r\n'
  for i in $(seq 1000); do
    cp "$work/one" "$srv/Small/f$i.bin"
    printf '[File%d]\r\nKey=f%d\r\nFilename=f%d.bin\r\nRealname=f%d.bin\r\nServer Path=$Root/Small\r\nLocal Path=C:\\Small\r\nCopyMode=Force\r\n' \
      "$i" "$i" "$i" "$i"
  done
} >"$srv/Small/Tandor10.ini"
head -c "$((mb << 20))" /dev/zero >"$srv/Large/big.bin"
printf '[Files]\r\n[File1]\r\nKey=big\r\nFilename=big.bin\r\nRealname=big.bin\r\nServer Path=$Root/Large\r\nLocal Path=C:\\Large\r\nCopyMode=Force\r\n' \
  >"$srv/Large/Tandor10.ini"
# Zip: one archive, extracted into its own folder (Extract=1). Built only when its row runs.
extract_row="2,000 files (200 MB) extracted over existing files"
if [[ $extract_row =~ ${TANDOR_BENCH_ROWS:-.} ]]; then
  mkdir -p "$srv/Zip"
  /usr/bin/python3 - "$srv/Zip/pack.zip" <<'EOF'
import os, sys, zipfile
# Half noise, half text, so that deflate has work to do on both kinds of data.
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as archive:
    for i in range(2000):
        text = (f"Version=1.00.0210 Key=File{i}\r\n" * 2000).encode()[:50000]
        archive.writestr(f"dir{i % 20}/file{i}", os.urandom(50000) + text)
EOF
  printf '[Files]\r\n[File1]\r\nKey=pack\r\nFilename=pack.zip\r\nRealname=pack.zip\r\nServer Path=$Root/Zip\r\nLocal Path=C:\\Zip\r\nCopyMode=Force\r\nExtract=1\r\n' \
    >"$srv/Zip/Tandor10.ini"
fi
chmod -R a+rX "$srv"

# HTTPS: a self-signed certificate for 127.0.0.1, which both sides take as their authority.
cert=$work/cert.pem
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 \
  -addext subjectAltName=IP:127.0.0.1 -keyout "$work/key.pem" -out "$cert" 2>/dev/null

http_port=$(free_port)
https_port=$(free_port)
mkdir -p "$work/nginx"
cat >"$work/nginx/nginx.conf" <<EOF
daemon off; worker_processes 1; pid $work/nginx/pid; error_log $work/nginx/error.log;
events { worker_connections 256; }
http { access_log off; client_body_temp_path $work/nginx; proxy_temp_path $work/nginx;
  fastcgi_temp_path $work/nginx; uwsgi_temp_path $work/nginx; scgi_temp_path $work/nginx;
  server { listen 127.0.0.1:$http_port; root $srv; sendfile on; }
  server { listen 127.0.0.1:$https_port ssl; root $srv; sendfile on;
    ssl_certificate $cert; ssl_certificate_key $work/key.pem; } }
EOF
"${server_cpu[@]}" /usr/sbin/nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
pids+=($!)

ftp_port=$(free_port)
mkdir -p "$work/empty"
cat >"$work/vsftpd.conf" <<EOF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$ftp_port
background=NO
anonymous_enable=YES
no_anon_password=YES
anon_root=$srv
local_enable=NO
write_enable=NO
pasv_enable=YES
pasv_address=127.0.0.1
port_enable=YES
connect_from_port_20=NO
seccomp_sandbox=NO
secure_chroot_dir=$work/empty
run_as_launching_user=YES
xferlog_enable=NO
max_clients=200
EOF
# In a session of its own: vsftpd signals its whole process group when a session ends.
setsid "${server_cpu[@]}" /usr/sbin/vsftpd "$work/vsftpd.conf" &
pids+=($!)
wait_port "$http_port"
wait_port "$https_port"
wait_port "$ftp_port"

# A side that exits 0 without every file is no result.
complete() {  # folder side
  local count
  count=$(find "$1" -name '*.bin' -size 10k | wc -l)
  [ "$count" -eq 1000 ] || { echo "$2 left $count of the 1,000 files in $1" >&2; exit 1; }
}

# One pass of the working copy into a fresh prefix; prints "seconds peak-kB".
# Every run writes into a folder no run used before, and the small files stay until the end: on
# a file system without a journal (as on some build machines), ext4 skips the inodes deleted in
# the last minutes one by one, so deleting a thousand files before each run would slow both
# sides more than the work measured. The large file goes at once.
pass() {  # method port product passive
  local prefix app
  prefix=$(mktemp -d "$work/runs/XXXXXX")
  # The archive is extracted over what the first run of the row put there.
  [ "$3" = Zip ] && prefix=$work/zip-ours && mkdir -p "$prefix"
  app=$prefix/drive_c/Client
  mkdir -p "$app"
  cp "${binary:-$tandor}" "$app/Tandor$3"
  # vsftpd runs as this user, without a chroot: its paths are the machine's own.
  local root=/
  [ "$1" = FTP ] && root=$srv
  {
    printf '[Tandor]\r\nMethod=%s\r\nAddress=127.0.0.1\r\nPort=%s\r\nUser=anonymous\r\nPassword=x\r\nRoot=%s\r\nPassive=%s\r\n' \
      "$1" "$2" "$root" "$4"
    if [ "$1" = HTTPS ]; then printf 'CAFile=%s\r\n' "$cert"; fi
    if [ -n "${TANDOR_BENCH_CONNECTIONS:-}" ]; then
      printf 'Connections=%s\r\n' "$TANDOR_BENCH_CONNECTIONS"
    fi
  } >"$app/Tandor.ini"
  local start end
  # Nothing is left to write back from the runs before: the pass syncs its settings file when
  # it starts, and on ext4 that waits for all data in flight, such as the files curl or unzip
  # wrote just before, which would be counted to the pass.
  sync
  start=$EPOCHREALTIME
  TANDOR_UNATTENDED=1 TANDOR_PREFIX=$prefix /usr/bin/time -f %M -o "$work/mem" \
    "${client_cpu[@]}" "$app/Tandor$3" "$3" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; exit 1; }
  end=$EPOCHREALTIME
  [ "$3" = Small ] && complete "$prefix/drive_c/Small" Tandor
  rm -f "$prefix/drive_c/Large/big.bin"
  echo "$(echo "$end - $start" | bc) $(cat "$work/mem")"
}

# curl fetching the same files with one command, on one connection (or, with "parallel", on up
# to 8 at once), under the same wrapper as the pass; prints "seconds peak-kB".
fetch() {  # scheme port product ftp-mode [parallel]
  local out
  out=$(mktemp -d "$work/runs/XXXXXX")
  {
    for file in "$srv/$3"/*.bin; do
      [ -e "$file" ] || continue
      printf 'url = "%s://127.0.0.1:%s/%s/%s"\noutput = "%s/%s"\n' "$1" "$2" "$3" \
        "$(basename "$file")" "$out" "$(basename "$file")"
    done
  } >"$work/curl.cfg"
  local extra=()
  [ "$4" = active ] && extra=(--ftp-port -)
  [ "$1" = https ] && extra+=(--cacert "$cert")
  [ "${5:-}" = parallel ] && extra+=(-Z --parallel-max 8 --no-progress-meter)
  local start end
  sync  # as for the pass
  start=$EPOCHREALTIME
  if [ "$3" = Zip ]; then
    out=$work/zip-curl
    mkdir -p "$out"
    /usr/bin/time -f %M -o "$work/mem" "${client_cpu[@]}" sh -c \
      'curl -s -S --fail -o "$1/pack.zip" "$2" && unzip -o -q "$1/pack.zip" -d "$1"' sh "$out" \
      "$1://127.0.0.1:$2/Zip/pack.zip" || { echo "curl or unzip failed: $?" >&2; exit 1; }
  else
    /usr/bin/time -f %M -o "$work/mem" "${client_cpu[@]}" curl -s -S --fail -K "$work/curl.cfg" \
      "${extra[@]}" || { echo "curl failed: $?" >&2; exit 1; }
  fi
  end=$EPOCHREALTIME
  [ "$3" = Small ] && complete "$out" curl
  rm -f "$out/big.bin"
  echo "$(echo "$end - $start" | bc) $(cat "$work/mem")"
}

stats() {  # prints "min median" of the numbers on standard input
  sort -g | awk '{v[NR]=$1} END {printf "%.3f %.3f", v[1], v[int((NR+1)/2)]}'
}

# Every FTP file leaves a data connection in TIME-WAIT for a minute. On 127.0.0.1 they all sit
# on this machine (across a network they stay on the server), and from about 8,000 on every new
# data connection, the server's and the client's alike, searches long for a free port: a run
# then takes seconds, whoever runs it. So every FTP round starts once fewer than
# TANDOR_BENCH_TIME_WAIT (default 3,000) are left; below that both sides measured flat.
settle() {
  command -v ss >/dev/null || return 0
  for _ in $(seq 120); do
    [ "$(ss -Htan state time-wait | wc -l)" -lt "${TANDOR_BENCH_TIME_WAIT:-3000}" ] && return 0
    sleep 1
  done
}

values() {  # the words of $1, one a line
  tr ' ' '\n' <<<"$1" | sed '/^$/d'
}

# A row runs Tandor against curl on one connection and, with "parallel", against curl -Z too.
row() {  # name method port product passive scheme curl-mode [rounds [parallel]]
  [[ $1 =~ ${TANDOR_BENCH_ROWS:-.} ]] || return 0
  local sides=(ours curl) result side order
  [ "${9:-}" = parallel ] && [ -z "${TANDOR_BENCH_VS:-}" ] && sides+=(curlz)
  local -A secs=() kb=()
  # Over existing files: a first run of each side, not counted, puts them there.
  if [ "$4" = Zip ]; then
    pass "$2" "$3" "$4" "$5" >/dev/null
    fetch "$6" "$3" "$4" "$7" >/dev/null
  fi
  for round in $(seq "${8:-$rounds}"); do
    [ "$2" = FTP ] && settle
    # Rounds alternate who goes first (AB BA, or ABC CBA), so that a drift during the row, such
    # as the closed data connections piling up, weighs on every side alike.
    order=("${sides[@]}")
    ((round % 2)) || mapfile -t order < <(printf '%s\n' "${sides[@]}" | tac)
    for side in "${order[@]}"; do
      # Three FTP runs in a round would leave too many connections in TIME-WAIT for the last.
      if [ "$2" = FTP ] && [ "${#sides[@]}" -gt 2 ]; then settle; fi
      case $side in
        ours) result=$(pass "$2" "$3" "$4" "$5") ;;
        curl)
          if [ -n "${TANDOR_BENCH_VS:-}" ]; then
            result=$(binary=$TANDOR_BENCH_VS pass "$2" "$3" "$4" "$5")
          else
            result=$(fetch "$6" "$3" "$4" "$7")
          fi
          ;;
        curlz) result=$(fetch "$6" "$3" "$4" "$7" parallel) ;;
      esac
      secs[$side]+="${result% *} "
      kb[$side]+="${result#* } "
    done
  done
  local -A min=() med=() paired=() peak=()
  local ours=() theirs=()
  read -ra ours <<<"${secs[ours]}"
  for side in "${sides[@]}"; do
    read -r "min[$side]" "med[$side]" <<<"$(values "${secs[$side]}" | stats)"
    peak[$side]=$(($(values "${kb[$side]}" | sort -n | tail -n 1) / 1024))
    [ "$side" = ours ] && continue
    # Each round's own ratio, too: its median follows the machine's drift less than the medians.
    read -ra theirs <<<"${secs[$side]}"
    paired[$side]=$(for i in "${!ours[@]}"; do echo "${ours[$i]} / ${theirs[$i]}" | bc -l; done | stats)
    paired[$side]=${paired[$side]#* }
  done
  if [ "${#sides[@]}" -eq 2 ]; then
    printf '%-34s Tandor min %7.3f s median %7.3f s | curl min %7.3f s median %7.3f s | ratio %.2f (paired %.2f) | peak %d MB (curl %d MB)\n' \
      "$1" "${min[ours]}" "${med[ours]}" "${min[curl]}" "${med[curl]}" \
      "$(echo "${med[ours]} / ${med[curl]}" | bc -l)" "${paired[curl]}" "${peak[ours]}" "${peak[curl]}"
  else
    printf '%-48s Tandor min %7.3f s median %7.3f s | curl min %7.3f s median %7.3f s | curl -Z min %7.3f s median %7.3f s | Tandor/curl %.2f (paired %.2f) | Tandor/curl -Z %.2f (paired %.2f) | peak %d MB (curl %d MB, curl -Z %d MB)\n' \
      "$1" "${min[ours]}" "${med[ours]}" "${min[curl]}" "${med[curl]}" "${min[curlz]}" "${med[curlz]}" \
      "$(echo "${med[ours]} / ${med[curl]}" | bc -l)" "${paired[curl]}" \
      "$(echo "${med[ours]} / ${med[curlz]}" | bc -l)" "${paired[curlz]}" \
      "${peak[ours]}" "${peak[curl]}" "${peak[curlz]}"
  fi
}

# The latency rows: the server behind bench/delay_proxy.py, on the servers' core, as the network.
proxy_pid=
start_proxy() {  # target-port rtt-ms [proxy flags]; sets proxy_port
  : >"$work/proxy.port"
  "${server_cpu[@]}" /usr/bin/python3 "$here/delay_proxy.py" --target "127.0.0.1:$1" \
    --delay-ms "$(echo "$2 / 2" | bc -l)" --rate-mbit "${TANDOR_BENCH_RATE_MBIT:-100}" "${@:3}" \
    >"$work/proxy.port" &
  proxy_pid=$!
  for _ in $(seq 100); do
    proxy_port=$(head -n 1 "$work/proxy.port")
    [ -n "$proxy_port" ] && return
    sleep 0.05
  done
  echo "the delay proxy did not start" >&2
  exit 1
}
stop_proxy() {
  kill "$proxy_pid"
  wait "$proxy_pid" || true
  proxy_pid=
}

latency_row() {  # name method server-port passive scheme curl-mode rtt-ms [proxy flags]
  [[ $1 =~ ${TANDOR_BENCH_ROWS:-.} ]] || return 0
  local n=$rounds
  (($(echo "$7 >= 100" | bc))) && n=${TANDOR_BENCH_SLOW_ROUNDS:-1}
  start_proxy "$3" "$7" "${@:8}"
  row "$1" "$2" "$proxy_port" Small "$4" "$5" "$6" "$n" parallel
  stop_proxy
}

echo "rounds: $rounds (at 100 ms RTT or more: ${TANDOR_BENCH_SLOW_ROUNDS:-1}), large file: $mb MiB," \
  "link: ${TANDOR_BENCH_RATE_MBIT:-100} Mbit/s, binary: $tandor, servers on: ${server_cpu[*]:-any core}" \
  "${TANDOR_BENCH_VS:+(the curl columns are $TANDOR_BENCH_VS)}"
row "1,000 x 10 KiB over HTTP" HTTP "$http_port" Small 0 http -
row "$mb MiB over HTTP" HTTP "$http_port" Large 0 http -
row "1,000 x 10 KiB over FTP, passive" FTP "$ftp_port" Small 1 ftp passive
row "1,000 x 10 KiB over FTP, active" FTP "$ftp_port" Small 0 ftp active
row "$mb MiB over FTP, passive" FTP "$ftp_port" Large 1 ftp passive
row "$extract_row" HTTP "$http_port" Zip 0 http -
for rtt in ${TANDOR_BENCH_RTTS:-20 100}; do
  latency_row "1,000 x 10 KiB over HTTP at $rtt ms RTT" HTTP "$http_port" 0 http - "$rtt"
  latency_row "1,000 x 10 KiB over HTTPS at $rtt ms RTT" HTTPS "$https_port" 0 https - "$rtt"
  latency_row "1,000 x 10 KiB over FTP (passive) at $rtt ms RTT" FTP "$ftp_port" 1 ftp passive \
    "$rtt" --ftp
done
