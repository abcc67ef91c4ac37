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
# The frames the child writes for the same files (stat_frames_fuzz), behind
# a byte choosing the format and the piece size. Needs a release build.
reader=${TABULIX_STAT_READER:-build/release/cli/tabulix-read-stat}
if [ -x "$reader" ]; then
  frames=fuzz/corpus/stat_frames
  mkdir -p "$frames"
  for f in tests/data/stat/haven.sav tests/data/stat/haven.dta tests/data/stat/pspp.por tests/data/stat/haven.xpt; do
    ext=".${f##*.}"
    case "$ext" in .sav) b='\000' ;; .por) b='\001' ;; .dta) b='\002' ;; .xpt) b='\004' ;; esac
    # The child may not write files itself (its file size limit is 0): a pipe.
    { printf "$b"; "$reader" "$ext" 100000 "$f" | cat; } > "$frames/$(basename "$f")"
  done
fi
