#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Installs the build into a scratch prefix, as a packager would, and builds and runs a small C
# client against it through pkg-config. Checks that nothing installed keeps a path into the build
# tree and that the libraries come with their symbolic links.
#   install-test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
prefix=$(mktemp -d "${TMPDIR:-/tmp}/kvinstall.XXXXXX")
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
fail() {
  echo "install-test: $*" >&2
  exit 1
}

pc=$(find "$prefix" -name ctkorvin.pc)
[ -n "$pc" ] || fail "no ctkorvin.pc installed"
libdir=$(dirname "$(dirname "$pc")")
for file in libctkorvin.so libctkorvin.so.4 libmemlink.so.4 libpinlink.so.4; do
  [ -e "$libdir/$file" ] || fail "$file missing in $libdir"
done
[ -L "$libdir/libctkorvin.so" ] || fail "libctkorvin.so is not a symbolic link"
for file in include/ctkorvin/ctapi.h bin/inisync bin/ctkorvin-cli share/man/man1/inisync.1 \
  share/man/man1/ctkorvin-cli.1 share/man/man3/ctkorvin.3; do
  [ -e "$prefix/$file" ] || fail "$file missing"
done
[ -n "$(find "$prefix" -name ctkorvinConfig.cmake)" ] || fail "no CMake package file"

# Nothing installed may point into the build tree.
build_abs=$(cd "$build" && pwd)
for file in "$libdir"/lib*.so.* "$prefix"/bin/*; do
  if readelf -d "$file" 2>/dev/null | grep -E 'R(UN)?PATH' | grep -qF "$build_abs"; then
    fail "$file has a run path into the build tree"
  fi
done
readelf -d "$libdir/libctkorvin.so.4" | grep -qF '[$ORIGIN]' || fail "libctkorvin has no \$ORIGIN"

# The client, built as users build one.
export PKG_CONFIG_PATH="$libdir/pkgconfig"
flags=$(pkg-config --cflags --libs ctkorvin)
client="$prefix/client"
# A sanitized build of the library needs the sanitizer runtimes in the client too.
sanitize=""
if readelf -d "$libdir/libctkorvin.so.4" | grep -q 'libasan'; then
  sanitize="-fsanitize=address,undefined"
fi
# shellcheck disable=SC2086
cc -Wall -Wextra -pedantic -Werror $sanitize -o "$client" "$source/tests/install/client.c" $flags
# The library is found where it was installed; the build tree plays no part (its folder is not
# on any path).
LD_LIBRARY_PATH="$libdir" ASAN_OPTIONS=detect_leaks=0 "$client"
echo "1 passed, 0 failed"
