#!/usr/bin/env bash
# A working day in minutes: one console, the chat-server simulator and a local
# SMTP sink, all on 127.0.0.1. Calls are announced one at a time, accepted,
# the visitor says a line and leaves, the chat window is closed and its
# transcript mailed. Prints the console's resident (RSS) and proportional
# (PSS) memory against the calls handled, so growth per call shows.
#
#   bench/soak.sh [CALLS] [EVERY]      # defaults: 500 calls, a sample every 25
#   bench/soak.sh --open N             # N chats accepted and kept open, a sample
#                                      # after each (memory and threads per chat)
#
# Settings through the environment:
#   VELMORA_SOAK_DIR    working folder (default: a fresh temporary one)
#   VELMORA_SOAK_PORT   simulator port (default 31950); the SMTP sink takes +1
#   VELMORA_SOAK_XVFB   display for the Xvfb started when DISPLAY is unset (:96)
#   VELMORA_SOAK_TABS   1: "Chats in one window" on (chats as tabs)
# Needs xdotool to answer the console's dialogs.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VELMORA_BUILD_DIR:-$root/build}"
open=0
if [ "${1:-}" = "--open" ]; then
  open="${2:-10}"
  set -- "$open" 1
fi
calls="${1:-500}"
every="${2:-25}"
port="${VELMORA_SOAK_PORT:-31950}"
smtp=$((port + 1))
dir="${VELMORA_SOAK_DIR:-$(mktemp -d /tmp/velmora-soak.XXXXXX)}"
mkdir -p "$dir"
command -v xdotool >/dev/null || { echo "soak: xdotool is needed to answer the dialogs" >&2; exit 1; }
[ -x "$build/bin/velmora" ] && [ -x "$build/bin/velmora-sim" ] || {
  echo "soak: build velmora and velmora-sim first (scripts/build.sh)" >&2
  exit 1
}

# Only what this script started is stopped, by process id.
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  export DISPLAY="${VELMORA_SOAK_XVFB:-:96}"
  Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >"$dir/xvfb.log" 2>&1 &
  pids+=($!)
  sleep 1
fi

rm -f "$dir/sim.cmd"
mkfifo "$dir/sim.cmd"
# Short visitors: one line each (the rest waits for an answer nobody types), then
# they leave; with --open they stay.
lines=1
((open)) && lines=0
"$build/bin/velmora-sim" "$port" --call-every 0 --lines "$lines" --typing-ms 200 --reply-ms 200 --chat-limit 10 \
  --quiet-keepalive <>"$dir/sim.cmd" >"$dir/sim.log" 2>&1 &
pids+=($!)
/usr/bin/python3 -m aiosmtpd -n -l "127.0.0.1:$smtp" -c aiosmtpd.handlers.Sink >"$dir/smtp.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
  grep -q "listening on" "$dir/sim.log" 2>/dev/null && break
  sleep 0.2
done

{
  printf '%s\r\n' '[ProgramIP_Options]' 'ClientID=soak' 'WebSiteUrl=127.0.0.1' "WebListenPort=$port" 'AuthValue=0' ''
  printf '%s\r\n' '[ProgramOptions]' 'SupportName=Soak' ''
  printf '%s\r\n' '[GeneralProgramSetting]' 'ConnectOnStart=true' "ChatsInOneWindow=$([ "${VELMORA_SOAK_TABS:-0}" = 1 ] && echo true || echo false)" ''
  printf '%s\r\n' '[ProgramMailSettings]' 'EanbelDisableMails=true' 'SMTP_Server=127.0.0.1' "SMTP_Port=$smtp" \
    'MailUserID=soak' 'SupportMailAddr=soak@example.org' ''
} >"$dir/Velmora.ini"
printf '%s\n' 'Visitor' '' 'Your chat with us:' >"$dir/base_mail.txt"
"$build/bin/velmora" --workdir "$dir" >"$dir/console.log" 2>&1 &
console=$!
pids+=("$console")
sleep 3

memory() {
  local rss pss threads
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$console/status")
  threads=$(awk '/^Threads:/ {print $2}' "/proc/$console/status")
  pss=$(awk '/^Pss:/ {print $2}' "/proc/$console/smaps_rollup")
  printf '%6d %10.1f %10.1f %8d\n' "$1" "$(echo "$rss / 1024" | bc -l)" "$(echo "$pss / 1024" | bc -l)" "$threads"
}

# Presses `key` in every visible window of the console whose title starts
# so; false when there was none.
answer() {
  local title="$1" key="$2" win found=1
  for win in $(xdotool search --all --onlyvisible --pid "$console" --name "^$title" 2>/dev/null || true); do
    xdotool windowfocus --sync "$win" key --clearmodifiers "$key" 2>/dev/null || true
    found=0
  done
  return $found
}

printf '%6s %10s %10s %8s\n' calls rss_mib pss_mib threads
memory 0
for ((n = 1; n <= calls; n++)); do
  kill -0 "$console" 2>/dev/null || { echo "soak: the console has ended" >&2; exit 1; }
  echo call >"$dir/sim.cmd"
  # Accept the alert, then close the chat window once the visitor has left:
  # Esc until the end-of-chat question is gone (it takes no keys while it
  # settles, so one press may not land).
  seen=0
  if ((open)); then
    # Accepted once its chat has begun (the console's welcome reached the visitor).
    for _ in $(seq 300); do
      answer " New connection:" Return || true
      [ "$(grep -c '] WELCOME_MSG' "$dir/sim.log" || true)" -ge "$n" ] && break
      sleep 0.1
    done
    sleep 1
  fi
  for _ in $(seq $((open ? 0 : 300))); do
    answer " New connection:" Return || true
    if answer " Warning for Chat window" Escape; then
      seen=1
    elif ((seen)); then
      break
    fi
    sleep 0.1
  done
  ((n % every == 0)) && memory "$n"
done
echo "soak: $(grep -c '' "$dir/console.log" || true) console output lines; files in $dir"
