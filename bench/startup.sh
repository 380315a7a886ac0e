#!/usr/bin/env bash
# Start-up time of the command line against a trivial C++ program, side by side in one hyperfine
# run:   bench/startup.sh [BUILD_DIR]   (default: build)
# Prints hyperfine's table and each program's process time (user + system, the mean over the
# runs) against the trivial program's; exits 1 when `pitch-autopilot-cli --json` takes more than
# 3 times as much. (Wall times wait for the processor on a busy machine; process times do not.)
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
def cpu(r):
    return r["user"] + r["system"]
base = cpu(results["trivial"])
for name, r in results.items():
    print(f"{name:14s} process time {cpu(r) * 1e3:6.2f} ms ({cpu(r) / base:4.2f} x trivial), "
          f"wall median {r['median'] * 1e3:6.2f} ms, min {r['min'] * 1e3:6.2f} ms")
ratio = cpu(results["cli --json"]) / base
print(f"cli --json / trivial: {ratio:.2f} (target at most 3)")
sys.exit(0 if ratio <= 3 else 1)
PY
