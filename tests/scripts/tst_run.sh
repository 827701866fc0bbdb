#!/usr/bin/env bash
# scripts/run as a user starts it, in a program folder of its own: the real oe-sim, and a stand-in for
# the program that notes what the ports folder held while it ran.
#   tst_run.sh SOURCE_DIR OE_SIM OE_SETUP
set -euo pipefail
root=$1
sim=$2
program=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

bin=$work/bin
mkdir -p "$bin/ports"
ln -s "$sim" "$bin/oe-sim"
cat >"$bin/oe-setup" <<'PROGRAM'
#!/bin/sh
cd "$(dirname "$0")/ports" && for f in *; do echo "$f $(readlink "$f")"; done >../../program-saw
PROGRAM
chmod +x "$bin/oe-setup"
run() { OE_BUILD_DIR=$work DISPLAY=:0 WAYLAND_DISPLAY= QT_QPA_PLATFORM= "$root/scripts/run" --no-build 2>&1; }

# A user's link to an adapter that is not plugged in: it stays as it is, and the program starts alone
# with the reason.
ln -s /dev/ttyUSB-not-plugged "$bin/ports/COM1"
mkfifo "$bin/ports/COM1.control"  # the console of a simulator killed long ago: a write would hang
out=$(run) || fail "exit $?: $out"
[ ! -e "$bin/ports/COM1.control" ] || fail "a console nobody reads was kept"
[ "$(readlink "$bin/ports/COM1")" = /dev/ttyUSB-not-plugged ] || fail "the link changed"
[ ! -e "$bin/ports/COM1.sim" ] || fail "a simulator record was made for the user's link"
grep -qF "COM1 -> /dev/ttyUSB-not-plugged: the device is not present" <<<"$out" || fail "no reason: $out"
grep -qx "COM1 /dev/ttyUSB-not-plugged" "$work/program-saw" || fail "the program did not start: $(cat "$work/program-saw")"

# A link left by a simulator that was killed: removed, and a new simulator serves the port while the
# program runs; afterwards nothing of it is left.
printf 'COM=02\r\nLanguage=ENG\r\n' >"$bin/config.ini"
ln -s /dev/pts/999999 "$bin/ports/COM2"
sleep 0 &
gone=$!
wait "$gone"
printf 'oe-sim port link\npid=%s\nstarted=1\npty=/dev/pts/999999\n' "$gone" >"$bin/ports/COM2.sim"
echo "oe-sim: COM2 = $bin/ports/COM2 -> /dev/pts/999999" >"$work/oe-sim-COM2.log"  # that simulator's log
out=$(run) || fail "exit $?: $out"
grep -q "^COM2 /dev/pts/[0-9]*$" "$work/program-saw" || fail "no simulator while the program ran: $(cat "$work/program-saw")"
grep -qF "Simulated controller: $(grep '^COM2 ' "$work/program-saw")" <<<"${out//COM2 -> /COM2 }" ||
  fail "the port named is not the one served: $out"
! grep -q "/dev/pts/999999" "$work/program-saw" || fail "the stale link was kept: $out"
grep -qx "COM2.control " "$work/program-saw" || fail "no command FIFO: $(cat "$work/program-saw")"
[ ! -e "$bin/ports/COM2.control" ] || fail "the command FIFO outlived the run"
[ ! -e "$bin/ports/COM2" ] && [ ! -e "$bin/ports/COM2.sim" ] || fail "the simulator's link outlived the run"
[ -s "$work/oe-sim-COM2.log" ] || fail "no log of its own"

# A simulator started by hand already serves the port: used as it is, and still serving afterwards.
"$bin/oe-sim" --folder "$bin" --port COM2 </dev/null >/dev/null 2>&1 &
own=$!
for _ in $(seq 100); do [ -L "$bin/ports/COM2" ] && break; sleep 0.05; done
served=$(readlink "$bin/ports/COM2")
out=$(run) || fail "exit $?: $out"
kill -0 "$own" || fail "the running simulator was stopped"
[ "$(readlink "$bin/ports/COM2")" = "$served" ] || fail "the running simulator's link changed"
grep -qx "COM2 $served" "$work/program-saw" || fail "the program did not get the running simulator"
grep -qF "served by the simulator running as process $own" <<<"$out" || fail "not said: $out"
kill "$own"
wait "$own" || true

# No display: said at once, before anything starts.
out=$(OE_BUILD_DIR=$work DISPLAY= WAYLAND_DISPLAY= QT_QPA_PLATFORM= "$root/scripts/run" --no-build 2>&1) && fail "started without a display"
grep -qF "No graphical display (DISPLAY or WAYLAND_DISPLAY not set)" <<<"$out" || fail "no reason: $out"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" 2>&1) && fail "the program started without a display"
[ "$(head -1 <<<"$out")" = "No graphical display (DISPLAY or WAYLAND_DISPLAY not set)" ] || fail "program: $out"
echo "PASS"
