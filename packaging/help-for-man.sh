#!/bin/sh
# The command line's --help as help2man reads it: help2man takes the synopsis from a "Usage:" line
# and the "or:" lines after it, one line each, so each usage's continuation lines are joined to it
# and the second and later usages start with "or:". The rest, and any other option
# (--version), passes unchanged.
#   help-for-man.sh PROGRAM ARGUMENT...
set -eu
program=$1
shift
if [ "$*" != "--help" ]; then
  exec "$program" "$@"
fi
help=$("$program" --help)
printf '%s\n' "$help" | awk '
  !done && /^Usage: / { usage = $0; next }
  !done && usage != "" && /^       [^ ]/ { print usage; sub(/^ +/, ""); usage = "  or:  " $0; next }
  !done && usage != "" && /^ / { sub(/^ +/, " "); usage = usage $0; next }
  !done && usage != "" { print usage; usage = ""; done = 1 }
  { print }
'
