#!/bin/sh
# Writes every file of this folder (see make_stat_files.R and the .sps
# files): haven's, PSPP's, and PSPP's in two legacy encodings, Windows-1252
# and ISO-8859-1 (under the IBM number 819, which the reader maps itself).
set -e
cd "$(dirname "$0")"
Rscript make_stat_files.R
pspp make_stat_files.sps > /dev/null
tmp=$(mktemp)
for pair in windows-1252:pspp-1252.sav ISO-8859-1:pspp-latin1.sav; do
  enc=${pair%%:*}
  out=${pair#*:}
  sed -e "s/ENCODING/$enc/" -e "s/TARGET/$out/" make_stat_encoded.sps | iconv -f UTF-8 -t "$enc" > "$tmp"
  pspp "$tmp" > /dev/null
done
rm -f "$tmp"
