#!/usr/bin/env bash
# The unattended station's unit: systemd-analyze verify finds nothing wrong with it, its sandbox
# rates 2.0 or better in systemd-analyze security and still lets the station reach what it needs,
# and its ExecStart, run as systemd runs it (working directory, environment file, SIGTERM to
# stop), finishes the board in progress, prints its JSON lines and ends with a status the unit
# counts as success. Skipped (77) where systemd-analyze is not installed.
#   systemd_unit_test.sh CONFIGURED_UNIT K350CTL_SIM
set -euo pipefail
unit=$1
k350ctl=$2
command -v systemd-analyze >/dev/null || { echo "systemd-analyze is not installed"; exit 77; }
work=$(mktemp -d)
station=
cleanup() {
    [ -z "$station" ] || kill -KILL "$station" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
[[ $exec_start == */k350ctl\ station\ --recipe\ /etc/k350/%I.toml\ --json ]] ||
    fail "unexpected ExecStart: $exec_start"

# An instance of the template, its program the simulated one (verify checks it is executable).
instance=$work/k350-station@bench.service
sed "s|^ExecStart=[^ ]*|ExecStart=$k350ctl|" "$unit" >"$instance"
if ! out=$(systemd-analyze verify --man=no "$instance" 2>&1) || [ -n "$out" ]; then
    fail "systemd-analyze verify: $out"
fi

# The sandbox: an exposure of 2.0 at most (the threshold counts tenths)...
if ! security=$(systemd-analyze security --offline=true --threshold=20 --no-pager "$instance" 2>&1)
then
    fail "exposure above 2.0: $(grep -v '✓' <<<"$security")"
fi
# ... and what no tighter setting may take from the station: its boards' USB nodes, the network
# for a PostgreSQL store and the hooks (lp, curl), netlink for libusb's hot-plug monitor, the
# notify socket (AF_UNIX), and the state folder its journal and default store live in, owned by
# one user for every bench of the host.
for needed in 'DeviceAllow=char-usb_device rw' 'StateDirectory=k350' 'Type=notify' 'User=k350' \
              'RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6 AF_NETLINK'; do
    grep -qxF "$needed" "$unit" || fail "the unit lacks $needed"
done
for forbidden in '^PrivateDevices=(yes|true|on|1)$' '^PrivateNetwork=(yes|true|on|1)$' \
                 '^IPAddressDeny=' '^DevicePolicy=strict$'; do
    ! grep -qE "$forbidden" "$unit" || fail "the unit has $forbidden"
done
watchdog=$(sed -n 's/^WatchdogSec=//p' "$unit")
[ -n "$watchdog" ] || fail "no watchdog"

# The station as the unit starts it: the recipe from the configuration folder, the state folder
# as working directory (where the default store lands), the environment file's variables.
mkdir -p "$work/etc" "$work/state"
printf '[soak]\nseconds = 3\n' >"$work/etc/bench.toml"
printf 'K350_SIM_BOARDS=1\n' >"$work/etc/bench.env"
arguments=$(sed "s|^[^ ]*||;s|/etc/k350/%I|$work/etc/bench|" <<<"$exec_start")
(
    cd "$work/state"
    set -a
    . "$work/etc/bench.env"
    set +a
    # shellcheck disable=SC2086  # the unit's arguments, split as systemd splits them
    exec "$k350ctl" $arguments >"$work/out" 2>"$work/err" </dev/null
) &
station=$!
for _ in $(seq 200); do
    grep -q '"step":"identify","state":"done"' "$work/out" 2>/dev/null && break
    sleep 0.1
done
grep -q '"step":"identify","state":"done"' "$work/out" || fail "no board identified: $(cat "$work/err")"
kill -TERM "$station"
status=0
wait "$station" || status=$?
station=
success=" 0 $(sed -n 's/^SuccessExitStatus=//p' "$unit") "
[[ $success == *" $status "* ]] || fail "status $status after SIGTERM: $(cat "$work/err")"
grep -q '"state":"passed"' "$work/out" || fail "the board in progress was not finished: $(cat "$work/out")"
[ -f "$work/state/k350-line.sqlite" ] || fail "no store in the working directory"
echo "unit verified, $(grep -o 'exposure level.*' <<<"$security"); the station finished its board after SIGTERM and ended with $status"
