#!/usr/bin/env bash
# Runs the console in a folder of its own (./run unless --workdir says
# otherwise). Installs only what is missing, configures a build folder only
# when it has never been configured, and builds only what changed. Without a
# configured chat server it starts the bundled simulator, which announces a
# visitor call every minute; it stops again when the console exits.
#
#   scripts/run-console.sh [--port N] [--workdir DIR]
#
#   --port N        the local simulator's port (default 30000); written into a
#                   new Velmora.ini, or into one that points at this machine
#   --workdir DIR   the console's folder (default run/ at the top of the repository)
#   VELMORA_BUILD_DIR  the build folder to use (default build/)
#
#   Simulator output:   DIR/velmora-sim.log
#   Simulator commands: echo help > DIR/velmora-sim.cmd   (then see the log)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VELMORA_BUILD_DIR:-$root/build}"
run="$root/run"
port_arg=""

usage() {
  echo "usage: $0 [--port N] [--workdir DIR]" >&2
  exit 2
}
while [ $# -gt 0 ]; do
  case "$1" in
    --port) [ $# -ge 2 ] || usage; port_arg="$2"; shift 2 ;;
    --port=*) port_arg="${1#--port=}"; shift ;;
    --workdir) [ $# -ge 2 ] || usage; run="$2"; shift 2 ;;
    --workdir=*) run="${1#--workdir=}"; shift ;;
    -h | --help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
    *) echo "run-console: unknown option $1" >&2; usage ;;
  esac
done
valid_port() { [[ "$1" =~ ^[0-9]{1,5}$ ]] && [ "$1" -ge 1 ] && [ "$1" -le 65535 ]; }
if [ -n "$port_arg" ] && ! valid_port "$port_arg"; then
  echo "run-console: --port $port_arg is not a port number (1 to 65535)" >&2
  exit 2
fi

bash "$root/scripts/install-deps.sh" console
# A configured folder is only built: ninja alone decides what is out of date
# (and reruns CMake itself when a CMakeLists.txt changed).
if [ ! -f "$build/CMakeCache.txt" ]; then
  echo "run-console: configuring $build"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target velmora velmora-sim

mkdir -p "$run"
run="$(cd "$run" && pwd)"
ini="$run/Velmora.ini"
if [ ! -e "$ini" ]; then
  # The console reads and writes its settings file with CR LF line ends.
  printf '%s\r\n' \
    '[ProgramIP_Options]' \
    'ClientID=demo' \
    'WebSiteUrl=127.0.0.1' \
    "WebListenPort=${port_arg:-30000}" \
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
local_server=false
case "$host" in 127.0.0.1 | localhost) local_server=true ;; esac

if [ -n "$port_arg" ] && [ "$port_arg" != "$port" ]; then
  if ! $local_server; then
    echo "run-console: $ini names the chat server ${host:-(default host)}; --port only sets the local simulator's" >&2
    exit 2
  fi
  # Only the port's value changes; the line keeps its CR.
  sed -i "s/^WebListenPort=[^\r]*/WebListenPort=$port_arg/" "$ini"
  grep -q "^WebListenPort=" "$ini" || {
    echo "run-console: $ini has no WebListenPort line; add WebListenPort=$port_arg to [ProgramIP_Options]" >&2
    exit 2
  }
  echo "run-console: WebListenPort=$port_arg in $ini (was $port)"
  port="$port_arg"
fi

sim_pid=""
cmd="$run/velmora-sim.cmd"
sim_log="$run/velmora-sim.log"
stop_sim() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    # Nobody reads the pipe any more; a write to it would hang.
    rm -f "$cmd"
  fi
}
trap stop_sim EXIT

where="using the chat server configured in $ini (${host:-default host})"
if $local_server; then
  if ! valid_port "$port"; then
    echo "run-console: WebListenPort=$port in $ini is not a port number" >&2
    exit 1
  fi
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
    where="a server already listens on 127.0.0.1:$port; using it (no simulator started)"
  else
    # The command pipe is opened read-write so the simulator never sees its end.
    [ -p "$cmd" ] || { rm -f "$cmd"; mkfifo "$cmd"; }
    "$build/bin/velmora-sim" "$port" --call-every 60 --quiet-keepalive <>"$cmd" >"$sim_log" 2>&1 &
    sim_pid=$!
    # Give it a moment to bind; a failure is in its log.
    for _ in $(seq 50); do
      grep -q "listening on" "$sim_log" 2>/dev/null && break
      kill -0 "$sim_pid" 2>/dev/null || break
      sleep 0.1
    done
    if ! kill -0 "$sim_pid" 2>/dev/null; then
      sim_pid=""
      echo "run-console: the simulator did not start:" >&2
      cat "$sim_log" >&2
      exit 1
    fi
    where="simulator on 127.0.0.1:$port"
  fi
fi

echo "run-console: $where"
echo "  console folder:      $run"
if [ -n "$sim_pid" ]; then
  echo "  simulator log:       $sim_log"
  echo "  simulator commands:  echo help > $cmd"
fi
status=0
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  xvfb-run -a "$build/bin/velmora" --workdir "$run" || status=$?
else
  "$build/bin/velmora" --workdir "$run" || status=$?
fi
exit "$status"
