#!/bin/sh
# Pictures under a process limit (prlimit --nproc) that leaves too few threads for Qt: each is an
# error within seconds, the ratios are still printed, and the run ends with code 1. The limit
# binds only an unprivileged user, so as root the program runs as nobody.
#   few_processes.sh PROGRAM
set -u
program=$1
dir=$(mktemp -d)
chmod 777 "$dir"
trap 'rm -rf "$dir"' EXIT
as_user=
if [ "$(id -u)" -eq 0 ]; then
  as_user="setpriv --reuid=nobody --regid=nogroup --clear-groups"
  if ! $as_user test -x "$program"; then
    echo "skipped: nobody cannot run $program here"
    exit 77
  fi
fi
status=0
for n in 1 2 3; do
  out=$(cd "$dir" && env -i LC_ALL=C PATH=/usr/bin:/bin timeout 30 $as_user \
        prlimit --nproc=$n "$program" --plot p.png --bode b.png 2>&1)
  code=$?
  case "$code:$out" in
    1:*"Tnu = 11.2574580659687"*"The chart cannot be drawn: "*"The Bode diagram cannot be drawn: "*) ;;
    *) echo "nproc $n: exit code $code:"; echo "$out"; status=1 ;;
  esac
  if [ -e "$dir/p.png" ] || [ -e "$dir/b.png" ]; then
    echo "nproc $n: a picture was written"; status=1
  fi
done
exit $status
