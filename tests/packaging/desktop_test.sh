#!/bin/sh
# The window's desktop integration as a desktop reads it: the .desktop entry is valid, has one
# main category and offers the program for results files only, and the type it names, installed
# into a private type database, recognises the results files the program writes (in each code
# page the reader takes) and nothing else.
#   desktop_test.sh SOURCE_DIR PROGRAM
set -eu
for tool in desktop-file-validate update-mime-database gio iconv; do
  command -v "$tool" >/dev/null || { echo "desktop_test: no $tool" >&2; exit 77; }
done
source_dir=$1
program=$2
entry=$source_dir/resources/pitch-autopilot.desktop
types=$source_dir/packaging/pitch-autopilot-results.xml
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "desktop_test: $*" >&2
  exit 1
}

desktop-file-validate "$entry" || fail "desktop-file-validate rejects $entry"
categories=$(sed -n 's/^Categories=//p' "$entry")
main=0
for category in $(printf '%s\n' "$categories" | tr ';' ' '); do
  case $category in
    AudioVideo | Audio | Video | Development | Education | Game | Graphics | Network | Office | \
      Science | Settings | System | Utility) main=$((main + 1)) ;;
  esac
done
[ "$main" -eq 1 ] || fail "Categories=$categories has $main main categories"
type=application/x-pitch-autopilot-results
[ "$(sed -n 's/^MimeType=//p' "$entry")" = "$type;" ] || fail "MimeType is not $type alone"
grep -q "<mime-type type=\"$type\">" "$types" || fail "$types does not define $type"

mkdir -p "$work/mime/packages"
cp "$types" "$work/mime/packages/"
XDG_DATA_DIRS=$work update-mime-database "$work/mime"
type_of() {
  XDG_DATA_HOME=$work XDG_DATA_DIRS=/usr/share gio info -a standard::content-type "$1" |
    sed -n 's/^ *standard::content-type: //p'
}

cd "$work"
LC_ALL=C.UTF-8 "$program" --results Result_1 >/dev/null
files=Result_1
for code_page in CP1251 KOI8-R CP866 ISO-8859-5 MAC-CYRILLIC EUC-JP GB18030 EUC-KR; do
  iconv -f UTF-8 -t "$code_page" Result_1 >"Result_$code_page"
  files="$files Result_$code_page"
done
printf '\357\273\277' | cat - Result_1 >Result_bom
LC_ALL=C sed 's/[\xd0\xd1][\x80-\xbf]/?/g' Result_1 >Result_ascii
for file in $files Result_bom Result_ascii; do
  [ "$(type_of "$file")" = "$type" ] || fail "$file is $(type_of "$file"), not $type"
done
# Other text, also one that starts like a results file's second heading, stays plain text.
printf 'notes\n' >notes.txt
sed -n '8,$p' Result_1 >ratios_only
for file in notes.txt ratios_only; do
  [ "$(type_of "$file")" = text/plain ] || fail "$file is $(type_of "$file"), not text/plain"
done
echo "desktop_test: passed"
