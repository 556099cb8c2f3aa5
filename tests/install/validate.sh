#!/bin/sh
# Runs a validator on a file and judges it by what the tool does with problems:
#   quiet    the tool passes a file by saying nothing (desktop-file-validate prints its
#            warnings on the standard output and still exits 0);
#   stderr   the tool's standard output is the product, its warnings go to the standard
#            error (man rendering a page);
#   status   the exit status alone (appstreamcli, which fails on warnings too).
# Usage: validate.sh quiet|stderr|status TOOL [ARGUMENT...]; exits 77 (skipped) when TOOL
# is missing.
mode=$1
shift
if ! command -v "$1" >/dev/null 2>&1; then
    echo "$1 is not installed; check skipped"
    exit 77
fi
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
"$@" >"$out" 2>"$err"
status=$?
[ "$mode" = stderr ] || cat "$out"
cat "$err"
[ "$status" -eq 0 ] || exit 1
case $mode in
quiet) [ ! -s "$out" ] && [ ! -s "$err" ] ;;
stderr) [ ! -s "$err" ] ;;
status) true ;;
esac
