#!/bin/sh
# The desktop's dialog helper as the scenarios see it: records each call's arguments in
# $QX_FAKE_DIALOG_DIR/calls (arguments separated by 0x1F, calls by 0x1E) and answers from
# $QX_FAKE_DIALOG_DIR/answers, one "CODE OUTPUT" line a call; with none left it answers 1 (Cancel).
dir=${QX_FAKE_DIALOG_DIR:?}
{ for a in "$@"; do printf '%s\037' "$a"; done; printf '\036'; } >> "$dir/calls"
if [ -s "$dir/answers" ]; then
  line=$(head -n 1 "$dir/answers")
  tail -n +2 "$dir/answers" > "$dir/answers.next"
  mv "$dir/answers.next" "$dir/answers"
  code=${line%% *}
  out=${line#* }
  if [ "$out" != "$line" ]; then printf '%s\n' "$out"; fi
  exit "$code"
fi
exit 1
