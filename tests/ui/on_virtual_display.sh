#!/bin/sh
# Runs a test program on a virtual X display of its own (1280 x 1024, 24 bits), for
# the tests that drive the window with a real pointer and keyboard. A missing tool
# fails the test rather than skipping it: scripts/deps.sh installs them all.
set -eu
for tool in xvfb-run Xvfb xauth xdotool; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "$tool is missing (scripts/deps.sh installs it): cannot drive the window" >&2
    exit 1
  fi
done
exec xvfb-run -a -s "-screen 0 1280x1024x24" "$@"
