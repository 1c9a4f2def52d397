#!/usr/bin/env bash
# Starts the chat-server simulator and two consoles of one group side by side,
# each in a folder of its own, to try transfers and supporter chats by hand.
#
#   scripts/two-consoles.sh start [DIR]    # default DIR /tmp/velmora-two
#   scripts/two-consoles.sh sim DIR 'call' # a simulator command; its answer is in DIR/sim.log
#   scripts/two-consoles.sh stop [DIR]
#
# Settings through the environment:
#   VELMORA_TWO_PORT   simulator port (default 31900)
#   VELMORA_TWO_NAMES  the two supporter names (default "Anna Bert")
#   VELMORA_TWO_SMTP   a port for a local SMTP server that prints every
#                      transcript to DIR/smtp.log (default: none, no mails)
#   VELMORA_TWO_TEAM   a team archive both consoles share (a PostgreSQL
#                      connection string or service name; default: none)
#   DISPLAY            the X display; without one an Xvfb is started on
#                      VELMORA_TWO_XVFB (default :97), with openbox, and both
#                      are stopped by "stop"
# "start" installs what is missing of the console's packages, wmctrl and openbox.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VELMORA_BUILD_DIR:-$root/build}"
action="${1:-start}"
dir="${2:-/tmp/velmora-two}"
port="${VELMORA_TWO_PORT:-31900}"
read -r -a names <<<"${VELMORA_TWO_NAMES:-Anna Bert}"
smtp="${VELMORA_TWO_SMTP:-}"
team="${VELMORA_TWO_TEAM:-}"

# Started processes are kept in DIR/pids as "what pid", one a line, so "stop"
# ends exactly these and nothing else.
remember() { echo "$1 $2" >>"$dir/pids"; }

stop_all() {
  [ -f "$dir/pids" ] || { echo "two-consoles: nothing started in $dir"; return 0; }
  # Consoles first, so they log out while the simulator still listens.
  tac "$dir/pids" | while read -r what pid; do
    if kill -0 "$pid" 2>/dev/null; then
      kill "$pid" 2>/dev/null || true
      echo "two-consoles: stopped $what ($pid)"
    fi
  done
  rm -f "$dir/pids" "$dir/sim.cmd"
}

case "$action" in
  stop)
    stop_all
    exit 0
    ;;
  sim)
    shift 2 || true
    [ -p "$dir/sim.cmd" ] || { echo "two-consoles: no simulator running in $dir" >&2; exit 1; }
    echo "$*" >"$dir/sim.cmd"
    exit 0
    ;;
  start) ;;
  *)
    echo "usage: $0 start|stop [DIR] | sim DIR COMMAND..." >&2
    exit 2
    ;;
esac

[ -x "$build/bin/velmora" ] && [ -x "$build/bin/velmora-sim" ] || {
  echo "two-consoles: build velmora and velmora-sim first (scripts/build.sh)" >&2
  exit 1
}
if [ -f "$dir/pids" ]; then
  echo "two-consoles: $dir is in use; run \"$0 stop $dir\" first" >&2
  exit 1
fi
if [ "${#names[@]}" -ne 2 ]; then
  echo "two-consoles: VELMORA_TWO_NAMES wants two names" >&2
  exit 1
fi
if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
  echo "two-consoles: something already listens on 127.0.0.1:$port; choose VELMORA_TWO_PORT" >&2
  exit 1
fi
mkdir -p "$dir"
bash "$root/scripts/install-deps.sh" two-consoles

if [ -z "${DISPLAY:-}" ]; then
  export DISPLAY="${VELMORA_TWO_XVFB:-:97}"
  Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >"$dir/xvfb.log" 2>&1 &
  remember xvfb $!
  sleep 1
  # A window manager gives the windows title bars and close boxes; optional.
  if command -v openbox >/dev/null; then
    openbox >"$dir/wm.log" 2>&1 &
    remember wm $!
  fi
fi

# The command pipe is opened read-write so the simulator never sees its end.
rm -f "$dir/sim.cmd"
mkfifo "$dir/sim.cmd"
"$build/bin/velmora-sim" "$port" --call-every 0 --lines 0 --quiet-keepalive <>"$dir/sim.cmd" >"$dir/sim.log" 2>&1 &
remember sim $!
for _ in $(seq 25); do
  grep -q "listening on" "$dir/sim.log" 2>/dev/null && break
  sleep 0.2
done
grep -q "listening on" "$dir/sim.log" || { echo "two-consoles: the simulator did not start:" >&2; cat "$dir/sim.log" >&2; stop_all; exit 1; }

if [ -n "$smtp" ]; then
  /usr/bin/python3 -m aiosmtpd -n -l "127.0.0.1:$smtp" -c aiosmtpd.handlers.Debugging stdout >"$dir/smtp.log" 2>&1 &
  remember smtp $!
fi

for who in "${names[@]}"; do
  mkdir -p "$dir/$who"
  {
    printf '%s\r\n' '[ProgramIP_Options]' 'ClientID=demo' 'WebSiteUrl=127.0.0.1' "WebListenPort=$port" 'AuthValue=0' ''
    printf '%s\r\n' '[ProgramOptions]' "SupportName=$who" ''
    printf '%s\r\n' '[GeneralProgramSetting]' 'ConnectOnStart=true' ''
    if [ -n "$team" ]; then
      printf '%s\r\n' '[TeamArchive]' "TeamArchive=$team" ''
    fi
    if [ -n "$smtp" ]; then
      printf '%s\r\n' '[ProgramMailSettings]' 'EanbelDisableMails=true' 'SMTP_Server=127.0.0.1' "SMTP_Port=$smtp" \
        "MailUserID=$who" "SupportMailAddr=$who@example.org" ''
    fi
  } >"$dir/$who/Velmora.ini"
  [ -n "$smtp" ] && [ ! -f "$dir/$who/base_mail.txt" ] && printf '%s\n' 'Visitor' '' 'Your chat with us:' >"$dir/$who/base_mail.txt"
  "$build/bin/velmora" --workdir "$dir/$who" >"$dir/$who/stdout.log" 2>&1 &
  remember "console-$who" $!
done

# Each caption names its supporter; the first console's window goes at the
# top and the second's below it, so they do not cover each other.
if command -v wmctrl >/dev/null; then
  top=0
  for who in "${names[@]}"; do
    pid="$(sed -n "s/^console-$who //p" "$dir/pids")"
    for _ in $(seq 50); do
      win="$( (wmctrl -lp 2>/dev/null || true) | awk -v p="$pid" '$3 == p && /Support Main/ {print $1; exit}')"
      [ -n "$win" ] && break
      sleep 0.2
    done
    if [ -n "$win" ]; then wmctrl -i -r "$win" -e "0,0,$top,-1,-1"; fi
    top=$((top + 520))
  done
fi

echo "two-consoles: simulator on 127.0.0.1:$port (log $dir/sim.log), consoles ${names[*]} in $dir, DISPLAY=$DISPLAY"
echo "  ${names[0]}'s main window is at the top, ${names[1]}'s below it"
echo "  simulator commands: $0 sim $dir help    (e.g. call, status, say <session> <text>, end <session>)"
echo "  stop everything:    $0 stop $dir"
