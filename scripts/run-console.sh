#!/usr/bin/env bash
# Installs what is missing, builds, and runs the console in ./run. Without a
# configured chat server it starts the bundled simulator, which announces a
# visitor call every minute; it stops again when the console exits.
#   Simulator output:   run/velmora-sim.log
#   Simulator commands: echo help > run/velmora-sim.cmd   (then see the log)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VELMORA_BUILD_DIR:-$root/build}"
run="$root/run"

bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh"

mkdir -p "$run"
ini="$run/Velmora.ini"
if [ ! -e "$ini" ]; then
  # The console reads and writes its settings file with CR LF line ends.
  printf '%s\r\n' \
    '[ProgramIP_Options]' \
    'ClientID=demo' \
    'WebSiteUrl=127.0.0.1' \
    'WebListenPort=30000' \
    'AuthValue=0' \
    '' \
    '[ProgramOptions]' \
    'SupportName=Operator' \
    'WelcomToMsgMsg=Welcome! An operator will be with you in a moment.' \
    'SupportNotAvailMsg=All operators are busy right now, please stay on the line.' \
    'SupportNotAvailReminderMsg=Thank you for waiting, you are still in the queue.' \
    'SupportWelcomeMsg=Hello, how can I help you?' \
    '' \
    '[GeneralProgramSetting]' \
    'ConnectOnStart=true' \
    '' \
    '[ProgramMailSettings]' \
    'EanbelDisableMails=false' \
    '' >"$ini"
  echo "run-console: wrote $ini for the local simulator"
fi

# First value of a key in the settings file, without its CR.
ini_value() {
  sed -n "s/^$1=//p" "$ini" | head -n 1 | tr -d '\r'
}
host="$(ini_value WebSiteUrl)"
port="$(ini_value WebListenPort)"
port="${port:-30000}"

sim_pid=""
stop_sim() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    # Nobody reads the pipe any more; a write to it would hang.
    rm -f "$run/velmora-sim.cmd"
  fi
}
trap stop_sim EXIT

case "$host" in
  127.0.0.1 | localhost)
    if ! [[ "$port" =~ ^[0-9]+$ ]] || [ "$port" -lt 1 ] || [ "$port" -gt 65535 ]; then
      echo "run-console: WebListenPort=$port in $ini is not a port number" >&2
      exit 1
    fi
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "run-console: a server already listens on 127.0.0.1:$port; using it"
    else
      # The command pipe is opened read-write so the simulator never sees its end.
      cmd="$run/velmora-sim.cmd"
      [ -p "$cmd" ] || { rm -f "$cmd"; mkfifo "$cmd"; }
      "$build/bin/velmora-sim" "$port" --call-every 60 --quiet-keepalive \
        <>"$cmd" >"$run/velmora-sim.log" 2>&1 &
      sim_pid=$!
      # Give it a moment to bind; a failure is in its log.
      for _ in $(seq 25); do
        grep -q "listening on" "$run/velmora-sim.log" 2>/dev/null && break
        kill -0 "$sim_pid" 2>/dev/null || break
        sleep 0.2
      done
      if ! kill -0 "$sim_pid" 2>/dev/null; then
        sim_pid=""
        echo "run-console: the simulator did not start:" >&2
        cat "$run/velmora-sim.log" >&2
        exit 1
      fi
      echo "run-console: simulator on 127.0.0.1:$port (log: run/velmora-sim.log, commands: run/velmora-sim.cmd)"
    fi
    ;;
  *)
    echo "run-console: using the chat server configured in $ini (${host:-default host})"
    ;;
esac

cd "$run"
status=0
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  xvfb-run -a "$build/bin/velmora" || status=$?
else
  "$build/bin/velmora" || status=$?
fi
exit "$status"
