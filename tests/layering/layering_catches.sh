#!/usr/bin/env bash
# The layering check itself notices each way a higher header can be reached: quoted, in angle
# brackets, indented, and a climb with "../" (which it refuses whatever it reaches).
set -uo pipefail
src=${1:?usage: layering_catches.sh SRC_DIR}
check=$(dirname "$0")/layering.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
for line in '#include "app/Outlets.h"' '#include <display/DrumSession.h>' \
    '  #  include "acquisition/MonitorSession.h"' '#include "../base/Time.h"'; do
    rm -rf "$work/src" && cp -r "$src" "$work/src"
    printf '%s\n' "$line" >>"$work/src/store/TraceStore.cpp"
    if bash "$check" "$work/src" >/dev/null 2>&1; then
        echo "not noticed: $line"
        failed=1
    fi
done
bash "$check" "$src" >/dev/null || { echo "the tree itself fails"; failed=1; }
[ "$failed" = 0 ] && echo "layering_catches: every planted include was noticed"
exit "$failed"
