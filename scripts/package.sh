#!/usr/bin/env bash
# Builds the Debian package (CPack) in a release tree and checks it with lintian. Prints the
# package's path on the last line.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh >&2
build=${TANDOR_PACKAGE_BUILD_DIR:-build-package}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache
                                         -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTANDOR_TESTS=OFF -DTANDOR_BENCH=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr "${launcher[@]}" >&2
cmake --build "$build" -j "$(nproc)" >&2
rm -f "$build"/tandor_*.deb
(cd "$build" && cpack -G DEB >&2)
deb=$(ls "$build"/tandor_*.deb)
lintian --fail-on error "$deb" >&2
realpath "$deb"
