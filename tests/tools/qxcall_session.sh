#!/usr/bin/env bash
# qxcall_session.sh SIM QXCALL...: runs the command-line host QXCALL... (a program, or a loader
# and a program) against the simulated center SIM on loopback and checks what it prints and
# traces:
#   1. a session with --trace and --pretty and a buffer of 300 bytes: login, user information,
#      a catalogue longer than the buffer (taken with result_handle), a request without
#      FunctionID; the printed layout, and in the trace every call with the texts as GBK and
#      UTF-8, the results and wall times;
#   2. a center that answers with an empty body: --pretty prints the reason; no trace file is
#      written when none is asked for;
#   3. --repeat 3 over two requests: the replies once, the time per call, six requests at the
#      center;
#   4. --set on a copy of qx_interface.ini unless --write-config, the warning for input that is
#      not UTF-8, --version.
# QXCALL_OUTPUT=gbk: the host prints in GBK (qxcall.exe in code page 936); converted here.
# Every line of qxcall's output loses its CR (qxcall.exe writes CR LF).
set -uo pipefail
sim=$1
shift
qxcall=("$@")
work=$(mktemp -d)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill -TERM "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

"$sim" --port 0 --idle-seconds 90 --log "$work/center.log" >"$work/center.out" 2>"$work/center.err" &
sim_pid=$!
port=""
for _ in $(seq 1 100); do
  port=$(sed -n 's/^port \([0-9]*\)$/\1/p' "$work/center.out" 2>/dev/null)
  [ -n "$port" ] && break
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "the simulated center did not start"
  cat "$work/center.err"
  exit 1
fi

# run DIR SERVLET ARGS...: qxcall in DIR (its qx_interface.ini points at SERVLET), output in
# DIR/out as UTF-8 without CRs; the exit status in DIR/rc.
run() {
  local dir=$1 servlet=$2 rc=0
  shift 2
  mkdir -p "$dir"
  printf '[center]\r\nserver=127.0.0.1\r\nport=%s\r\nservlet=%s\r\n' "$port" "$servlet" \
    >"$dir/qx_interface.ini"
  (cd "$dir" && timeout 60 "${qxcall[@]}" --input utf8 "$@" </dev/null >raw 2>err) || rc=$?
  echo "$rc" >"$dir/rc"
  if [ "${QXCALL_OUTPUT:-}" = gbk ]; then
    iconv -f GBK -t UTF-8 "$dir/raw" | tr -d '\r' >"$dir/out"
  else
    tr -d '\r' <"$dir/raw" >"$dir/out"
  fi
}
# expect FILE TEXT...: each TEXT is a whole line of FILE.
expect() {
  local file=$1 line
  shift
  for line in "$@"; do
    grep -qxF -- "$line" "$file" || fail "$(basename "$(dirname "$file")")/$(basename "$file") lacks the line: $line"
  done
}

login='<Program><FunctionID>0</FunctionID><parameters><user>admin</user><password>123456</password></parameters></Program>'
user='<Program><FunctionID>8</FunctionID></Program>'
catalog='<Program><FunctionID>21</FunctionID><parameters><count>2</count></parameters></Program>'

# 1. --trace and --pretty.
s=$work/session
run "$s" /qx/servlet --pretty --buffer 300 --trace trace.log "$login" "$user" "$catalog" \
  '<Program><parameters/></Program>'
[ "$(cat "$s/rc")" = 1 ] || fail "session: exit status $(cat "$s/rc"), not 1 (the last call fails)"
expect "$s/out" 'init_handle -> 1  初始化成功' \
  'business_handle #1 (FunctionID 0) -> 0' \
  '  ErrorMessage: 处理成功！' \
  '  addition-xml (1 row)' \
  '    row1: add1=QXTOKEN-20240001' \
  '    row1: center_id=430100 staff_id=0701 staff_name=王秀兰' \
  'business_handle #3 (FunctionID 21) -> 0  (reply longer than the buffer: taken with result_handle)' \
  '  catalog (2 rows)' \
  'business_handle #4 (FunctionID ?) -> -1' \
  '  ErrorNo: -115'
[ "$(grep -c '^    row[12]: item_code=Y0000000[12] item_name=' "$s/out")" = 2 ] ||
  fail "session: the catalogue is not one line per row"
t=$s/trace.log
if [ ! -f "$t" ]; then
  fail "session: no trace file"
else
  # One record per call: init, then business_handle and the two result_handle calls each.
  [ "$(grep -c '^=== .* init_handle$' "$t")" = 1 ] || fail "trace: init_handle records"
  [ "$(grep -c '^=== .* business_handle #[1-4]$' "$t")" = 4 ] || fail "trace: business_handle records"
  [ "$(grep -c '^=== .* result_handle(NULL)$' "$t")" = 4 ] || fail "trace: result_handle(NULL) records"
  [ "$(grep -c '^wall time: [0-9]*\.[0-9]\{3\} ms$' "$t")" = 13 ] || fail "trace: wall times"
  ! grep -qF 123456 "$t" || fail "trace: the login password in clear"
  gbk_name=$(printf '王秀兰' | iconv -f UTF-8 -t GBK)
  gbk_ok=$(printf '初始化成功' | iconv -f UTF-8 -t GBK)
  LC_ALL=C grep -qF "  gbk: $gbk_ok" "$t" || fail "trace: the init message as GBK"
  masked=${login/123456/***}  # the trace never holds the password
  expect "$t" '  utf-8: 初始化成功' "  gbk: $masked" "  utf-8: $masked" \
    'reply buffer: 300 bytes offered' 'result: -1' 'status: ErrorNo -115' \
    '  utf-8: 入参串中没有FunctionID.' \
    'handed back in the buffer: nothing (the 300 spaces are untouched)'
  LC_ALL=C grep -aqF "<staff_name>$gbk_name</staff_name>" "$t" || fail "trace: the user information as GBK"
  grep -qF '<staff_name>王秀兰</staff_name>' "$t" || fail "trace: the user information as UTF-8"
  # The catalogue did not fit: result_handle(NULL) gave its length, the copy has that many bytes.
  length=$(sed -n '/business_handle #3$/,/^=== .*result_handle(buffer/{s/^result: \([0-9]*\)$/\1/p}' "$t" | tail -n 1)
  grep -qx "handed back in the buffer: $length bytes" "$t" ||
    fail "trace: result_handle's copy of the catalogue ($length bytes)"
fi

# 2. A reply that is not XML, and no trace unless asked.
e=$work/empty
run "$e" /scenario/empty --pretty "$login"
expect "$e/out" '(not XML: line 1, column 1: no root element)'
[ "$(ls "$e")" = "$(printf 'err\nout\nqx_interface.ini\nraw\nrc')" ] ||
  fail "without --trace qxcall wrote: $(ls "$e" | tr '\n' ' ')"

# 3. --repeat.
r=$work/repeat
before=$(grep -ac '^QXSIM1 ' "$work/center.log")
run "$r" /qx/servlet --quiet --repeat 3 "$login" "$user"
[ "$(cat "$r/rc")" = 0 ] || fail "repeat: exit status $(cat "$r/rc")"
after=$(grep -ac '^QXSIM1 ' "$work/center.log")
[ $((after - before)) = 6 ] || fail "repeat: the center had $((after - before)) requests, not 6"
[ "$(grep -c '^business_handle #' "$r/out")" = 2 ] || fail "repeat: result lines of later rounds"
summary=$(grep '^time per call, 3 rounds of 2 calls (ms): ' "$r/out")
read -r low mid high < <(sed -E 's/.*min ([0-9.]+)  median ([0-9.]+)  max ([0-9.]+)$/\1 \2 \3/' <<<"$summary")
if [ -z "$summary" ] || ! awk -v a="$low" -v b="$mid" -v c="$high" 'BEGIN { exit !(a <= b && b <= c && c > 0) }'; then
  fail "repeat: no sound summary: $summary"
fi
[ "$(grep -cE '^  #[12] \(FunctionID [08]\): min [0-9.]+  median [0-9.]+  max [0-9.]+$' "$r/out")" = 2 ] ||
  fail "repeat: the per-request lines"

# 4. --set changes a copy and leaves the site's file as it was; --write-config rewrites it; a
#    request given as UTF-8 that holds GBK bytes is reported; --version names both versions.
c=$work/config
run "$c" /qx/servlet --no-init --set port=1
grep -q "^port=$port"$'\r'"\$" "$c/qx_interface.ini" || fail "--set rewrote the site's file"
grep -q '^config_handle -> 1$' "$c/out" && grep -q 'works on a copy' "$c/err" ||
  fail "--set: the copy was not written, or not said so"
run "$c" /qx/servlet --no-init --set port=1 --write-config
grep -q '^port=1' "$c/qx_interface.ini" || fail "--write-config left the site's file as it was"
printf '<Program><FunctionID>0</FunctionID><user>\xd5\xc5</user></Program>' >"$c/gbk.xml"
run "$c" /qx/servlet --no-init @gbk.xml
grep -q 'request #1 is not valid UTF-8 (byte 42 is 0xD5)' "$c/err" ||
  fail "no warning for GBK bytes given as UTF-8"
run "$c" /qx/servlet --version
own=$(sed -n 's/^qxcall \([0-9]*\.[0-9]*\.[0-9]*\)$/\1/p' "$c/out")
loaded=$(sed -n 's/^library \([0-9]*\.[0-9]*\.[0-9]*\) .*qx_interface.*$/\1/Ip' "$c/out")
[ -n "$own" ] && [ "$own" = "$loaded" ] || fail "--version: $(tr '\n' ';' <"$c/out")"

if [ "$failures" != 0 ]; then
  for dir in "$s" "$e" "$r" "$c"; do
    echo "--- $dir"
    cat "$dir/out" "$dir/err" 2>/dev/null | head -n 60
  done
  exit 1
fi
echo "qxcall session: all checks passed"
