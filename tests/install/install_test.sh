#!/usr/bin/env bash
# Installs the build under a scratch prefix, moves the prefix, and checks what a desktop and a
# shell find there: the program, its manual page, its completion and, when the build has the
# window, its help file, desktop entry and software-center description.
# Usage: install_test.sh CMAKE BUILD_DIR WINDOW(0|1) BINDIR LIBDIR DATADIR MANDIR ARCHIVE
set -uo pipefail
cmake=$1 build=$2 window=$3 bindir=$4 libdir=$5 datadir=$6 mandir=$7 archive=$8
archive=$(realpath "$archive")

scratch=$(mktemp -d) || exit 1
trap 'rm -rf "$scratch"' EXIT
trap 'exit 1' INT TERM HUP
failures=0 checks=0
check() {  # description, then a command that must succeed
    local what=$1
    shift
    checks=$((checks + 1))
    "$@" || { echo "FAIL: $what" >&2; failures=$((failures + 1)); }
}
quiet() {  # a command that must succeed and print nothing at all
    local out
    out=$("$@" 2>&1) && [ -z "$out" ] || { printf '%s\n' "$out" >&2; return 1; }
}
no_warnings() {  # a command that must succeed and print nothing on stderr
    local err
    err=$("$@" 2>&1 >/dev/null) && [ -z "$err" ] || { printf '%s\n' "$err" >&2; return 1; }
}

needed=(man groff bash timeout)
[ "$window" = 1 ] && needed+=(desktop-file-validate appstreamcli)
[ "$window" = 1 ] && [ -z "${DISPLAY:-}" ] && needed+=(xvfb-run)
for tool in "${needed[@]}"; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed" >&2; exit 1; }
done

"$cmake" --install "$build" --prefix "$scratch/first" >"$scratch/install.log" 2>&1 ||
    { cat "$scratch/install.log" >&2; exit 1; }
# Nothing installed may depend on where the prefix was.
mv "$scratch/first" "$scratch/moved"
prefix=$scratch/moved
program=$prefix/$bindir/fennic
mkdir "$scratch/work"
cd "$scratch/work" || exit 1
# The program's settings stay in the scratch folder too.
export XDG_CONFIG_HOME=$scratch/config

version=$("$program" --version)
check "the installed program runs (--version: $version)" \
    eval '[[ $version =~ ^fennic\ [0-9]+\.[0-9]+ ]]'
check "only the program in $bindir" \
    eval '[ "$(ls "$prefix/$bindir")" = fennic ]'

commands=$("$program" --help | sed -n 's/^  fennic \([a-z]*\) .*/\1/p' | sort)
check "the program help names its commands" [ -n "$commands" ]
options_of() {  # the options `fennic COMMAND --help` lists, one a line
    "$program" "$1" --help | grep '^  -' | cut -c1-26 | grep -oE -- '--?[a-z][-a-z]*' | sort -u
}

# Manual page: renders without a warning and names every option of every command.
page=$prefix/$mandir/man1/fennic.1
check "man renders the page without warnings" \
    no_warnings env LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -l "$page"
check "groff finds nothing to warn about" quiet groff -man -ww -z "$page"
rendered=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$page" 2>/dev/null)
for cmd in $commands; do
    for opt in $(options_of "$cmd"); do
        check "the manual page has $cmd's $opt" \
            grep -qE -- "(^|[ [(,])$opt($|[] ,)])" <<<"$rendered"
    done
done

# Completion, sourced as bash-completion would, answering in an empty folder and then beside
# one file and one folder.
completion=$prefix/$datadir/bash-completion/completions/fennic
completes() {  # expected replies (sorted, one line), then the words; the last is completed
    local expected=$1
    shift
    local got
    got=$(bash --norc --noprofile -c 'source "$1" && shift && COMP_WORDS=("$@") &&
        COMP_CWORD=$(($# - 1)) && { _fennic; printf "%s\n" "${COMPREPLY[@]}"; }' \
        _ "$completion" "$@" | sort | paste -sd' ')
    [ "$got" = "$expected" ] || { echo "fennic ${*:2}: '$got', not '$expected'" >&2; return 1; }
}
check "completion: fennic l" completes list fennic l
check "completion: fennic get --conn" completes --connections fennic get --conn
check "completion: the commands" completes "$(paste -sd' ' <<<"$commands")" fennic ''
for cmd in $commands; do
    check "completion: $cmd's options" completes "$(options_of "$cmd" | paste -sd' ')" \
        fennic "$cmd" -
done
mkdir folder && touch file.zip
check "completion: get -d takes a folder" completes folder fennic get x.zip -d ''
check "completion: extract -o takes a file" completes "file.zip folder" fennic extract x e -o ''
check "completion: --cacert takes a file" completes file.zip fennic list --cacert fi
check "completion: get's -o is a switch" completes --never-overwrite fennic get -o --nev

if [ "$window" = 1 ]; then
    check "the help file in $datadir/fennic" [ -s "$prefix/$datadir/fennic/fxnfo.cmh" ]
    # The window module found from the moved program: it lists an archive and ends.
    display=()
    [ -n "${DISPLAY:-}" ] || display=(xvfb-run -a)
    bench=$(FENNIC_WINDOW_BENCH=$archive timeout 120 "${display[@]}" "$program" </dev/null)
    check "the installed window lists an archive ($bench)" \
        eval '[[ $bench =~ ^[0-9.]+\ ms\ [1-9][0-9]*\ rows$ ]]'
    check "the module in $libdir" [ -f "$prefix/$libdir/libfennic_window.so" ]

    apps=$prefix/$datadir/applications
    desktop=$(ls "$apps"/*.desktop 2>/dev/null)
    check "one desktop entry" eval '[ -n "$desktop" ] && [ "$(wc -l <<<"$desktop")" = 1 ]'
    check "desktop-file-validate accepts it" quiet desktop-file-validate "$desktop"
    icon=$(sed -n 's/^Icon=//p' "$desktop")
    check "its icon $icon is installed" \
        eval 'ls "$prefix/$datadir"/icons/hicolor/*/apps/"$icon".png >/dev/null'
    check "it starts the installed program" grep -qx 'Exec=fennic %u' "$desktop"
    for png in "$prefix/$datadir"/icons/hicolor/*/apps/*.png; do
        size=$(basename "$(dirname "$(dirname "$png")")")
        # A PNG's width and height are the big-endian words at bytes 16 and 20.
        read -r w0 w1 w2 w3 h0 h1 h2 h3 < <(od -An -tu1 -j16 -N8 "$png")
        dims=$((w0 << 24 | w1 << 16 | w2 << 8 | w3))x$((h0 << 24 | h1 << 16 | h2 << 8 | h3))
        check "${png#"$prefix/"} is $size ($dims)" [ "$dims" = "$size" ]
    done

    metainfo=$(ls "$prefix/$datadir"/metainfo/*.metainfo.xml 2>/dev/null)
    check "one metainfo file" eval '[ -n "$metainfo" ] && [ "$(wc -l <<<"$metainfo")" = 1 ]'
    verdict=$(appstreamcli validate --no-net "$metainfo" 2>&1)
    valid=$?
    check "appstreamcli accepts the description: $verdict" \
        eval '[ $valid = 0 ] && ! grep -qE "^[EW]:" <<<"$verdict"'
    check "it launches the desktop entry" \
        grep -q "<launchable type=\"desktop-id\">$(basename "$desktop")</launchable>" "$metainfo"
    check "its id is the file's name" grep -q "<id>$(basename "$metainfo" .metainfo.xml)</id>" \
        "$metainfo"
    check "a release for this version" \
        grep -q "<release version=\"${version#fennic }\"" "$metainfo"
else
    check "no window files without the window" \
        eval '[ ! -e "$prefix/$datadir/applications" ] && [ ! -e "$prefix/$datadir/fennic" ]'
fi

echo "$checks checks, $failures failed"
[ "$checks" -gt 0 ] && [ "$failures" = 0 ]
