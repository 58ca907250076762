#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# A private pcscd for the end-to-end tests: vpcd virtual readers on private ports with kv-vicc
# cards in them. pcscd's hard-wired /run/pcscd is a folder of the work directory, bound over it
# in a mount namespace of the daemon's own, so that it neither sees nor disturbs a system pcscd.
#
#   pcscd-private.sh start <workdir> [--card R:S[=ARGS]]... <reader-name>...
#       Starts everything, waits until pcscd lists every slot, every card is present and every
#       other slot is empty, and prints the clients' environment as export lines (for eval).
#   pcscd-private.sh stop <workdir>
#       Stops what start started, by the pids it recorded.
#   pcscd-private.sh run <workdir> [--card R:S[=ARGS]]... <reader-name>... -- <command> [args]
#       start, the command with that environment, stop (also when the command fails or the
#       script is interrupted); exits with the command's status. Everything started is a child
#       of this script, so nothing is left behind, not even a zombie.
#
# Reader i (from 0, in the order given) is vpcd on port BASE+2i. vpcd offers two slots per
# reader; slot s waits for its card on port+s and pcsc-lite lists it as "<reader-name> 00 0s".
# "--card R:S=ARGS" puts a kv-vicc into reader R, slot S, with ARGS (split at blanks) added to its
# command line.
#
# Environment: KV_E2E_PORT_BASE (default 35990), KV_VICC and KV_PCSC_WAIT (the helper programs;
# default: from PATH), KV_PCSCD (default: pcscd from PATH or /usr/sbin/pcscd), KV_VPCD_DRIVER
# (default /usr/lib/pcsc/drivers/serial/libifdvpcd.so), KV_E2E_TIMEOUT_MS (limit of each wait,
# default 10000). Logs: <workdir>/pcscd.log and <workdir>/vicc-R-S.log; <workdir>/ports lists the
# vpcd ports in use.
#
# Exit status: 0, 77 when not root (the mount namespace needs it), 1 on any failure.
set -euo pipefail

readonly kSlotsPerReader=2 # vpcd's slot count
readonly kSkip=77

die() {
  echo "pcscd-private: $*" >&2
  exit 1
}

usage() {
  sed -n '7,15p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 1
}

port_base="${KV_E2E_PORT_BASE:-35990}"
timeout_ms="${KV_E2E_TIMEOUT_MS:-10000}"
vpcd_driver="${KV_VPCD_DRIVER:-/usr/lib/pcsc/drivers/serial/libifdvpcd.so}"

workdir=""
readers=()
cards=() # "R S ARGS"
command_args=()
started_pids=() # children of this shell, for the final wait

# --- processes ---------------------------------------------------------------------------------

# True when pid is a live (not zombie) process whose command line contains the marker.
alive_with() {
  local pid=$1 marker=$2 stat cmdline
  stat=$(cat "/proc/$pid/stat" 2>/dev/null) || return 1
  stat=${stat##*) }
  case ${stat:0:1} in Z | X) return 1 ;; esac
  cmdline=$(tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline") || return 1
  [[ $cmdline == *"$marker"* ]]
}

# Waits (bounded) until the process is gone; polls, since it need not be our child.
wait_gone() {
  local pid=$1 marker=$2 polls=$3
  while ((polls-- > 0)); do
    alive_with "$pid" "$marker" || return 0
    sleep 0.02
  done
  ! alive_with "$pid" "$marker"
}

# Stops the process recorded in the pid file, if it is still the one started there.
stop_recorded() {
  local file=$1 marker=$2 pid
  [ -f "$file" ] || return 0
  pid=$(<"$file")
  if [[ $pid =~ ^[0-9]+$ ]] && alive_with "$pid" "$marker"; then
    kill -TERM "$pid" 2>/dev/null || true
    if ! wait_gone "$pid" "$marker" 250; then
      echo "pcscd-private: pid $pid ignored SIGTERM, killing it" >&2
      kill -KILL "$pid" 2>/dev/null || true
      wait_gone "$pid" "$marker" 250 || echo "pcscd-private: pid $pid does not go away" >&2
    fi
  fi
  rm -f "$file"
}

stop_all() {
  local file marker
  # The cards first: a kv-vicc that loses its vpcd keeps reconnecting for a while.
  for file in "$workdir"/vicc-*.pid; do
    [ -e "$file" ] || continue
    if [ -f "${file%.pid}.marker" ]; then
      marker=$(<"${file%.pid}.marker")
      stop_recorded "$file" "$marker"
    fi
    rm -f "$file"
  done
  stop_recorded "$workdir/pcscd.pid" "$workdir/reader.conf.d"
  # Reap our own children (run mode; after start they belong to init). One that is somehow
  # still alive (its pid file lost) is killed first, so that the wait cannot hang.
  local pid
  for pid in "${started_pids[@]}"; do
    if alive_with "$pid" ""; then kill -KILL "$pid" 2>/dev/null || true; fi
    wait "$pid" 2>/dev/null || true
  done
  started_pids=()
}

show_logs() {
  local log
  for log in "$workdir"/pcscd.log "$workdir"/vicc-*.log; do
    [ -s "$log" ] || continue
    echo "----- $log (last lines)" >&2
    tail -n 40 "$log" >&2
  done
}

# --- arguments ---------------------------------------------------------------------------------

parse_layout() {
  while (($#)); do
    case $1 in
    --card)
      (($# >= 2)) || usage
      [[ $2 =~ ^([0-9]+):([0-9]+)(=(.*))?$ ]] || die "bad --card: $2 (want R:S[=ARGS])"
      cards+=("${BASH_REMATCH[1]} ${BASH_REMATCH[2]} ${BASH_REMATCH[4]}")
      shift 2
      ;;
    --)
      shift
      command_args=("$@")
      return
      ;;
    -*) usage ;;
    *)
      readers+=("$1")
      shift
      ;;
    esac
  done
}

check_layout() {
  ((${#readers[@]})) || die "no reader named"
  local i j name card r s
  for ((i = 0; i < ${#readers[@]}; i++)); do
    name=${readers[i]}
    [[ -n $name && $name != *'"'* && $name != *$'\n'* ]] || die "bad reader name: '$name'"
    for ((j = 0; j < i; j++)); do
      [ "${readers[j]}" != "$name" ] || die "two readers named '$name'"
    done
  done
  for card in "${cards[@]}"; do
    read -r r s _ <<<"$card"
    ((r < ${#readers[@]} && s < kSlotsPerReader)) || die "no slot $r:$s for a card"
  done
  if ! [[ $port_base =~ ^[0-9]+$ ]] ||
    ((port_base < 1024 || port_base + kSlotsPerReader * ${#readers[@]} > 65536)); then
    die "bad KV_E2E_PORT_BASE: $port_base"
  fi
  [[ $timeout_ms =~ ^[0-9]+$ ]] || die "bad KV_E2E_TIMEOUT_MS: $timeout_ms"
}

slot_name() { echo "${readers[$1]} 00 0$2"; }
slot_port() { echo $((port_base + kSlotsPerReader * $1 + $2)); }

# --- start -------------------------------------------------------------------------------------

find_tools() {
  pcscd_bin="${KV_PCSCD:-$(command -v pcscd || echo /usr/sbin/pcscd)}"
  [ -x "$pcscd_bin" ] || die "no pcscd ($pcscd_bin); install pcscd and vsmartcard-vpcd"
  [ -f "$vpcd_driver" ] || die "no vpcd driver ($vpcd_driver); install vsmartcard-vpcd"
  if ! command -v unshare >/dev/null || ! command -v mount >/dev/null; then
    die "unshare and mount needed (util-linux)"
  fi
  wait_bin="${KV_PCSC_WAIT:-$(command -v kv-pcsc-wait || true)}"
  [ -x "$wait_bin" ] || die "kv-pcsc-wait not found (set KV_PCSC_WAIT)"
  if ((${#cards[@]})); then
    vicc_bin="${KV_VICC:-$(command -v kv-vicc || true)}"
    [ -x "$vicc_bin" ] || die "kv-vicc not found (set KV_VICC)"
  fi
}

check_ports_free() {
  command -v ss >/dev/null || return 0
  local i s port
  for ((i = 0; i < ${#readers[@]}; i++)); do
    for ((s = 0; s < kSlotsPerReader; s++)); do
      port=$(slot_port "$i" "$s")
      if [ -n "$(ss -Hltn "sport = :$port")" ]; then
        die "port $port is taken; choose other ports with KV_E2E_PORT_BASE"
      fi
    done
  done
}

# One configuration file for all readers, so that pcscd adds them in the order given. Each
# reader loads its own copy of the driver: vpcd keeps its slots in static variables, and two
# readers sharing one loaded library would share (and overwrite) them.
write_config() {
  local i port
  rm -rf "$workdir/reader.conf.d" "$workdir/drivers" "$workdir/run"
  mkdir -p "$workdir/reader.conf.d" "$workdir/drivers" "$workdir/run"
  chmod 755 "$workdir/run"
  : >"$workdir/ports"
  for ((i = 0; i < ${#readers[@]}; i++)); do
    port=$(slot_port "$i" 0)
    seq "$port" $((port + kSlotsPerReader - 1)) >>"$workdir/ports"
    cp "$(readlink -f "$vpcd_driver")" "$workdir/drivers/libifdvpcd-$i.so"
    cat >>"$workdir/reader.conf.d/readers.conf" <<EOF
FRIENDLYNAME "${readers[i]}"
DEVICENAME   /dev/null:$port
LIBPATH      $workdir/drivers/libifdvpcd-$i.so
CHANNELID    $port

EOF
  done
}

start_pcscd() {
  # The mount point has to exist; pcscd would create it anyway.
  [ -d /run/pcscd ] || mkdir -p /run/pcscd
  # unshare and sh exec, so the recorded pid is pcscd's. The system pcscd's settings and
  # socket activation must not leak in.
  # shellcheck disable=SC2016 # expanded by the inner shell
  env -u PCSCLITE_FILTER_IGNORE_READER_NAMES -u PCSCLITE_FILTER_EXTEND_READER_NAMES \
    -u LISTEN_FDS -u LISTEN_PID -u PCSCLITE_CSOCK_NAME \
    unshare --mount --propagation private -- /bin/sh -c \
    'mount --bind "$1" /run/pcscd && exec "$2" --foreground --debug --config "$3"' \
    pcscd-private "$workdir/run" "$pcscd_bin" "$workdir/reader.conf.d" \
    >"$workdir/pcscd.log" 2>&1 </dev/null &
  echo $! >"$workdir/pcscd.pid"
  started_pids+=($!)
}

start_card() {
  local r=$1 s=$2 args=$3 port extra
  port=$(slot_port "$r" "$s")
  read -ra extra <<<"$args"
  "$vicc_bin" --port "$port" --host 127.0.0.1 --verbose "${extra[@]}" \
    >"$workdir/vicc-$r-$s.log" 2>&1 </dev/null &
  echo $! >"$workdir/vicc-$r-$s.pid"
  echo "--port $port " >"$workdir/vicc-$r-$s.marker"
  started_pids+=($!)
}

wait_stack() {
  local what=$1
  shift
  if ! PCSCLITE_CSOCK_NAME="$socket" "$wait_bin" --timeout-ms "$timeout_ms" "$@"; then
    echo "pcscd-private: the stack did not come up ($what)" >&2
    alive_with "$(<"$workdir/pcscd.pid")" "$workdir/reader.conf.d" ||
      echo "pcscd-private: pcscd is not running" >&2
    show_logs
    stop_all
    exit 1
  fi
}

start_stack() {
  find_tools
  [ "$(id -u)" -eq 0 ] || {
    echo "pcscd-private: needs root (mount namespace for /run/pcscd); skipped" >&2
    exit "$kSkip"
  }
  [[ $workdir != *[[:space:]]* ]] || die "the work directory must not contain blanks"
  mkdir -p "$workdir"
  workdir=$(cd "$workdir" && pwd)
  socket="$workdir/run/pcscd.comm"
  ((${#socket} < 100)) || die "work directory path too long for a socket: $socket"
  # Leftovers of an interrupted run go first.
  stop_all
  rm -f "$workdir"/*.log "$workdir"/*.marker
  check_ports_free
  write_config
  start_pcscd

  local i s card r args wants=()
  for ((i = 0; i < ${#readers[@]}; i++)); do
    for ((s = 0; s < kSlotsPerReader; s++)); do wants+=("$(slot_name "$i" "$s")"); done
  done
  wait_stack "readers" "${wants[@]}"

  declare -A has_card=()
  for card in "${cards[@]}"; do
    read -r r s args <<<"$card"
    start_card "$r" "$s" "$args"
    has_card[$r:$s]=1
  done
  wants=()
  for ((i = 0; i < ${#readers[@]}; i++)); do
    for ((s = 0; s < kSlotsPerReader; s++)); do
      if [ -n "${has_card[$i:$s]:-}" ]; then
        wants+=(--present "$(slot_name "$i" "$s")")
      else
        wants+=(--empty "$(slot_name "$i" "$s")")
      fi
    done
  done
  wait_stack "cards" "${wants[@]}"

  {
    printf 'export PCSCLITE_CSOCK_NAME=%q\n' "$socket"
    printf 'export KV_E2E_PORT_BASE=%q\n' "$port_base"
    printf 'export KV_E2E_WORKDIR=%q\n' "$workdir"
  } >"$workdir/env"
}

# --- main --------------------------------------------------------------------------------------

(($# >= 2)) || usage
action=$1
workdir=$2
shift 2
case $action in
start)
  parse_layout "$@"
  ((${#command_args[@]} == 0)) || usage
  check_layout
  # Whatever fails half-way, nothing stays running.
  trap 'stop_all' EXIT
  start_stack
  trap - EXIT
  cat "$workdir/env"
  ;;
stop)
  (($# == 0)) || usage
  [ -d "$workdir" ] || exit 0
  workdir=$(cd "$workdir" && pwd)
  stop_all
  ;;
run)
  parse_layout "$@"
  ((${#command_args[@]})) || usage
  check_layout
  trap 'stop_all' EXIT
  trap 'exit 143' TERM
  trap 'exit 130' INT
  start_stack
  # shellcheck disable=SC1091
  source "$workdir/env"
  status=0
  "${command_args[@]}" || status=$?
  if ((status != 0)); then show_logs; fi
  exit "$status"
  ;;
*) usage ;;
esac
