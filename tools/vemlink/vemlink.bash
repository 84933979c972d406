# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

# bash completion for vemlink, installed as
# share/bash-completion/completions/vemlink.
#
# Commands and options come from the program itself at completion time
# ('vemlink --help', 'vemlink COMMAND --help'), so a new command or option
# completes without an edit here. An option written with a placeholder
# ("--baud N", "--device PATH") takes a value: PATH, FILE and PREFIX
# complete as files, the device as serial devices, --baud as the standard
# rates. The first argument of a command whose usage starts with
# DEVICE (tap) completes as a serial device, FILE (decode) or CAPTURE
# (replay, mock) as a file.

# _vemlink_devices CUR: serial devices, or any file once a path is typed
# (a pseudo-terminal or a symbolic link to one is a device too).
_vemlink_devices()
{
    local cur=$1 d
    compopt -o filenames 2>/dev/null || true
    if [[ -z $cur || $cur == /dev/tty* || $cur == /dev/serial* ]]; then
        for d in /dev/ttyUSB* /dev/ttyACM* /dev/ttyAMA* /dev/ttyS* /dev/ttymxc* \
            /dev/serial/by-id/*; do
            [[ -e $d && $d == "$cur"* ]] && COMPREPLY+=("$d")
        done
    fi
    [[ -n $cur && ${#COMPREPLY[@]} -eq 0 ]] && mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}

# _vemlink_value HELP OPTION CUR: the values of OPTION, from its help.
_vemlink_value()
{
    local help=$1 opt=$2 cur=$3 arg
    arg=$(grep -oE -- "${opt}[ =][A-Z][A-Z_]*" <<<"$help" | head -1)
    arg=${arg#"$opt"?}
    case $opt in
    --device) _vemlink_devices "$cur"; return ;;
    --baud)
        # --baud takes any rate; these are the standard ones of termios,
        # the rates a user picks from.
        local rates="1200 1800 2400 4800 9600 19200 38400 57600 115200 230400 460800
            500000 576000 921600 1000000 1152000 1500000 2000000 2500000 3000000
            3500000 4000000"
        mapfile -t COMPREPLY < <(compgen -W "$rates" -- "$cur")
        return
        ;;
    esac
    case $arg in
    PATH | FILE | PREFIX | DIR)
        compopt -o filenames 2>/dev/null || true
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        ;;
    esac
}

_vemlink()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prog=${COMP_WORDS[0]}
    local cmd="" i w help prev positional=0
    COMPREPLY=()
    [[ $prog == "~"/* ]] && prog=$HOME/${prog#"~"/}

    # The command: the first word after the program that is no option.
    for ((i = 1; i < COMP_CWORD; i++)); do
        [[ ${COMP_WORDS[i]} == -* ]] && continue
        cmd=${COMP_WORDS[i]}
        break
    done

    if [[ -z $cmd ]]; then
        help=$("$prog" --help 2>&1)
        if [[ $cur == -* ]]; then
            local opts
            opts=$(grep -oE -- '^ +--?[A-Za-z0-9][-A-Za-z0-9]*' <<<"$help")
            mapfile -t COMPREPLY < <(compgen -W "--help $opts" -- "$cur")
        else
            # Command lines are indented by two spaces: "  tap DEVICE ...".
            local cmds
            cmds=$(grep -oE '^  [a-z][a-z0-9-]*' <<<"$help" | sort -u)
            mapfile -t COMPREPLY < <(compgen -W "$cmds" -- "$cur")
        fi
        return 0
    fi

    help=$("$prog" "$cmd" --help 2>&1)
    local opts takes
    opts=$(grep -oE -- '--[A-Za-z0-9][-A-Za-z0-9]*' <<<"$help" | sort -u)
    # Options shown with a placeholder take the next word as their value.
    takes=" $(grep -oE -- '--[A-Za-z0-9][-A-Za-z0-9]*[ =][A-Z][A-Z_]*' <<<"$help" |
        sed 's/[ =].*//' | sort -u | tr '\n' ' ') "

    prev=${COMP_WORDS[COMP_CWORD - 1]}
    if [[ $prev == --* && $takes == *" $prev "* ]]; then
        _vemlink_value "$help" "$prev" "$cur"
        return 0
    fi
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "--help $opts" -- "$cur")
        return 0
    fi

    # Count the arguments before this one, skipping options and their values.
    for ((i = i + 1; i < COMP_CWORD; i++)); do
        w=${COMP_WORDS[i]}
        if [[ $w == --* ]]; then
            [[ $takes == *" $w "* ]] && ((i++))
            continue
        fi
        ((positional++))
    done
    if ((positional == 0)); then
        local usage
        usage=$(grep -m1 '^usage:' <<<"$help")
        case $usage in
        *" $cmd DEVICE"*) _vemlink_devices "$cur" ;;
        *" [FILE"* | *" $cmd CAPTURE"*)
            compopt -o filenames 2>/dev/null || true
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            ;;
        esac
    fi
    return 0
}
complete -F _vemlink vemlink
