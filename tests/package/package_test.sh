#!/usr/bin/env bash
# Installs, tries and purges the Debian package (as root); nothing it made outlives it.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
export DEBIAN_FRONTEND=noninteractive
fail() { echo "package test: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "package test: needs root; skipped"; exit 0; }
! dpkg-query -W -f='${Status}' tandor 2>/dev/null | grep -q 'ok installed' ||
  fail "a tandor package is installed already; leaving it alone"
[ ! -e /etc/tandor ] || fail "/etc/tandor exists already; leaving it alone"
work=$(mktemp -d)
trap 'apt-get purge -y -q tandor >/dev/null 2>&1 || dpkg --purge tandor >/dev/null 2>&1; rm -rf /etc/tandor "$work"' EXIT
trap 'exit 1' INT TERM HUP

cp "$("$root/scripts/package.sh" | tail -n 1)" "$work/"
(cd "$work" && apt-get install -y -q --no-install-recommends ./tandor_*.deb >/dev/null)
[ "$(/usr/bin/Tandor --version)" = "Tandor 1.00.0210" ] || fail "wrong --version"
for page in Tandor tandor-publish tandor-sign; do man -w "$page" >/dev/null || fail "no man page $page"; done
[ -f /usr/share/applications/tandor-publisher.desktop ] || fail "no desktop entry"
# Read whole: grep -q leaving early would break the pipe under pipefail.
help=$(/usr/bin/tandor-publish --help) && grep -q '^Exit status' <<<"$help" || fail "no tandor-publish"

# The demo against the installed program, which runs from drive_c/Tandor in the demo prefix.
export TANDOR_DEMO_WORK=$work/demo
"$root/demo/run.sh" /usr/bin/Tandor || fail "the demo's update ended with status $?"
[ -f "$work/demo/prefix/drive_c/Sample/readme.txt" ] || fail "the demo installed nothing"
[ ! -e /usr/bin/TandorSample ] || fail "the launcher wrote beside itself"

# The first start of an installed launcher takes its settings from /etc/tandor/Tandor.ini.
mkdir -p /etc/tandor
printf '[Tandor]\r\nMethod=HTTP\r\nAddress=127.0.0.1\r\nPort=1\r\n' >/etc/tandor/Tandor.ini
out=$(TANDOR_PREFIX=$work/fresh TANDOR_UNATTENDED=1 /usr/bin/Tandor --wait Sample 2>&1) && status=0 ||
  status=$?
[ "$status" -eq 2 ] && grep -q 'Upgrade Sample by HTTP' <<<"$out" ||
  fail "/etc/tandor/Tandor.ini was not used (status $status): $out"

apt-get purge -y -q tandor >/dev/null
[ ! -e /usr/bin/Tandor ] || fail "/usr/bin/Tandor is still there after the purge"
echo "package test: passed"
