# CSV: one header, then the rows by their index
{ head -n 1 part-1.csv; tail -q -n +2 part-*.csv | LC_ALL=C sort -t, -k1,1n; } > study.csv
