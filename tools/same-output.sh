#!/bin/bash
# same-output.sh KIVRUN PROGRAM TWIN [ARG...]: the kivos PROGRAM under
# kivrun and its Linux i386 twin on this host's CPU must both exit with 0
# and print the same bytes. Exits 77 (skipped) when this host cannot run
# the twin.
kivrun=$1 program=$2 twin=$3
shift 3
native=$("$twin" "$@"; echo "status $?")
case "$native" in
*"status 126" | *"status 127")
    echo "SKIPPED: this host cannot run the i386 program $twin"
    exit 77 ;;
esac
emulated=$("$kivrun" "$program" "$@"; echo "status $?")
if [ "$native" != "$emulated" ]; then
    echo "$program $*: kivrun and the CPU differ:"
    diff <(echo "$native") <(echo "$emulated") | head -20
    exit 1
fi
