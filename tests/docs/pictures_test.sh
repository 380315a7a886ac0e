#!/usr/bin/env bash
# The README's pictures are what the programs draw now: makes them afresh with scripts/pictures
# from the build tree and compares each with its copy in docs/. A pixel counts as different when
# a channel differs by more than FUZZ (antialiasing and font hinting stay below it); a picture
# differs when more than LIMIT pixels do.
#   pictures_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build_dir=$2
fuzz=12%
limit=150
fresh=$(mktemp -d)
trap 'rm -rf "$fresh"' EXIT
PITCH_BUILD=$build_dir "$source_dir/scripts/pictures" "$fresh" >/dev/null
failed=0
for name in plot.png bode.png map.png robust_map.png window.png; do
  kept=$source_dir/docs/$name
  if [ ! -f "$kept" ]; then
    echo "docs/$name is missing"
    failed=1
    continue
  fi
  kept_size=$(identify -format '%wx%h' "$kept")
  fresh_size=$(identify -format '%wx%h' "$fresh/$name")
  if [ "$kept_size" != "$fresh_size" ]; then
    echo "docs/$name is $kept_size, the program draws $fresh_size"
    failed=1
    continue
  fi
  # compare prints the count of differing pixels on stderr and exits 1 when there are any.
  differing=$(compare -metric AE -fuzz "$fuzz" "$kept" "$fresh/$name" null: 2>&1 || true)
  differing=${differing%% *}
  if ! [[ $differing =~ ^[0-9]+$ ]] || [ "$differing" -gt "$limit" ]; then
    echo "docs/$name differs from what the program draws now in $differing pixels" \
      "(run scripts/pictures)"
    failed=1
  else
    echo "docs/$name: $differing pixels differ (at most $limit)"
  fi
done
exit $failed
