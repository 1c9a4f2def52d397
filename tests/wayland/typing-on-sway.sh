#!/usr/bin/env bash
# The console on a Wayland desktop, typed at as an operator types: a headless
# sway, the console on Qt's Wayland platform against the simulator, and wtype
# for the keys. Checks that
#  - lines typed while calls arrive (their alerts take the compositor's
#    keyboard) reach the visitor whole, Enter included, and answer no call;
#  - Ctrl+Alt+N, then Enter after the alert's first second, answers the newest;
#  - Alt+number turns to a chat with the keys in its message box, although sway
#    refuses to activate it.
# Exit 77 (skipped) when sway, wtype or Qt's Wayland plug-in is missing.
#
#   typing-on-sway.sh BUILD_DIR
set -euo pipefail
build="$1"
skip() { echo "SKIP: $*"; exit 77; }
command -v sway >/dev/null || skip "sway is not installed"
command -v wtype >/dev/null || skip "wtype is not installed"
dpkg-query -W -f='${Status}' qt6-wayland 2>/dev/null | grep -q "ok installed" || skip "qt6-wayland is not installed"

work="$(mktemp -d)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"
# sway refuses to run as root: as root, the desktop runs as nobody.
as=()
if [ "$(id -u)" -eq 0 ]; then as=(runuser -u nobody --); fi
mkdir -m 700 "$work/run" "$work/desk"
[ ${#as[@]} -eq 0 ] || chown nobody "$work/run" "$work/desk"
# The binary where nobody can reach it (the build may be in root's home).
install -m 755 "$build/bin/velmora" "$work/velmora"
userenv=(env -i PATH="$PATH" HOME="$work/desk" XDG_RUNTIME_DIR="$work/run" WAYLAND_DISPLAY=wayland-velmora)

printf 'output HEADLESS-1 resolution 1280x800\n' >"$work/sway.cfg"
chmod 644 "$work/sway.cfg"
"${as[@]}" "${userenv[@]}" WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
  sway -c "$work/sway.cfg" >"$work/sway.log" 2>&1 &
pids+=($!)
# sway names its socket wayland-N; a link gives it the name the others use.
for _ in $(seq 100); do
  sock="$(ls "$work/run" 2>/dev/null | grep -E '^wayland-[0-9]+$' | head -1 || true)"
  [ -n "$sock" ] && break
  sleep 0.1
done
[ -n "$sock" ] || { cat "$work/sway.log"; echo "sway did not start"; exit 1; }
ln -s "$work/run/$sock" "$work/run/wayland-velmora"

port="$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')"
mkfifo "$work/sim.cmd"
"$build/bin/velmora-sim" "$port" --call-every 0 --lines 0 --reply-ms 600000 --quiet-keepalive \
  <>"$work/sim.cmd" >"$work/sim.log" 2>&1 &
pids+=($!)
printf '[ProgramIP_Options]\r\nClientID=demo\r\nWebSiteUrl=127.0.0.1\r\nWebListenPort=%s\r\nAuthValue=0\r\n\r\n[ProgramOptions]\r\nSupportName=Operator\r\n\r\n[GeneralProgramSetting]\r\nConnectOnStart=true\r\nUseEnterKeyToSendMessage=true\r\n\r\n[ProgramMailSettings]\r\nEanbelDisableMails=false\r\n' "$port" >"$work/desk/Velmora.ini"
[ ${#as[@]} -eq 0 ] || chown nobody "$work/desk/Velmora.ini"
(cd "$work/desk" && exec "${as[@]}" "${userenv[@]}" QT_QPA_PLATFORM=wayland "$work/velmora" >"$work/console.log" 2>&1) &
pids+=($!)

fail() {
  echo "FAIL: $*"
  echo "--- simulator"; cat "$work/sim.log"; echo "--- console"; tail -20 "$work/console.log"
  exit 1
}
wait_for() { # pattern count seconds
  for _ in $(seq $(($3 * 10))); do
    [ "$(grep -c -- "$1" "$work/sim.log" || true)" -ge "$2" ] && return 0
    sleep 0.1
  done
  return 1
}
# Each wtype run is a new virtual keyboard whose first key the compositor may
# drop while it takes the device: every run starts with a Shift.
type_keys() { "${as[@]}" "${userenv[@]}" wtype -k Shift_L "$@"; }
call() { echo call >"$work/sim.cmd"; }

wait_for "SUPPORT_READY" 1 20 || fail "the console did not log in"
call
wait_for "announced" 1 10 || fail "no call announced"
sleep 1.2
type_keys -M ctrl -M alt a -m alt -m ctrl
wait_for "SUPPORT_ANSWERS_TO_CLI" 1 10 || fail "Ctrl+Alt+A did not accept the first call"
wait_for "SUPPORT_WELCOME" 1 10 || fail "the first chat did not open"
sleep 1

lines=8
for i in $(seq "$lines"); do
  (sleep "0.$((3 + i * 37 % 6))"; call) &
  type_keys -d 25 "Line $i part one, part two of line $i" -k Return
  sleep 1.2
done
wait_for 'CHAT_TEXT "Line' "$lines" 10 || true
got="$(grep -c 'CHAT_TEXT "Line [0-9]* part one, part two of line [0-9]*"' "$work/sim.log" || true)"
[ "$got" -eq "$lines" ] || fail "$got of $lines lines typed while calls arrived reached the visitor whole"
[ "$(grep -c SUPPORT_ANSWERS_TO_CLI "$work/sim.log")" -eq 1 ] || fail "a stray key answered a call"

# The operator turns to the newest alert; Enter answers it once its first second is over.
type_keys -M ctrl -M alt n -m alt -m ctrl -s 1300 -k Return
wait_for "SUPPORT_ANSWERS_TO_CLI" 2 10 || fail "Ctrl+Alt+N then Enter did not accept the newest call"
second="$(grep SUPPORT_ANSWERS_TO_CLI "$work/sim.log" | tail -1 | sed -n 's/.* session \([0-9]*\).*/\1/p')"
wait_for "call $second console [0-9]*\] SUPPORT_WELCOME" 1 10 || fail "the second chat did not open"
sleep 1

# Alt+1 and Alt+2: the open chats in the order they are listed.
type_keys -M alt 1 -m alt -s 400 "to the first" -k Return
sleep 1
type_keys -M alt 2 -m alt -s 400 "to the second" -k Return
wait_for 'CHAT_TEXT "to the second"' 1 10 || fail "nothing typed after Alt+2 reached a visitor"
grep -q '\[call 1 console [0-9]*\] CHAT_TEXT "to the first"' "$work/sim.log" || fail "Alt+1 did not turn to the first chat"
grep -q "\[call $second console [0-9]*\] CHAT_TEXT \"to the second\"" "$work/sim.log" ||
  fail "Alt+2 did not turn to the second chat"
echo "typing-on-sway: $lines lines while calls arrived, Ctrl+Alt+N and Alt+number: all as expected"
