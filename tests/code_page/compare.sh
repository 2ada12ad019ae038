#!/bin/sh
# compare.sh NATIVE-DUMPER WINDOWS-DUMPER-COMMAND...: the POSIX code page against code page 936
# as the system converts it, entry for entry. The native dumper comes from the Linux build
# (scripts/test-windows names its folder in QX_NATIVE_BIN_DIR); without it the test is skipped.
native=${1:-${QX_NATIVE_BIN_DIR:+$QX_NATIVE_BIN_DIR/qx-code-page-dump}}
shift
if [ -z "$native" ] || [ ! -x "$native" ]; then
  echo "code page: no native dumper to compare with (QX_NATIVE_BIN_DIR)"
  exit 77
fi
work=$(mktemp -d /tmp/qx-code-page-XXXXXX)
trap 'rm -rf "$work"' EXIT
"$native" >"$work/posix.txt" || exit 1
"$@" | tr -d '\r' >"$work/936.txt" || exit 1
singles=$(grep -c '^M .. ' "$work/936.txt")
pairs=$(grep -c '^M .... ' "$work/936.txt")
units=$(grep -c '^W ' "$work/936.txt")
echo "code page 936: $singles single bytes, $pairs pairs, $units UTF-16 units"
if [ "$pairs" -lt 20000 ] || [ "$units" -lt 20000 ]; then
  echo "the system's dump is too short to be code page 936"
  exit 1
fi
if ! diff "$work/936.txt" "$work/posix.txt" >"$work/diff.txt"; then
  echo "the POSIX code page differs from code page 936 (< 936, > POSIX):"
  head -n 40 "$work/diff.txt"
  exit 1
fi
echo "the POSIX code page equals code page 936 in both directions"
