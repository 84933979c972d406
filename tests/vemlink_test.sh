#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

# Runs the vemlink tool against the golden files in tests/vemlink/ (see the
# README there) and through its own round trips and checks.
#   tests/vemlink_test.sh VEMLINK [EMULATOR...]
# Every failed check is reported; the exit status is 1 if any failed.
set -uo pipefail
bin=$1
shift
emulator=("$@")
golden=$(cd "$(dirname "$0")" && pwd)/vemlink
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
vemlink() { "${emulator[@]}" "$bin" "$@"; }

# A file's bytes as vemlink prints them: upper-case hex pairs, one space apart.
hexof() { od -An -v -tx1 "$1" | tr 'a-f\n' 'A-F ' | tr -s ' ' | sed 's/^ //; s/ $//'; }

# Payload hex of the first frame in a listing, checked to be a lone ok frame
# of n bytes. The hex starts in column 30 and takes 3n - 1 characters.
first_payload() { # LISTING N
  local row
  row=$(sed -n 2p "$1")
  [ "$(awk 'NR == 2 {print $3}' "$1")" = ok ] || { echo "not ok: $row"; return; }
  grep -q '^summary: frames 1 (ok 1,' "$1" || { echo "not a single frame"; return; }
  [ "$2" -eq 0 ] || echo "${row:29:$((3 * $2 - 1))}"
}

# --- encode: golden frames, payload from arguments and from standard input
while IFS='|' read -r payload frame; do
  case $payload in '#'*) continue ;; esac
  got=$(vemlink encode "$payload") || fail "encode '$payload' exited $?"
  [ "$got" = "$frame" ] || fail "encode '$payload': got '$got', want '$frame'"
done <"$golden/encode.txt"
[ "$(vemlink encode 61 6263)" = "7E 61 62 63 25 9E 7E" ] || fail "encode of split arguments"
[ "$(printf abc | vemlink encode -)" = "7E 61 62 63 25 9E 7E" ] || fail "encode - from stdin"
[ "$(printf abc | vemlink encode)" = "7E 61 62 63 25 9E 7E" ] || fail "encode with no argument"

# encode --raw writes the frame's bytes themselves.
vemlink encode --raw 7D 7E 20 00 >"$tmp/raw" || fail "encode --raw exited $?"
[ "$(hexof "$tmp/raw")" = "7E 7D 5D 7D 5E 20 00 E4 9E 7E" ] || fail "encode --raw: $(hexof "$tmp/raw")"
[ "$(printf abc | vemlink encode --raw - | hexof /dev/stdin)" = "7E 61 62 63 25 9E 7E" ] ||
  fail "encode --raw - from stdin"

# --- decode: the golden listing, from a file, standard input and hex text
vemlink decode "$golden/capture.bin" >"$tmp/listing" || fail "decode FILE exited $?"
diff -u "$golden/capture.txt" "$tmp/listing" || fail "decode FILE differs from capture.txt"
vemlink decode - <"$golden/capture.bin" >"$tmp/listing" || fail "decode - exited $?"
cmp -s "$golden/capture.txt" "$tmp/listing" || fail "decode - differs from capture.txt"
hexof "$golden/capture.bin" | vemlink decode --hex >"$tmp/listing" || fail "decode --hex exited $?"
cmp -s "$golden/capture.txt" "$tmp/listing" || fail "decode --hex differs from capture.txt"

# A run without flags longer than any frame is listed up to a cut.
head -c 3000 /dev/zero | tr '\0' U >"$tmp/noise"
vemlink decode "$tmp/noise" >"$tmp/listing"
grep -Eq '^ +0 +3000  partial +55( 55){2045} \.\.\.  \|U{2046}\|$' "$tmp/listing" ||
  fail "3000 bytes without a flag: $(cut -c1-60 "$tmp/listing" | sed -n 2p)"

# A reader of standard output that has gone (a closed pipe): a message and
# status 1, not a death by SIGPIPE. The reader is waited for, so the pipe is
# closed before vemlink writes.
while IFS='|' read -r say args; do
  exec {closed}> >(:)
  wait $!
  # shellcheck disable=SC2086
  vemlink $args 1>&"$closed" 2>"$tmp/err"
  status=$?
  exec {closed}>&-
  [ $status -eq 1 ] && grep -qF "$say" "$tmp/err" ||
    fail "'$args' into a closed pipe: exit status $status, not 1 with '$say': $(cat "$tmp/err")"
done <<CLOSED
vemlink encode: standard output was closed|encode 61
vemlink encode: standard output was closed|encode --raw 61
vemlink decode: standard output was closed|decode $golden/capture.bin
vemlink decode: standard output was closed|decode --hex /dev/null
vemlink --version: |--version
vemlink encode: |encode --help
CLOSED

# --- round trips: decode gives back what encode framed, up to 1021 bytes
limit=$(for i in $(seq 0 1020); do printf '%02X ' $(((i * 37 + 11) % 256)); done)
for payload in "" "7E" "7D 7E 7D 7D 7E" "00 11 7E 22" "${limit% }"; do
  n=$(((${#payload} + 1) / 3))
  vemlink encode "$payload" | vemlink decode --hex - >"$tmp/listing"
  got=$(first_payload "$tmp/listing" "$n")
  [ "$got" = "$payload" ] || fail "round trip of $n bytes: got '${got:0:60}'"
done
vemlink encode "$limit 00" >"$tmp/out" 2>/dev/null
[ $? -eq 2 ] && [ ! -s "$tmp/out" ] || fail "a 1022-byte payload is not refused with status 2"

# --- demo: a clean link delivers everything; a noisy one accepts no corrupt packet
demo() { # NAME SETTINGS...: writes the config, runs the demo, leaves the summary
  printf '%s\n' "${@:2}" >"$tmp/$1.conf"
  vemlink demo --config "$tmp/$1.conf" >"$tmp/$1.out" 2>"$tmp/$1.err"
}
field() { sed -n "s/^  $2 *\([0-9][0-9]*\).*/\1/p" "$1"; }

demo clean demo.packets=400 demo.errors_per_million=0 ||
  fail "demo on a clean link exited $?: $(cat "$tmp/clean.err")"
[ "$(field "$tmp/clean.out" 'received intact')" = 400 ] || fail "clean link: not 400 intact"
grep -qx 'result: ok, every packet arrived intact' "$tmp/clean.out" || fail "clean link: no ok result"

demo noisy demo.packets=3000 demo.errors_per_million=3000 demo.seed=11 ||
  fail "demo with errors exited $?: $(tail -1 "$tmp/noisy.out")"
[ "$(field "$tmp/noisy.out" 'corrupt accepted')" = 0 ] || fail "noisy link: corrupt packet accepted"
[ "$(field "$tmp/noisy.out" 'rejected by CRC')" -gt 0 ] || fail "noisy link: nothing rejected"
[ "$(field "$tmp/noisy.out" 'lost')" -gt 0 ] || fail "noisy link: nothing lost"
grep -qx 'result: ok, no corrupt packet accepted' "$tmp/noisy.out" || fail "noisy link: no ok result"

# log.config is taken relative to the configuration file's folder.
mkdir "$tmp/logged"
cat >"$tmp/logged/log.properties" <<LOG
log4cpp.rootCategory=INFO, file
log4cpp.appender.file=org.apache.log4cpp.FileAppender
log4cpp.appender.file.fileName=$tmp/logged/demo.log
log4cpp.appender.file.layout=org.apache.log4cpp.BasicLayout
LOG
demo logged/demo demo.packets=10 log.config=log.properties || fail "demo with log.config exited $?"
grep -q 'cHDLCFramer.*Creating Framer' "$tmp/logged/demo.log" 2>/dev/null ||
  fail "log.config relative to the configuration was not used"

# --- help, and bad arguments: status 2 and nothing on standard output
# Each help is a synopsis for one screen that points to the manual page,
# where the options, statuses, signals and exit status are told.
for sub in "" demo encode decode tap send monitor extcap replay mock; do
  # shellcheck disable=SC2086
  vemlink $sub --help >"$tmp/out" || fail "'$sub --help' exited $?"
  grep -q "^usage: vemlink ${sub:-COMMAND}" "$tmp/out" || fail "'$sub --help' prints no usage"
  [ "$(wc -l <"$tmp/out")" -le 24 ] || fail "'$sub --help' takes $(wc -l <"$tmp/out") lines, over a screen"
  grep -q 'vemlink(1)' "$tmp/out" || fail "'$sub --help' does not point to vemlink(1)"
done
vemlink --version | grep -qx 'vemlink [0-9][0-9]*\.[0-9][0-9]*\.[0-9][0-9]*' ||
  fail "--version does not print 'vemlink VERSION'"
# Every command that opens a device describes the same line options, from
# the one table.
for sub in decode tap send monitor replay; do
  vemlink "$sub" --help >"$tmp/help" || fail "'$sub --help' exited $?"
  for opt in '--baud N' '--databits 5|6|7|8' '--parity none|odd|even' '--stopbits 1|2' \
    '--flow none|rtscts|xonxoff'; do
    grep -q -- "^  *$opt\( \|$\)" "$tmp/help" ||
      fail "'$sub --help' does not describe $opt"
  done
done
demo range demo.payload_max=1022
[ $? -eq 2 ] && [ ! -s "$tmp/range.out" ] || fail "demo.payload_max=1022 is not refused with status 2"
# A configuration that cannot be read: the reason on standard error, nothing
# on standard output (where the library would say it), status 2.
mkdir "$tmp/folder.conf"
for conf in "$tmp/missing.conf:No such file or directory" "$tmp/folder.conf:Is a directory"; do
  vemlink demo --config "${conf%%:*}" >"$tmp/out" 2>"$tmp/err"
  status=$?
  [ $status -eq 2 ] || fail "demo --config ${conf%%:*} exited $status, not 2"
  [ -s "$tmp/out" ] && fail "demo --config ${conf%%:*} wrote to standard output: $(cat "$tmp/out")"
  grep -qF "${conf%%:*}: ${conf#*:}" "$tmp/err" ||
    fail "demo --config ${conf%%:*} does not give the file and '${conf#*:}': $(cat "$tmp/err")"
done

# Devices that cannot be opened or set up: the device and the reason on
# standard error, status 1, nothing on standard output.
while IFS='|' read -r reason args; do
  # shellcheck disable=SC2086
  vemlink $args >"$tmp/out" 2>"$tmp/err" </dev/null
  status=$?
  [ $status -eq 1 ] || fail "'$args' exited $status, not 1"
  [ -s "$tmp/out" ] && fail "'$args' wrote to standard output"
  grep -qF "$reason" "$tmp/err" || fail "'$args' does not say '$reason': $(cat "$tmp/err")"
done <<DEVICES
cannot open $tmp/no-tty: No such file or directory|tap $tmp/no-tty
cannot configure /dev/null: Inappropriate ioctl for device|tap /dev/null --baud 9600
cannot open $tmp/no-tty: No such file or directory|decode --device $tmp/no-tty
cannot configure /dev/null: Inappropriate ioctl for device|send --device /dev/null 61
DEVICES

# A bad line option names the values it takes, in every command that opens
# a device.
while IFS='|' read -r want args; do
  for command in "tap /dev/null" "decode --device /dev/null" "send --device /dev/null 61"; do
    # shellcheck disable=SC2086
    vemlink $command $args >/dev/null 2>"$tmp/err"
    status=$?
    [ $status -eq 2 ] && grep -qF -- "$want" "$tmp/err" ||
      fail "$command $args: exit status $status, not 2 with '$want': $(cat "$tmp/err")"
  done
done <<LINE
--baud takes a rate in baud, a whole number from 1 to 100000000, not '115200.5'|--baud 115200.5
--baud takes a rate in baud, a whole number from 1 to 100000000, not '100000001'|--baud=100000001
--databits takes 5, 6, 7, 8, not '9'|--databits 9
--parity takes none, odd, even, not 'mark'|--parity mark
--stopbits takes 1, 2, not '1.5'|--stopbits 1.5
--flow takes none, rtscts, xonxoff, not 'dtrdsr'|--flow=dtrdsr
--flow takes none, rtscts, xonxoff|--flow
LINE
vemlink decode "$tmp/missing.bin" >"$tmp/out" 2>/dev/null
[ $? -eq 1 ] && [ ! -s "$tmp/out" ] || fail "decode of a missing file does not exit 1 silently"
printf '2a 7' >"$tmp/odd.hex"
while read -r -a args; do
  vemlink "${args[@]}" >"$tmp/out" 2>"$tmp/err" </dev/null
  status=$?
  [ $status -eq 2 ] || fail "'${args[*]}' exited $status, not 2"
  [ -s "$tmp/out" ] && fail "'${args[*]}' wrote to standard output"
  [ -s "$tmp/err" ] || fail "'${args[*]}' gave no message"
done <<ARGS
frobnicate
encode 6
encode 7E7
encode 7 E
encode 0x7E
encode zz
encode 61 -
encode --bogus
decode --bogus
decode a b
decode --hex $golden/capture.bin
decode --hex $tmp/odd.hex
demo --config
demo --bogus
demo extra
encode --raw 61 -
tap
tap --bogus /dev/null
tap /dev/null /dev/zero
tap /dev/null --baud
tap /dev/null --baud 0
tap /dev/null --baud=9600x
tap /dev/null --baud -9600
tap /dev/null --baud 00x
tap /dev/null --link
tap /dev/null --save
send 61
send --device /dev/null --reply 0 61
send --device /dev/null --reply x 61
send --device /dev/null --lines 61
send --device /dev/null - 61
send --device /dev/null --bogus
send --device /dev/null zz
send --device
decode --baud 9600
decode --rtscts
decode --parity even
decode --no-reconnect
decode --device /dev/null $golden/capture.bin
decode --device /dev/null --hex
decode --device /dev/null --baud 0
ARGS
vemlink >/dev/null 2>&1
[ $? -eq 2 ] || fail "no command does not exit 2"

# The extcap entry as Wireshark calls it with a field left blank: the
# option comes with an empty value. A blank line option keeps its default;
# a blank --device or --device2 is a missing one.
extcap_blank() { # STATUS WANT ARGS...: the exit status and a line of standard error
  local want_status=$1 want=$2
  shift 2
  vemlink extcap "$@" >/dev/null 2>"$tmp/err" </dev/null
  local status=$?
  if [ $status -ne "$want_status" ] || ! grep -qF -- "$want" "$tmp/err"; then
    fail "extcap $*: exit status $status, not $want_status with '$want': $(cat "$tmp/err")"
  fi
}
extcap_blank 2 "--capture needs --device" --capture --fifo "$tmp/blank.pcapng" --device ""
extcap_blank 2 "monitor needs --device2" --capture --fifo "$tmp/blank.pcapng" \
  --device /dev/null --mode monitor --device2 ""
extcap_blank 1 "cannot open $tmp/no-tty: No such file or directory" --capture \
  --fifo "$tmp/blank.pcapng" --device "$tmp/no-tty" --baud "" --parity "" --flow= --stopbits ""
[ -e "$tmp/blank.pcapng" ] && fail "extcap left its capture behind when the device failed"
if ! vemlink extcap --extcap-interfaces --baud "" --databits "" >"$tmp/out" 2>"$tmp/err" ||
  ! grep -q '^interface {value=vemlink}' "$tmp/out"; then
  fail "extcap --extcap-interfaces with blank line options: $(cat "$tmp/err")"
fi

[ $failures -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "vemlink: all checks passed"
