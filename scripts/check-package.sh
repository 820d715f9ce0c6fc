#!/usr/bin/env bash
# Builds the Debian package and tries it the way a user meets it, on this machine:
# builds build-package/ (Release, prefix /usr, no tests), makes the .deb with
# cpack, removes every package scripts/deps.sh installed (so nothing but the
# package's own dependencies brings the libraries back), installs the .deb with
# apt-get, then checks that the programs find their libraries, `man ruvanta-cli`
# shows the manual, the menu entry validates and is offered for BMP, PNG and JPEG
# files, ruvanta-cli restores the installed sample as the build did, the Python
# module (installed with the package) restores it into the same bytes, the menu
# entry's command opens the window on a virtual display, and removing the package
# takes its files away.
#
# It changes the machine's packages, so it runs only where CI=true, such as a fresh
# machine made for one run:   ../shared/tools/fresh-machine.sh scripts/check-package.sh
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${CI:-}" != true ] || [ "$(id -u)" -ne 0 ]; then
  echo "check-package: installs and removes system packages; runs only as root with CI=true" >&2
  exit 2
fi
export DEBIAN_FRONTEND=noninteractive
step() { echo "== check-package: $*"; }
fail() {
  echo "check-package: FAILED: $*" >&2
  exit 1
}

step "build dependencies, build, package"
scripts/deps.sh
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DRUVANTA_TESTS=OFF -DRUVANTA_BENCH=OFF >/dev/null
cmake --build build-package -j "$(nproc)"
(cd build-package && cpack -G DEB)
debs=(build-package/ruvanta_*.deb)
[ ${#debs[@]} -eq 1 ] || fail "expected one .deb, found: ${debs[*]}"
deb=$(realpath "${debs[0]}")
dpkg-deb -I "$deb"

work=$(mktemp -d)
build-package/ruvanta-cli --damaged data/damaged.bmp --mask data/mask.bmp \
  --original data/original.bmp --output "$work/built.bmp" | grep -v '^seconds:' >"$work/built.txt"

step "remove what scripts/deps.sh installed"
mapfile -t build_deps < <(scripts/deps.sh --list)
apt-get purge -y -qq "${build_deps[@]}" </dev/null >/dev/null
apt-get autoremove --purge -y -qq </dev/null >/dev/null
for lib in libqt6widgets6 libspng0; do
  if dpkg-query -W -f='${Status}' "$lib" 2>/dev/null | grep -q "install ok installed"; then
    fail "$lib is still installed after removing the build's packages"
  fi
done

step "apt-get install ./$(basename "$deb")"
apt-get install -y -qq --no-install-recommends "$deb" </dev/null
for p in ruvanta ruvanta-cli; do
  missing=$(ldd "/usr/bin/$p" | grep 'not found' || true)
  [ -z "$missing" ] || fail "/usr/bin/$p lacks libraries: $missing"
done

step "the tools of the checks (not dependencies of the package)"
apt-get install -y -qq --no-install-recommends man-db desktop-file-utils xvfb xauth xdotool \
  </dev/null >/dev/null

step "man ruvanta-cli, man ruvanta"
[ "$(man -w ruvanta-cli)" = /usr/share/man/man1/ruvanta-cli.1 ] || fail "man -w ruvanta-cli: $(man -w ruvanta-cli)"
MANWIDTH=80 man ruvanta-cli >"$work/man.txt" 2>"$work/man.err" || fail "man ruvanta-cli failed"
[ ! -s "$work/man.err" ] || fail "man ruvanta-cli: $(cat "$work/man.err")"
sed -n '1,12p' "$work/man.txt"
for s in SYNOPSIS OPTIONS "EXIT STATUS" FILES EXAMPLES; do
  grep -qx "$s" "$work/man.txt" || fail "man ruvanta-cli shows no $s"
done
grep -q '/usr/share/doc/ruvanta/examples' "$work/man.txt" || fail "the manual does not name the installed sample"
page=$(MANWIDTH=80 man ruvanta)  # whole, so that grep -q never cuts man's pipe short
grep -qx DESCRIPTION <<<"$page" || fail "man ruvanta shows no DESCRIPTION"

step "the menu entry"
entry=/usr/share/applications/ruvanta.desktop
desktop-file-validate "$entry" || fail "desktop-file-validate refuses $entry"
for type in image/bmp image/png image/jpeg; do
  grep -q "^$type=.*ruvanta.desktop" /usr/share/applications/mimeinfo.cache ||
    fail "the desktop's MIME cache does not offer ruvanta for $type"
done
[ -f /usr/share/icons/hicolor/256x256/apps/ruvanta.png ] || fail "no 256 px icon"
[ -f /usr/share/icons/hicolor/scalable/apps/ruvanta.svg ] || fail "no scalable icon"

step "ruvanta-cli restores the installed sample"
ex=/usr/share/doc/ruvanta/examples
(cd / && ruvanta-cli --damaged "$ex/damaged.bmp" --mask "$ex/mask.bmp" --original "$ex/original.bmp" \
  --output "$work/installed.bmp") | tee "$work/installed-all.txt"
grep -v '^seconds:' "$work/installed-all.txt" >"$work/installed.txt"
diff "$work/built.txt" "$work/installed.txt" || fail "the installed ruvanta-cli prints other figures"
cmp "$work/built.bmp" "$work/installed.bmp" || fail "the installed ruvanta-cli writes another result"

step "python3: import ruvanta, numpy restores the installed sample"
# The BMP files read with numpy alone (24-bit, bottom-up rows padded to 4 bytes).
(cd / && python3 - "$ex" "$work/built.bmp" <<'PYTHON') || fail "the Python module does not give the command line's result"
import sys
import numpy, ruvanta
def read_bmp(path):
    data = open(path, "rb").read()
    offset = int.from_bytes(data[10:14], "little")
    width = int.from_bytes(data[18:22], "little", signed=True)
    height = int.from_bytes(data[22:26], "little", signed=True)
    stride = (width * 3 + 3) // 4 * 4
    rows = numpy.frombuffer(data, numpy.uint8, stride * abs(height), offset)
    picture = rows.reshape(abs(height), stride)[:, :width * 3].reshape(abs(height), width, 3)
    picture = picture[:, :, ::-1]
    return numpy.ascontiguousarray(picture[::-1] if height > 0 else picture)
ex, built = sys.argv[1], sys.argv[2]
assert ruvanta.__file__.startswith("/usr/lib/python3/dist-packages/"), ruvanta.__file__
r = ruvanta.restore(read_bmp(ex + "/damaged.bmp"), read_bmp(ex + "/mask.bmp"),
                    original=read_bmp(ex + "/original.bmp"))
assert numpy.array_equal(r.image, read_bmp(built)), "the restored array differs"
print("ruvanta.restore:", r)
PYTHON

step "the menu entry's command opens the window"
command=$(sed -n 's/^Exec=//p' "$entry")
command=${command//%f/$ex/damaged.bmp}
echo "running: $command"
export DBUS_SESSION_BUS_ADDRESS=disabled:
unset QT_QPA_PLATFORM
COMMAND=$command xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  $COMMAND &
  pid=$!
  # The dialog maps a window named after the program once it is shown.
  if ! timeout 60 xdotool search --sync --onlyvisible --name "^ruvanta$" >/dev/null; then
    echo "no window named ruvanta within 60 s" >&2
    kill $pid 2>/dev/null
    exit 1
  fi
  kill -0 $pid || { echo "the program ended with its window" >&2; exit 1; }
  kill $pid
  wait $pid || true
' || fail "the window did not open"
echo "the window opened"

step "apt-get remove ruvanta"
apt-get remove -y -qq ruvanta </dev/null >/dev/null
for f in /usr/bin/ruvanta /usr/bin/ruvanta-cli "$entry" /usr/share/man/man1/ruvanta-cli.1 \
  /usr/include/ruvanta/ruvanta.h; do
  [ ! -e "$f" ] || fail "$f is still there after removing the package"
done
rm -rf "$work"
echo "check-package: the package installs, works and goes away"
