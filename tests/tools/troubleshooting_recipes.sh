#!/usr/bin/env bash
# troubleshooting_recipes.sh BIN PAGE...: every recipe of the troubleshooting pages, run as
# written, must give the code the page states.
#
# The table is the pages themselves: a recipe is a line of a ```sh block that ends in "# CODE"
# (an integer, perhaps followed by words). The other lines of those blocks (starting the
# simulated center, writing qx_interface.ini or the card, setting LOGIN and USERINFO) run as
# written, in order, before the recipes after them. Each page runs in one shell in a scratch
# folder of its own, with BIN (qxcall, qx-center-sim) first on PATH and SIM naming the
# simulated card reader BIN/../sim/libqxic-sim.so, without a graphical display (boxes go to
# standard error, prompts read the end of input), and in a network namespace of its own where
# only loopback exists, so that nothing reaches outside this machine (the recipe for a name that
# does not resolve asks no server).
#
# A recipe's code is the result of the last call qxcall printed ("init_handle -> -1",
# "business_handle #3 (FunctionID 32) -> -110"); for a business call that returned -1, the
# ErrorNo of the result XML it printed. The pages must hold the same recipes in the same order.
# Exit 77 (skipped) where no network namespace can be made.
set -uo pipefail
if [ "${1:-}" = --page ]; then
  # One page, inside its namespace: bin page output
  bin=$2 page=$3 report=$4
  ip link set lo up || { echo "FAILED: loopback cannot be brought up" >"$report"; exit 1; }
  export PATH=$bin:$PATH SIM=$bin/../sim/libqxic-sim.so
  unset DISPLAY WAYLAND_DISPLAY QXIC_CARD_FILE QXIC_FAULTS QXIC_FAULTS_FILE QXIC_JOURNAL
  dir=$(mktemp -d)
  cd "$dir" || exit 1
  pids=()
  passed=0 failed=0
  while IFS= read -r line; do
    if [[ $line =~ ^(.*[^[:space:]])[[:space:]]+#[[:space:]]*(-?[0-9]+)([^0-9].*)?$ ]]; then
      cmd=${BASH_REMATCH[1]} stated=${BASH_REMATCH[2]}
      (eval "$cmd") </dev/null >out 2>err
      last=$(grep -aE '^(init_handle|business_handle #[0-9]+ \(FunctionID .*\)) -> -?[0-9]+' out |
             tail -n 1)
      got=${last##*-> }
      got=${got%% *}
      if [[ $last == business_handle* && $got == -1 ]]; then
        got=$(sed -n "/^${last%% (*} (/,\$p" out | grep -aoE 'ErrorNo(>|: )-?[0-9]+' | head -n 1 |
              grep -oE -- '-?[0-9]+$')
      fi
      if [ -n "$got" ] && [ "$got" = "$stated" ]; then
        passed=$((passed + 1))
        echo "ok $stated: $cmd" >>"$report"
      else
        failed=$((failed + 1))
        { echo "FAILED: the page states $stated, the recipe gives '${got:-nothing}': $cmd"
          sed 's/^/  | /' out err | head -n 20; } >>"$report"
      fi
    else
      eval "$line" >>setup.log 2>&1 </dev/null
      if [[ $line =~ \&[[:space:]]*$ ]]; then
        pids+=("$!")
        for _ in $(seq 100); do
          grep -q '^port ' setup.log && break
          sleep 0.05
        done
      fi
    fi
  done < <(awk '/^```/ { inside = ($0 == "```sh"); next } inside' "$page")
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  cd / && rm -rf "$dir"
  echo "$passed $failed" >"$report.count"
  exit 0
fi

bin=$(cd "$1" && pwd)
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if ! unshare -rn true 2>/dev/null; then
  echo "recipes: no network namespace can be made here (unshare -rn): not run"
  exit 77
fi
status=0
# The same recipes on every page, whatever the language around them.
recipes() { awk '/^```/ { inside = ($0 == "```sh"); next } inside && /[^ ] +# *-?[0-9]+([^0-9]|$)/' "$1" |
            sed -E 's/[[:space:]]+#[[:space:]]*(-?[0-9]+).*$/  # \1/'; }
for page in "$@"; do
  if ! diff <(recipes "$1") <(recipes "$page") >"$work/diff"; then
    echo "FAILED: $(basename "$page") does not hold the recipes of $(basename "$1"):"
    cat "$work/diff"
    status=1
  fi
done
# The pages run side by side (the time-out recipe waits a minute on each).
pids=()
for page in "$@"; do
  report=$work/$(basename "$page").report
  : >"$report"
  timeout -k 10 300 unshare -rn bash "$0" --page "$bin" "$(cd "$(dirname "$page")" && pwd)/$(basename "$page")" "$report" &
  pids+=("$!")
done
for pid in "${pids[@]}"; do
  wait "$pid" || status=1
done
passed=0 failed=0
for page in "$@"; do
  report=$work/$(basename "$page").report
  echo "== $(basename "$page")"
  cat "$report"
  if [ -f "$report.count" ]; then
    read -r p f <"$report.count"
    passed=$((passed + p)) failed=$((failed + f))
  else
    echo "FAILED: $(basename "$page") did not run to its end"
    failed=$((failed + 1))
  fi
done
echo "recipes: $passed passed, $failed failed"
[ "$failed" = 0 ] && [ "$status" = 0 ]
