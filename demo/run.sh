#!/usr/bin/env bash
# The demo: a real FTP server on 127.0.0.1 serves product "Sample"; the updater brings the demo
# machine's copy up to date. Run it again and the second pass installs nothing; --fresh starts
# over with an empty machine.
#
# With --signed the manifest is signed with a demo key (made by tandor-sign beside Tandor) and
# the demo machine trusts that key only, as a machine set up for signed updates does.
#
#   demo/run.sh [path/to/Tandor] [--fresh] [--signed]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tandor=$here/../build/Tandor
fresh=0
signed=0
for arg in "$@"; do
  case $arg in
    --fresh) fresh=1 ;;
    --signed) signed=1 ;;
    *) tandor=$arg ;;
  esac
done
work=$(realpath -m "${TANDOR_DEMO_WORK:-$here/../demo-run}")
[ $fresh = 1 ] && rm -rf "$work"

prefix=$work/prefix
app=$prefix/drive_c/Client
# An installed updater (/usr/bin/Tandor) runs in place; its application folder is in the prefix.
installed=
case $(dirname "$(realpath "$tandor")") in
  /usr/*|/bin|/sbin) installed=1; app=$prefix/drive_c/Tandor ;;
esac
server=$work/server
mkdir -p "$app" "$server/Harrowin/Sample"

# The server's copy of the product; data.zip is packed from its folder.
cp "$here/product/readme.txt" "$here/product/library.dl_" "$here/product/setup.sh" \
   "$here/product/Sample.ex_" "$here/product/Tandor10.ini" "$server/Harrowin/Sample/"
(cd "$here/product/data" && rm -f "$server/Harrowin/Sample/data.zip" &&
 zip -q -r -X "$server/Harrowin/Sample/data.zip" docs images)
touch -d '2026-01-01 00:00' "$server/Harrowin/Sample/data.zip"
[ -n "$installed" ] || cp "$tandor" "$app/Tandor"

if [ $signed = 1 ]; then
  sign=$(dirname "$tandor")/tandor-sign
  mkdir -p "$work/keys"
  [ -f "$work/keys/manifest.key" ] ||
    "$sign" keygen "$work/keys/manifest.key" "$work/keys/manifest.pub" >/dev/null
  "$sign" sign "$work/keys/manifest.key" "$server/Harrowin/Sample/Tandor10.ini"
  registry=$prefix/registry.ini
  if [ ! -f "$registry" ]; then
    printf '%s\r\n' '[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion]' \
      'ProgramFilesDir=C:\Program Files' 'CommonFilesDir=C:\Program Files\Common Files' '' \
      '[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Nls\CodePage]' 'ACP=65001' \
      >"$registry"
  fi
  grep -q '^ManifestKey=' "$registry" ||
    printf '\r\n%s\r\nManifestKey=%s\r\n' '[HKEY_LOCAL_MACHINE\SOFTWARE\Tandor]' \
      "$(cat "$work/keys/manifest.pub")" >>"$registry"
  echo "== Signed: the manifest carries Tandor10.ini.sig; the machine trusts only $work/keys/manifest.pub"
fi

# The updater reads ports as 16-bit signed numbers: pick a free one below 32768.
port=$(/usr/bin/python3 - <<'PY'
import random, socket
for port in random.sample(range(20000, 32768), 200):
    s = socket.socket()
    try:
        s.bind(("127.0.0.1", port))
    except OSError:
        continue
    s.close()
    print(port)
    break
PY
)
# pyftpdlib's threaded server: its stock single-loop one (python3 -m pyftpdlib) now and then
# leaves a command of a client in active mode unanswered while other sessions come and go.
/usr/bin/python3 - "$port" "$server" >"$work/ftp.log" 2>&1 <<'PY' &
import sys
from pyftpdlib import authorizers, handlers, servers
handlers.FTPHandler.authorizer = authorizers.DummyAuthorizer()
handlers.FTPHandler.authorizer.add_user("demo", "demo", sys.argv[2], perm="elradfmwMT")
servers.ThreadedFTPServer(("127.0.0.1", int(sys.argv[1])), handlers.FTPHandler).serve_forever()
PY
ftp_pid=$!
trap 'kill $ftp_pid 2>/dev/null; wait $ftp_pid 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done

printf '[Tandor]\r\nMethod=FTP\r\nAddress=127.0.0.1\r\nPort=%s\r\nUser=demo\r\nPassword=demo\r\nRoot=/Harrowin\r\n' \
  "$port" >"$app/Tandor.ini"

export TANDOR_PREFIX=$prefix
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$work/runtime}
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  export TANDOR_UNATTENDED=1
  echo "== No display: the update runs unattended and prints its lines here."
fi
echo "== Starting: Tandor Sample (FTP server on 127.0.0.1:$port)"
status=0
if [ -n "$installed" ]; then "$tandor" --wait Sample || status=$?; else "$app/Tandor" --wait Sample || status=$?; fi
echo "== The update ended with status $status."

echo
echo "== Installed in C:\\Sample ($prefix/drive_c/Sample):"
(cd "$prefix/drive_c/Sample" && find . -type f | sort | sed 's|^\./|   |')
echo "== Err.log:"
sed 's/^/   /' "$app/Err.log"
[ -s "$app/Err.log" ] || echo "   (empty: nothing was downloaded)"
[ -f "$prefix/drive_c/Sample/Sample.log" ] && echo "== $(cat "$prefix/drive_c/Sample/Sample.log")"
echo "== Run demo/run.sh again: the second pass finds everything current and installs nothing."
exit "$status"
