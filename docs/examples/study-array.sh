#!/bin/sh
#SBATCH --array=1-16
#SBATCH --cpus-per-task=8
# A grid of COUNT × COUNT sets (sbatch --export=ALL,COUNT=500 study.sh for a coarser one).
COUNT=${COUNT:-2000}
pitch-autopilot-cli --sweep "c2=0.1:1.5:$COUNT" --sweep "c3=-12:12:$COUNT" \
  --jobs "$SLURM_CPUS_PER_TASK" --no-progress \
  --shard "$SLURM_ARRAY_TASK_ID/$SLURM_ARRAY_TASK_COUNT" --out "part-$SLURM_ARRAY_TASK_ID.csv"
