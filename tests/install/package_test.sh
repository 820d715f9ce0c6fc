#!/usr/bin/env bash
# Makes the Debian package of the build tree with cpack and checks what apt will
# see: its name, section and maintainer, the libraries the programs link among its
# dependencies, and its files under /usr where the install puts them.
#   package_test.sh BUILD_DIR window|no-window
set -euo pipefail
build=$1 window=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "package_test: $*" >&2
  exit 1
}
command -v dpkg-deb >/dev/null || fail "dpkg-deb is missing"
command -v dpkg-shlibdeps >/dev/null || fail "dpkg-shlibdeps is missing (scripts/deps.sh installs dpkg-dev)"
command -v file >/dev/null || fail "file is missing (scripts/deps.sh installs it; cpack needs it for dpkg-shlibdeps)"

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack -G DEB failed"; }
debs=("$work"/ruvanta_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack wrote no single ruvanta_*.deb: ${debs[*]}"
deb=${debs[0]}
arch=$(dpkg --print-architecture)
case $(basename "$deb") in
  ruvanta_*_"$arch".deb) ;;
  *) fail "$(basename "$deb") is not named ruvanta_<version>_$arch.deb" ;;
esac

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = ruvanta ] || fail "Package: $(field Package)"
[ "$(field Section)" = graphics ] || fail "Section: $(field Section)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer: '$(field Maintainer)'"
[ -n "$(field Description)" ] || fail "no Description"

# The dependencies, one package name a line.
field Depends | tr ',' '\n' | sed -E 's/^ +//; s/ .*//' | sort -u >"$work/depends"
wanted=(libc6 libstdc++6 libspng0 libjpeg62-turbo)
[ "$window" = window ] && wanted+=(libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins)
for p in "${wanted[@]}"; do
  grep -qx "$p" "$work/depends" || fail "Depends lacks $p: $(field Depends)"
done

dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/files"
files=(/usr/bin/ruvanta-cli /usr/share/man/man1/ruvanta-cli.1 /usr/share/doc/ruvanta/README.md
  /usr/share/doc/ruvanta/examples/damaged.bmp)
[ "$window" = window ] && files+=(/usr/bin/ruvanta /usr/share/man/man1/ruvanta.1
  /usr/share/applications/ruvanta.desktop /usr/share/icons/hicolor/scalable/apps/ruvanta.svg
  /usr/share/icons/hicolor/256x256/apps/ruvanta.png)
for f in "${files[@]}"; do
  grep -qx "$f" "$work/files" || fail "the package does not hold $f"
done
# The library with its header and package configuration; the Python module, when
# built, where Debian's python3 finds it, with what it needs at run time.
for f in /usr/include/ruvanta/ruvanta.h /usr/lib/cmake/ruvanta/ruvantaConfig.cmake; do
  grep -qx "$f" "$work/files" || fail "the package does not hold $f"
done
grep -qE '^/usr/lib/([^/]+/)?libruvanta\.so\.1$' "$work/files" || fail "the package does not hold libruvanta.so.1"
# The listing is taken whole first: grep -q leaving the pipe early would make tar's
# broken pipe a failure under pipefail.
dpkg-deb --ctrl-tarfile "$deb" | tar -t >"$work/control-files"
grep -q shlibs "$work/control-files" || fail "the package has no shlibs file for libruvanta"
# (lib/python3/ from a tree configured for /usr, lib/python3.X/ from any other; both
# are on Debian's python3 path.)
if grep -qE '^/usr/lib/python3(\.[0-9]+)?/dist-packages/ruvanta\.cpython-' "$work/files"; then
  for p in python3 python3-numpy; do
    grep -qx "$p" "$work/depends" || fail "the Python module is packaged but Depends lacks $p: $(field Depends)"
  done
elif grep -q 'ruvanta\.cpython-' "$work/files"; then
  fail "the Python module is not in a dist-packages folder of /usr/lib: $(grep 'ruvanta\.cpython-' "$work/files")"
fi
outside=$(grep -v '^/usr/\|^/$' "$work/files" || true)
[ -z "$outside" ] || fail "the package holds files outside /usr: $outside"
echo "package_test: $(basename "$deb"), Depends: $(field Depends)"
