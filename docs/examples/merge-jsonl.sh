# JSON Lines: every line starts {"row":N, and each shard is sorted already
LC_ALL=C sort -m -t: -k2,2n part-*.jsonl > study.jsonl
