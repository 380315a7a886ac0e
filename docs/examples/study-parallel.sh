parallel -j 8 pitch-autopilot-cli --batch envelope.csv --jobs 1 --no-progress \
  --shard {}/8 --out part-{}.csv ::: $(seq 1 8)
