#!/usr/bin/env bash
# Installs the build tree into a new prefix and checks it as a user meets it: the
# files where they belong, the command line restoring the installed sample, the
# desktop entry valid and offered for BMP, PNG and JPEG files, the icon, the manual
# pages rendering without a warning, and ruvanta-cli's page listing exactly the
# options its --help lists.
#   install_test.sh BUILD_DIR SOURCE_DIR window|no-window
set -euo pipefail
build=$1 source=$2 window=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

fail() {
  echo "install_test: $*" >&2
  exit 1
}
need() { command -v "$1" >/dev/null || fail "$1 is missing (scripts/deps.sh installs $2)"; }
need man man-db
need desktop-file-validate desktop-file-utils
need update-desktop-database desktop-file-utils

cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "cmake --install failed"; }

doc=share/doc/ruvanta
files=(bin/ruvanta-cli share/man/man1/ruvanta-cli.1 $doc/README.md $doc/docs/window.md
  $doc/examples/damaged.bmp $doc/examples/mask.bmp $doc/examples/original.bmp $doc/examples/README.md)
programs="ruvanta-cli"
if [ "$window" = window ]; then
  files+=(bin/ruvanta share/man/man1/ruvanta.1 share/applications/ruvanta.desktop
    share/icons/hicolor/scalable/apps/ruvanta.svg share/icons/hicolor/256x256/apps/ruvanta.png)
  programs="ruvanta ruvanta-cli"
fi
for f in "${files[@]}"; do
  [ -f "$prefix/$f" ] || fail "$f is not installed"
done
# The programs of a user, not the build's helpers and tests.
installed=$(cd "$prefix/bin" && ls | sort | tr '\n' ' ')
[ "$installed" = "$programs " ] || fail "bin/ holds '$installed', not '$programs '"
for p in $programs; do [ -x "$prefix/bin/$p" ] || fail "bin/$p is not executable"; done

# The README's links into docs/ lead to installed files.
for link in $(grep -oE '\]\(docs/[^)#]+' "$prefix/$doc/README.md" | sed 's/^](//' | sort -u); do
  [ -f "$prefix/$doc/$link" ] || fail "README.md links to $link, which is not installed beside it"
done

# The installed command line restores the installed sample as the build's restores
# the source tree's.
ex=$prefix/$doc/examples
"$prefix/bin/ruvanta-cli" --damaged "$ex/damaged.bmp" --mask "$ex/mask.bmp" \
  --original "$ex/original.bmp" --output "$work/installed.bmp" >"$work/installed.txt"
"$build/ruvanta-cli" --damaged "$source/data/damaged.bmp" --mask "$source/data/mask.bmp" \
  --original "$source/data/original.bmp" --output "$work/built.bmp" >"$work/built.txt"
diff <(grep -v '^seconds:' "$work/built.txt") <(grep -v '^seconds:' "$work/installed.txt") ||
  fail "the installed ruvanta-cli printed other figures than the build's"
cmp -s "$work/built.bmp" "$work/installed.bmp" || fail "the installed ruvanta-cli wrote another result"

if [ "$window" = window ]; then
  entry=$prefix/share/applications/ruvanta.desktop
  report=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate refuses the entry: $report"
  [ -z "$report" ] || fail "desktop-file-validate: $report"
  exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
  [ -x "$prefix/bin/$exec_program" ] || fail "Exec runs '$exec_program', which is not in bin/"
  grep -qx 'Exec=[^ ]* .*%[fFuU].*' "$entry" || fail "Exec passes no file to the program"
  icon=$(sed -n 's/^Icon=//p' "$entry")
  for f in scalable/apps/$icon.svg 256x256/apps/$icon.png; do
    [ -f "$prefix/share/icons/hicolor/$f" ] || fail "Icon=$icon, but hicolor/$f is not installed"
  done
  # The PNG's header: 256 x 256.
  size=$(od -An -tu1 -j16 -N8 "$prefix/share/icons/hicolor/256x256/apps/$icon.png" | tr -s ' ')
  [ "$size" = " 0 0 1 0 0 0 1 0" ] || fail "the 256 px icon's header gives the size bytes '$size'"
  grep -q '<svg[^>]*viewBox=' "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ||
    fail "the scalable icon has no <svg> with a viewBox"

  # "Open with": the desktop's MIME cache offers the entry for the three formats.
  cp -r "$prefix/share/applications" "$work/applications"
  update-desktop-database "$work/applications"
  for type in image/bmp image/png image/jpeg; do
    grep -q "^$type=.*ruvanta.desktop" "$work/applications/mimeinfo.cache" ||
      fail "the MIME cache does not offer ruvanta.desktop for $type"
  done
fi

# The manual pages render, with every groff warning on, and have their sections.
render() { LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings=w -l "$1"; }
pages=(ruvanta-cli)
[ "$window" = window ] && pages+=(ruvanta)
for page in "${pages[@]}"; do
  file=$prefix/share/man/man1/$page.1
  render "$file" >"$work/$page.txt" 2>"$work/$page.err" || fail "man -l $page.1 failed"
  [ ! -s "$work/$page.err" ] || fail "man -l $page.1 warns: $(cat "$work/$page.err")"
  sections=(NAME SYNOPSIS DESCRIPTION "EXIT STATUS" FILES "SEE ALSO")
  [ "$page" = ruvanta-cli ] && sections+=(OPTIONS EXAMPLES)
  for s in "${sections[@]}"; do
    grep -qx "$s" "$work/$page.txt" || fail "$page.1 has no $s section"
  done
done

# Every option of --help is an entry of the page's OPTIONS, and no other.
"$prefix/bin/ruvanta-cli" --help | grep -oE '^ +-[-a-zA-Z,]+' | tr -d ' ' | tr ',' '\n' |
  sort >"$work/help-options"
sed -n '/^OPTIONS$/,/^[A-Z]/p' "$work/ruvanta-cli.txt" | grep -E '^ {7}-' |
  grep -oE '^ {7}-[-a-zA-Z]+(, -[-a-zA-Z]+)*' | tr -d ' ' | tr ',' '\n' |
  sort >"$work/page-options"
[ "$(wc -l <"$work/help-options")" -gt 10 ] || fail "read too few options from --help"
diff "$work/help-options" "$work/page-options" >"$work/options.diff" ||
  fail "the options of --help (<) and of the manual page (>) differ: $(cat "$work/options.diff")"
echo "install_test: $(find "$prefix" -type f | wc -l) files installed and checked"
