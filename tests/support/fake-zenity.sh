#!/bin/sh
# The desktop's dialog helper as the tests see it, linked as "zenity" into a folder put first on
# PATH: records each call's arguments in the file "calls" beside the link (arguments separated by
# 0x1F, calls by 0x1E) and answers from the file "answers" there, one "CODE OUTPUT" line a call;
# with none left it answers 1 (Cancel).
dir=$(dirname "$0")
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
