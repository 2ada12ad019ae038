#!/bin/sh
# Runs the host-level scenarios against one build of the library:
#   run_scenarios.sh CENTER COMMAND...
# starts the scripted center CENTER (a native program; when CENTER is empty, the one in the Linux
# build's folder QX_NATIVE_BIN_DIR, as scripts/test-windows names it) on loopback, passes its
# ports in QX_SCENARIO_PORTS, puts the recording dialog helper on PATH, runs COMMAND (the
# scenario host, perhaps behind a Windows loader), and stops the center by its PID. Exit 77 (skipped) when no center was built.
set -u
center=${1:-${QX_NATIVE_BIN_DIR:+$QX_NATIVE_BIN_DIR/qx-scenario-center}}
shift
if [ -z "$center" ] || [ ! -x "$center" ]; then
  echo "scenarios: no scripted center to run (QX_NATIVE_BIN_DIR)"
  exit 77
fi
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/qx-scenarios-XXXXXX)
"$center" --idle-seconds 900 >"$work/ports" 2>"$work/center.err" &
center_pid=$!
trap 'kill "$center_pid" 2>/dev/null; wait "$center_pid" 2>/dev/null; rm -rf "$work"' EXIT
ports=
for _ in $(seq 100); do
  ports=$(sed -n 's/^ports //p' "$work/ports")
  [ -n "$ports" ] && break
  kill -0 "$center_pid" 2>/dev/null || break
  sleep 0.05
done
if [ -z "$ports" ]; then
  echo "scenarios: the scripted center did not start:"
  cat "$work/center.err"
  exit 2
fi
# The simulated card reader (QX_CARD_SIM) stands in for the vendor's: copied under the vendor's
# name into a folder of the scratch directory, which goes first in the library search
# (LD_LIBRARY_PATH for the .so; Wine's PATH, WINEPATH, for the DLL).
if [ -n "${QX_CARD_SIM:-}" ]; then
  mkdir "$work/card-reader"
  case $QX_CARD_SIM in
    *.dll)
      cp "$QX_CARD_SIM" "$work/card-reader/qxic.dll"
      WINEPATH="Z:$(printf '%s' "$work/card-reader" | tr / '\\')${WINEPATH:+;$WINEPATH}"
      export WINEPATH
      ;;
    *)
      cp "$QX_CARD_SIM" "$work/card-reader/libqxic.so"
      LD_LIBRARY_PATH="$work/card-reader${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
      export LD_LIBRARY_PATH
      ;;
  esac
fi
mkdir "$work/dialog"
ln -s "$here/../support/fake-zenity.sh" "$work/dialog/zenity"
QX_SCENARIO_PORTS=$ports QX_FAKE_DIALOG_DIR=$work/dialog PATH=$work/dialog:$PATH DISPLAY=:qx-test \
  "$@"
