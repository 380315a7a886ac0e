#!/bin/sh
# The command line's man page as a reader sees it (groff, as man formats it): every usage in
# SYNOPSIS and none left in DESCRIPTION, each option of --help on a line of its own with its text
# below, the renderer's variables naming --report, and the exit codes 130 and 143 in the page and
# in --help.
#   man_page_test.sh PAGE PROGRAM
set -eu
page=$1
program=$2
fail() {
  echo "man_page_test: $*" >&2
  exit 1
}
text=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -rLL=400n -P-cbou "$page")
# A section's text: the lines from its heading to the next heading, joined by spaces.
section() {
  printf '%s\n' "$text" | awk -v name="$1" '
    /^[A-Z]/ { inside = ($0 == name); next }
    inside { sub(/^ +/, ""); printf "%s ", $0 }'
}
synopsis=$(section SYNOPSIS)
[ "$(printf '%s\n' "$synopsis" | grep -o 'pitch-autopilot-cli ' | wc -l)" -eq 3 ] ||
  fail "SYNOPSIS does not hold the three usages: $synopsis"
for usage in '[--report FILE.pdf] [--from FILE | C1 C2 C3 C4 C5]' \
  '(--batch FILE|- | --sweep NAME=FROM:TO:COUNT ...)' '[--map FILE [--map-value NAME]]' \
  '--robust NAME=LO:HI ...' '[--robust-map FILE] [--report FILE.pdf]'; do
  printf '%s\n' "$synopsis" | grep -qF -- "$usage" || fail "SYNOPSIS lacks $usage: $synopsis"
done
description=$(section DESCRIPTION)
case $description in
  *'[--'*) fail "usage text left in DESCRIPTION: $description" ;;
  Synthesises*) ;;
  *) fail "DESCRIPTION does not start with the description: $description" ;;
esac

# Each option's left column of --help is the tag of a paragraph of its own under OPTIONS (the
# line after ".TP" in the page's source), its text the paragraph.
help=$(LC_ALL=C "$program" --help)
tags=$(awk '/^\.SH/ { inside = ($0 ~ /OPTIONS/); next }
            inside && tag { print; tag = 0 } inside && /^\.TP/ { tag = 1 }' "$page" |
       sed 's/\\f[BIRP]//g; s/\\[,\/]//g; s/\\-/-/g')
printf '%s\n' "$help" | grep '^  -' | sed 's/^  //; s/  .*//; s/ *$//' | while IFS= read -r tag; do
  printf '%s\n' "$tags" | grep -qxF -- "$tag" || fail "OPTIONS has no paragraph tagged '$tag': $tags"
done
printf '%s\n' "$text" | grep -A1 -xF '       --report FILE.pdf' | grep -q '^ *write a one-page PDF' ||
  fail "--report's text is not below it"

section ENVIRONMENT | grep -q -- '--report' || fail "ENVIRONMENT does not mention --report"
for code in 130 143; do
  section 'EXIT STATUS' | grep -qw "$code" || fail "EXIT STATUS lacks $code"
  printf '%s\n' "$help" | grep -qw "$code" || fail "--help lacks the exit code $code"
done
echo "man_page_test: passed"
