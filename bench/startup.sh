#!/usr/bin/env bash
# Start-up time of the command line against a trivial C++ program, side by side in one hyperfine
# run:   bench/startup.sh [BUILD_DIR]   (default: build)
# Prints hyperfine's table and the ratio of the means; exits 1 when `pitch-autopilot-cli --json`
# takes more than 3 times the trivial program.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cli=$build/src/cli/pitch-autopilot-cli
trivial=$build/bench/pitch_trivial
for program in "$cli" "$trivial"; do
  [ -x "$program" ] || { echo "startup: $program is not built" >&2; exit 1; }
done
command -v hyperfine >/dev/null || { echo "startup: hyperfine is missing (scripts/install-deps)" >&2; exit 1; }

export LC_ALL=C
json=$(mktemp)
trap 'rm -f "$json"' EXIT
hyperfine -N --warmup 20 --runs "${RUNS:-300}" --export-json "$json" \
  -n trivial "$trivial" \
  -n 'cli --json' "$cli --json" \
  -n 'cli --version' "$cli --version"
python3 - "$json" <<'PY'
import json, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
base = results["trivial"]["mean"]
worst = 0.0
for name, r in results.items():
    ratio = r["mean"] / base
    if name != "trivial":
        worst = max(worst, ratio)
    print(f"{name:14s} mean {r['mean'] * 1e3:7.3f} ms  median {r['median'] * 1e3:7.3f} ms  "
          f"{ratio:5.2f} x trivial")
ratio = results["cli --json"]["mean"] / base
print(f"cli --json / trivial: {ratio:.2f} (target at most 3)")
sys.exit(0 if ratio <= 3 else 1)
PY
