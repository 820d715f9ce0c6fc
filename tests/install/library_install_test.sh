#!/usr/bin/env bash
# The library and the Python module as another project meets them: installs the
# build tree into a new prefix, builds the ten-line consumer (tests/install/consumer)
# against it with find_package(ruvanta) and runs it; checks that the library
# exports only the interface, and that the installed Python module imports from its
# place under the prefix and restores.
#   library_install_test.sh BUILD_DIR SOURCE_DIR [PYTHON]
set -euo pipefail
build=$1 source=$2 python=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() {
  echo "library_install_test: $*" >&2
  exit 1
}

cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "cmake --install failed"; }
[ -f "$prefix/include/ruvanta/ruvanta.h" ] || fail "the header is not installed"
lib=$(find "$prefix" -name 'libruvanta.so.1' | head -1)
[ -n "$lib" ] || fail "libruvanta.so.1 is not installed"
soname=$(objdump -p "$lib" | awk '$1 == "SONAME" {print $2}')
[ "$soname" = libruvanta.so.1 ] || fail "the library's SONAME is '$soname'"
others=$(nm -D --defined-only "$lib" | awk '$2 ~ /[TDBWVR]/ {print $3}' | c++filt | grep -v '^ruvanta::' || true)
[ -z "$others" ] || fail "the library exports more than the interface: $others"

# RUVANTA_CONSUMER_FLAGS: what the consumer needs to load a sanitized library.
flags=${RUVANTA_CONSUMER_FLAGS:-}
cmake -S "$source/tests/install/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" \
  >"$work/consumer.log" 2>&1 || { cat "$work/consumer.log"; fail "the consumer does not configure"; }
cmake --build "$work/consumer" >>"$work/consumer.log" 2>&1 || { cat "$work/consumer.log"; fail "the consumer does not build"; }
out=$("$work/consumer/consumer") || fail "the consumer failed: $out"
[ "$out" = $'mask pixels: 100\niterations: 100' ] || fail "the consumer printed '$out'"

if [ -n "$python" ]; then
  module=$(find "$prefix" -name 'ruvanta.cpython-*.so' | head -1)
  [ -n "$module" ] || fail "the Python module is not installed"
  case $module in
    "$prefix"/lib/python3*/dist-packages/ruvanta.*) ;;
    *) fail "the Python module is at $module, not in lib/python3.X/dist-packages" ;;
  esac
  # RUVANTA_PYTHON_PRELOAD: the runtime the interpreter loads first for a sanitized module.
  (cd "$work" && LD_PRELOAD=${RUVANTA_PYTHON_PRELOAD:-} PYTHONPATH=$(dirname "$module") "$python" -c '
import numpy, ruvanta
image = numpy.zeros((40, 50, 3), numpy.uint8); image[:, :, 0] = numpy.arange(50) * 5
mask = numpy.zeros((40, 50), bool); mask[10:20, 10:20] = True
r = ruvanta.restore(image, mask, "membrane")
assert r.mask_pixels == 100 and abs(int(r.image[15, 15, 0]) - 75) <= 1, (r, r.image[15, 15])
assert ruvanta.__file__.startswith("'"$prefix"'"), ruvanta.__file__
') || fail "the installed Python module does not restore"
fi
echo "library_install_test: the consumer built and ran against $prefix"
