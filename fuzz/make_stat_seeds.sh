#!/bin/sh
# Writes the seeds of stat_fuzz: each file of tests/data/stat behind the
# byte that selects its format (0 .sav/.zsav, 1 .por, 2 .dta, 3 .sas7bdat, 4 .xpt).
set -e
cd "$(dirname "$0")/.."
out=fuzz/corpus/stat
mkdir -p "$out"
for f in tests/data/stat/*; do
  case "$f" in
    *.sav|*.zsav) b='\000' ;;
    *.por) b='\001' ;;
    *.dta) b='\002' ;;
    *.sas7bdat) b='\003' ;;
    *.xpt) b='\004' ;;
    *) continue ;;
  esac
  # The limit files are large and add nothing the small ones do not have.
  case "$f" in *long*|*wide*) continue ;; esac
  { printf "$b"; cat "$f"; } > "$out/$(basename "$f")"
done
