#!/usr/bin/env bash
# The export words as a hostile caller uses them: every refusal exits 1 with an English message and
# leaves the named file as it was; a link is written through and stays a link.
# usage: export_targets.sh TREVOLAN-REPORT SAMPLE.ged
set -u
tool=$1
sample=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail=0
check() { # description, condition...
  local what=$1
  shift
  if ! "$@"; then
    echo "FAILED: $what"
    fail=1
  fi
}
# Runs the tool; expects exit code $1 and an English message (no Cyrillic) when it fails.
run() {
  local want=$1
  shift
  "$tool" "$@" >"$dir/out" 2>"$dir/err"
  local rc=$?
  if [ "$rc" != "$want" ]; then
    echo "FAILED: exit $rc (wanted $want): $*"
    cat "$dir/err"
    fail=1
  fi
  if [ "$want" != 0 ] && LC_ALL=C grep -q $'[\xD0\xD1]' "$dir/err"; then
    echo "FAILED: message not in English: $(cat "$dir/err")"
    fail=1
  fi
}

cp "$sample" "$dir/tree.ged"
before=$(sha256sum <"$dir/tree.ged")
mkfifo "$dir/pipe.csv" "$dir/pipe.xlsx"
# A device of our own ("full": writes fail) where the system allows one; never a device the system uses,
# so a broken writer cannot replace one.
device=""
mknod "$dir/full.dev" c 1 7 2>/dev/null && device="$dir/full.dev"

for word in csv workbook; do
  ext=csv
  extra=()
  [ $word = workbook ] && ext=xlsx && extra=(--list calendar --today 2026-12-11)
  # The tree itself: directly (CSV only; a workbook needs its extension), through a link, through a hard
  # link. Refused, untouched.
  [ $word = csv ] && run 1 $word "$dir/tree.ged" "$dir/tree.ged"
  ln -s tree.ged "$dir/tree-link.$ext"
  ln "$dir/tree.ged" "$dir/tree-hard.$ext"
  run 1 $word "$dir/tree.ged" "$dir/tree-link.$ext" "${extra[@]}"
  run 1 $word "$dir/tree.ged" "$dir/tree-hard.$ext" "${extra[@]}"
  check "$word: the tree is untouched" [ "$(sha256sum <"$dir/tree.ged")" = "$before" ]
  check "$word: the link stays" [ -L "$dir/tree-link.$ext" ]
  # A FIFO and a device (directly and through a link): refused, still what they were.
  run 1 $word "$dir/tree.ged" "$dir/pipe.$ext" "${extra[@]}"
  check "$word: the FIFO stays a FIFO" [ -p "$dir/pipe.$ext" ]
  if [ -n "$device" ]; then
    ln -s "$device" "$dir/full.$ext"
    [ $word = csv ] && run 1 $word "$dir/tree.ged" "$device"
    run 1 $word "$dir/tree.ged" "$dir/full.$ext" "${extra[@]}"
    check "$word: the device stays a device" [ -c "$device" ]
  fi
  # A link to another file: that file is written, the link stays.
  : >"$dir/real.$ext"
  ln -s "real.$ext" "$dir/link.$ext"
  run 0 $word "$dir/tree.ged" "$dir/link.$ext" "${extra[@]}"
  check "$word: the link stays a link" [ -L "$dir/link.$ext" ]
  check "$word: the linked file is written" [ -s "$dir/real.$ext" ]
done
# The words that save a picture or rich text: the tree itself, a FIFO (which would block the writer for good)
# and a device are refused and left as they were; a link is written through.
mkfifo "$dir/pipe.png" "$dir/pipe.rtf"
for target_case in "fan png --person @I28@" "tree bmp --person @I28@" "kinship jpg @I28@ @I37@ --picture" "card rtf @I5@ --rtf"; do
  read -r word ext rest <<<"$target_case"
  cp "$sample" "$dir/tree.ged"  # in place: a word that harmed it must not spoil the next word's run
  # fan and tree name the file right after the tree; kinship and card after their option.
  out_args() { if [ $word = fan ] || [ $word = tree ]; then echo "$1 $rest"; else echo "$rest $1"; fi; }
  [ $word = card ] && run 1 $word "$dir/tree.ged" $(out_args "$dir/tree.ged")
  [ $word = kinship ] && run 1 $word "$dir/tree.ged" $(out_args "$dir/tree.ged")
  ln -sf tree.ged "$dir/tree-link.$ext"
  run 1 $word "$dir/tree.ged" $(out_args "$dir/tree-link.$ext")
  check "$word: the tree is untouched" [ "$(sha256sum <"$dir/tree.ged")" = "$before" ]
  [ -p "$dir/pipe.$ext" ] || mkfifo "$dir/pipe.$ext"
  "$tool" $word "$dir/tree.ged" $(out_args "$dir/pipe.$ext") >"$dir/out" 2>"$dir/err" &
  pid=$!
  for _ in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.2; done
  if kill -0 $pid 2>/dev/null; then
    echo "FAILED: $word blocks on a FIFO"
    kill $pid
    fail=1
  fi
  wait $pid
  check "$word: refuses the FIFO" [ $? = 1 ]
  check "$word: the FIFO stays a FIFO" [ -p "$dir/pipe.$ext" ]
  if [ -n "$device" ]; then
    ln -sf "$device" "$dir/full.$ext"
    run 1 $word "$dir/tree.ged" $(out_args "$dir/full.$ext")
    check "$word: the device stays a device" [ -c "$device" ]
  fi
  : >"$dir/real.$ext"
  ln -sf "real.$ext" "$dir/link.$ext"
  run 0 $word "$dir/tree.ged" $(out_args "$dir/link.$ext")
  check "$word: the link stays a link" [ -L "$dir/link.$ext" ]
  check "$word: the linked file is written" [ -s "$dir/real.$ext" ]
done
check "no temporary picture or text left" [ -z "$(find "$dir" -name '*.tmp-*')" ]
# An output that is only an extension would be a hidden file.
(cd "$dir" && run 1 workbook "$dir/tree.ged" .xlsx --list calendar)
(cd "$dir" && run 1 csv "$dir/tree.ged" .csv)
check "no hidden file" [ ! -e "$dir/.xlsx" ] && [ ! -e "$dir/.csv" ]
check "no temporary file left" [ -z "$(find "$dir" -name '.*.tmp')" ]
exit $fail
