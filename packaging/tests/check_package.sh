#!/usr/bin/env bash
# Checks a CounterMate Debian package as an IT team would rely on it:
#   - its files: every program and library of the product (the names given), CONFIG.ini,
#     EvaluateTemplate.html, Temp/, the user unit and the udev rules, all owned by root;
#   - its control data: CONFIG.ini a conffile, maintainer scripts that parse, and a Depends
#     field naming the Debian package of every system library the programs and libraries need;
#   - that it works where it is unpacked: the unpacked host, started from another folder,
#     serves GetDevID from the unpacked terminal simulator and stops cleanly on SIGTERM.
#
#   check_package.sh DEB PRODUCT_FILE...
#
# Exit status 0 when every check passed, 1 when one failed, 77 (skipped) when there is no DEB:
# scripts/package builds it.
set -uo pipefail

deb=$1
shift
if [ ! -f "$deb" ]; then
  echo "no package at $deb (scripts/package builds it): skipped"
  exit 77
fi

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

work=$(mktemp -d /tmp/countermate-package-test.XXXXXX)
sim_pid=""
host_pid=""
cleanup() {
  for pid in $host_pid $sim_pid; do
    kill -TERM "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT

# --- files -----------------------------------------------------------------------------------
listing=$(dpkg-deb -c "$deb") || { echo "FAIL: dpkg-deb cannot read $deb"; exit 1; }
paths=$(awk '{print $6}' <<<"$listing")
expect_path() {
  grep -qxF "./$1" <<<"$paths" || fail "the package lacks /$1"
}
for name in "$@" CONFIG.ini EvaluateTemplate.html; do
  expect_path "opt/countermate/$name"
done
expect_path opt/countermate/Temp/
expect_path usr/lib/systemd/user/countermate.service
expect_path usr/lib/udev/rules.d/60-countermate.rules
# Every teller's service writes its scratch files there.
grep -Eq '^drwxrwxrwt .*\./opt/countermate/Temp/$' <<<"$listing" ||
  fail "Temp/ is not writable for every user with the sticky bit"
not_root=$(awk '$2 != "root/root" {print $6}' <<<"$listing")
[ -z "$not_root" ] || fail "files not owned by root: $not_root"

# --- control data ----------------------------------------------------------------------------
dpkg-deb -e "$deb" "$work/control" || fail "dpkg-deb cannot extract the control data"
grep -qxF /opt/countermate/CONFIG.ini "$work/control/conffiles" 2>/dev/null ||
  fail "CONFIG.ini is not a conffile"
for script in postinst postrm; do
  [ -x "$work/control/$script" ] || fail "no executable $script"
  sh -n "$work/control/$script" || fail "$script does not parse"
done

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
# The package names alone, one a line: "a (>= 1), b | c" gives a, b and c.
depended_names=$(tr ',|' '\n\n' <<<"$depends" | awk 'NF {print $1}')
root="$work/root"
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb cannot unpack the package"
deploy="$root/opt/countermate"

# The Debian package that holds the system library `name`, as ldconfig resolves it.
owner_of() {
  local name=$1 path candidate
  path=$(ldconfig -p | awk -v name="$name" '$1 == name {print $NF; exit}')
  [ -n "$path" ] || return 1
  # With a merged /usr a file is registered under /lib or /usr/lib, whichever its package names.
  for candidate in "$path" "$(readlink -f "$path")" "${path#/usr}" "/usr$path"; do
    dpkg-query -S "$candidate" 2>/dev/null | head -n 1 | cut -d: -f1 | grep . && return 0
  done
  return 1
}

needed=$(find "$root" -type f -exec sh -c 'head -c 4 "$1" | grep -q "ELF" && readelf -d "$1"' _ {} \; |
  sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort -u)
[ -n "$needed" ] || fail "no library needs found in the unpacked programs"
for library in $needed; do
  [ -e "$deploy/$library" ] && continue
  package=$(owner_of "$library") || { fail "no Debian package holds $library"; continue; }
  grep -qxF "$package" <<<"$depended_names" ||
    fail "Depends lacks $package (for $library)"
done

# --- the unit and the rules ------------------------------------------------------------------
unit="$root/usr/lib/systemd/user/countermate.service"
exec_start=$(sed -n 's/^ExecStart=\([^ ]*\).*/\1/p' "$unit" | tail -n 1)
[ -x "$root$exec_start" ] || fail "the unit starts $exec_start, which the package does not hold"
grep -Eq '^SUBSYSTEM=="hidraw", .*ATTRS\{idVendor\}=="1217", ATTRS\{idProduct\}=="9455", .*TAG\+="uaccess"' \
  "$root/usr/lib/udev/rules.d/60-countermate.rules" || fail "no active rule for the terminal"

# --- the unpacked product runs -----------------------------------------------------------------
socket="$work/terminal.sock"
mkdir -p "$work/storage"
"$deploy/countermate-terminal-sim" --socket "$socket" --storage "$work/storage" \
  >"$work/terminal-sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 200); do [ -S "$socket" ] && break; sleep 0.05; done
[ -S "$socket" ] || { fail "the terminal simulator did not start"; cat "$work/terminal-sim.log"; exit 1; }

port_is_taken() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# A port may be taken between the look and the host's bind: then the host ends, and another is
# tried.
for _ in 1 2 3 4 5; do
  port=$((20000 + RANDOM % 30000))
  port_is_taken "$port" && continue
  (cd / && COUNTERMATE_HID_SIM="$socket" exec "$deploy/countermate-host" --port "$port") \
    >"$work/host.log" 2>&1 &
  host_pid=$!
  answered=""
  deadline=$((SECONDS + 20))
  while [ $SECONDS -lt $deadline ] && kill -0 "$host_pid" 2>/dev/null; do
    if reply=$("$deploy/countermate-call" --url "ws://127.0.0.1:$port/" --timeout 5 GetDevID 2>&1); then
      answered=yes
      break
    fi
    sleep 0.1
  done
  kill -0 "$host_pid" 2>/dev/null && break
  wait "$host_pid" 2>/dev/null
  host_pid=""
done

if [ -z "$host_pid" ]; then
  fail "the unpacked host did not keep running"
  cat "$work/host.log"
elif [ -z "$answered" ]; then
  fail "GetDevID was not answered with retVal 0 by the unpacked host: ${reply:-no reply}"
  cat "$work/host.log"
else
  grep -q '"retVal"' <<<"$reply" || fail "the reply carries no retVal: $reply"
  echo "GetDevID: $reply"
  kill -TERM "$host_pid"
  for _ in $(seq 200); do kill -0 "$host_pid" 2>/dev/null || break; sleep 0.05; done
  if kill -0 "$host_pid" 2>/dev/null; then
    fail "the host did not stop within 10 s of SIGTERM"
  else
    wait "$host_pid"
    status=$?
    host_pid=""
    [ "$status" -eq 0 ] || fail "the host stopped with status $status after SIGTERM"
  fi
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "package checks passed: $deb"
