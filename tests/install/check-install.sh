#!/usr/bin/env bash
# Installs the build into a scratch DESTDIR, as a package build does, and
# checks that a desktop finds everything it needs there.
#   check-install.sh BUILD_DIR
set -euo pipefail
build="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
stage="$work/destdir"
prefix=/usr
root="$stage$prefix"

DESTDIR="$stage" cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || {
  cat "$work/install.log"; exit 1; }

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
need_file() { [ -f "$root/$1" ] || fail "missing $prefix/$1"; }

for program in velmora velmora-sim; do
  [ -x "$root/bin/$program" ] || fail "$prefix/bin/$program is missing or not executable"
done

# The desktop entry: valid, and what it names is installed.
entry="$root/share/applications/velmora.desktop"
if [ -f "$entry" ]; then
  desktop-file-validate "$entry" || fail "desktop-file-validate rejects the entry"
  value() { sed -n "s/^$1=//p" "$entry" | head -n 1; }
  exec_program="$(value Exec | cut -d' ' -f1)"
  [ -x "$root/bin/$exec_program" ] || fail "Exec names $exec_program, which is not installed"
  value Exec | grep -q -- '--desktop' || fail "Exec does not pass --desktop: a menu start would work in the launcher's folder"
  [ "$(value GenericName)" = "Help-desk chat console" ] || fail "GenericName is '$(value GenericName)'"
  [ "$(value Categories)" = "Network;Chat;" ] || fail "Categories is '$(value Categories)'"
  # Qt names the window class after the application name set in main().
  [ "$(value StartupWMClass)" = "Velmora" ] || fail "StartupWMClass '$(value StartupWMClass)' is not the windows' class"
  icon="$(value Icon)"
else
  fail "missing $prefix/share/applications/velmora.desktop"
  icon=velmora
fi

# Every hicolor size, each a PNG of its own size.
for size in 16 22 24 32 48 64 128 256; do
  png="$root/share/icons/hicolor/${size}x${size}/apps/$icon.png"
  if [ ! -f "$png" ]; then
    fail "missing icon ${size}x${size}"
    continue
  fi
  file -b "$png" | grep -q "PNG image data, $size x $size" || fail "${size}x${size} icon is $(file -b "$png")"
done

for sound in ringin.wav Plugin.wav; do
  need_file "share/velmora/sounds/$sound"
  [ -f "$root/share/velmora/sounds/$sound" ] &&
    { file -b "$root/share/velmora/sounds/$sound" | grep -q WAVE || fail "$sound is not a wave file"; }
done

# Manual pages: compressed, rendered without warnings, naming the program.
for page in velmora velmora-sim; do
  man_gz="$root/share/man/man1/$page.1.gz"
  if [ ! -f "$man_gz" ]; then
    fail "missing manual page $page(1)"
    continue
  fi
  gzip -t "$man_gz" || fail "$page.1.gz is not a valid gzip file"
  zcat "$man_gz" | grep -q '@[A-Z]*@' && fail "$page.1 has an unreplaced @VARIABLE@"
  text="$(MANWIDTH=80 man --warnings -l "$man_gz" 2>"$work/warn" </dev/null)" || fail "man cannot render $page(1)"
  [ -s "$work/warn" ] && { fail "man warns about $page(1):"; cat "$work/warn" >&2; }
  grep -q "^NAME" <<<"$text" || fail "$page(1) has no NAME section"
done

# The installed programs describe themselves, without a display.
help="$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/bin/velmora" --help 2>&1)" || fail "velmora --help failed"
grep -q -- '--workdir' <<<"$help" || fail "velmora --help does not mention --workdir"
version="$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/bin/velmora" --version 2>&1)" || fail "velmora --version failed"
[[ "$version" =~ ^velmora\ [0-9]+\.[0-9]+ ]] || fail "velmora --version says '$version'"

# Every option either program takes is in its manual page.
sim_page="$(zcat "$root/share/man/man1/velmora-sim.1.gz" 2>/dev/null | sed 's/\\-/-/g')"
for option in $("$root/bin/velmora-sim" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
  grep -q -- "$option" <<<"$sim_page" || fail "velmora-sim(1) does not describe $option"
done
console_page="$(zcat "$root/share/man/man1/velmora.1.gz" 2>/dev/null | sed 's/\\-/-/g')"
for option in $(grep -o -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
  grep -q -- "$option" <<<"$console_page" || fail "velmora(1) does not describe $option"
done

# Nothing outside the prefix, and no test or build leftovers inside it.
stray="$(cd "$stage" && find . -mindepth 1 -maxdepth 1 ! -name "${prefix#/}")"
[ -z "$stray" ] || fail "installed outside $prefix: $stray"
extra="$(find "$root/bin" -type f ! -name velmora ! -name velmora-sim)"
[ -z "$extra" ] || fail "unexpected programs installed: $extra"

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "installation in DESTDIR checked: $(cd "$stage" && find . -type f | wc -l) files"
