#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

# Drives vemlink's bash completion, installed under PREFIX, the way bash
# does on TAB: bash-completion loads it from PREFIX/share on first use, then
# COMP_WORDS and COMP_CWORD for a command line, then the completion function,
# with the installed vemlink first on PATH answering its --help.
#   tests/completion_test.sh PREFIX
set -uo pipefail
prefix=$1
export PATH=$prefix/bin:$PATH
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
: >"$tmp/ttyDEV"
: >"$tmp/capture.bin"
: >"$tmp/log"

# bash-completion's own loader, looking where the install put the file.
# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion
XDG_DATA_DIRS=$prefix/share __load_completion vemlink ||
  { echo "FAIL: bash-completion finds no completion for vemlink under $prefix/share" >&2; exit 1; }
[ "$(complete -p vemlink 2>/dev/null)" = "complete -F _vemlink vemlink" ] ||
  { echo "FAIL: the completion does not register _vemlink for vemlink" >&2; exit 1; }

# complete_line LINE: the candidates for the last word of LINE (empty when
# LINE ends in a space), sorted, one line.
complete_line() {
  local line=$1
  read -r -a COMP_WORDS <<<"$line"
  [[ $line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=$line
  COMP_POINT=${#line}
  COMPREPLY=()
  _vemlink vemlink "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}

# LINE | is: exactly these | has: at least these | lacks: none of these
cases="
vemlink ta|is|tap
vemlink de|is|decode demo
vemlink |has|demo encode decode tap send
vemlink --he|is|--help
vemlink tap --ba|is|--baud
vemlink tap --|has|--baud --rtscts --link --save --device --help --to-device --to-app --seed
vemlink tap --to-d|is|--to-device
vemlink tap $tmp/ttyDEV --to-app |is|
vemlink tap --to-app x --seed 7 $tmp/tty|is|$tmp/ttyDEV
vemlink tap --baud 11|is|115200 1152000
vemlink tap --baud |has|1200 9600 115200 4000000
vemlink tap --baud |lacks|1021 1023
vemlink tap $tmp/tty|is|$tmp/ttyDEV
vemlink tap --baud 9600 $tmp/tty|is|$tmp/ttyDEV
vemlink tap $tmp/ttyDEV |is|
vemlink tap $tmp/ttyDEV --link $tmp/l|is|$tmp/log
vemlink send --device $tmp/tty|is|$tmp/ttyDEV
vemlink send --device $tmp/ttyDEV --re|is|--reply
vemlink send --reply |is|
vemlink decode --hex $tmp/cap|is|$tmp/capture.bin
vemlink |has|replay mock
vemlink replay $tmp/cap|is|$tmp/capture.bin
vemlink replay --|has|--link --device --frames --speed --no-timing --max-gap --loop --all --wait --baud
vemlink mock $tmp/capture.bin --|has|--link --no-timing --default --strict
vemlink replay $tmp/capture.bin --link $tmp/l|is|$tmp/log
vemlink replay $tmp/capture.bin --device $tmp/tty|is|$tmp/ttyDEV
vemlink replay $tmp/capture.bin --speed |is|
vemlink mock $tmp/cap|is|$tmp/capture.bin
vemlink decode --device $tmp/tty|is|$tmp/ttyDEV
vemlink encode --r|is|--raw
vemlink encode |is|
"
failed=0
while IFS='|' read -r line mode want; do
  [ -n "$line" ] || continue
  got=$(complete_line "$line")
  ok=1
  case $mode in
  is) [ "$got" = "$(tr ' ' '\n' <<<"$want" | sort | tr '\n' ' ' | sed 's/ $//')" ] || ok=0 ;;
  has) for w in $want; do [[ " $got " == *" $w "* ]] || ok=0; done ;;
  lacks) for w in $want; do [[ " $got " == *" $w "* ]] && ok=0; done ;;
  esac
  if [ $ok = 1 ]; then
    echo "ok    '$line<TAB>' $mode '$want'"
  else
    echo "FAIL  '$line<TAB>' $mode '$want', got '$got'" >&2
    failed=1
  fi
done <<<"$cases"
exit $failed
