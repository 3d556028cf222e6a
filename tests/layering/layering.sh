#!/usr/bin/env bash
# Fails when a file of a lower layer includes a header of a higher one. The layers and what each
# may include mirror the targets in src/CMakeLists.txt; linking enforces part of this already
# (the engine cannot reach a widget header), the include lines show the rest.
set -euo pipefail
src=${1:?usage: layering.sh SRC_DIR}
cd "$src"

layer_of() {
    case "$1" in
    base/*) echo base ;;
    geo/*) echo geo ;;
    net/*) echo net ;;
    store/*) echo store ;;
    components/sac/*) echo sac ;;
    components/SeismicOrigin.h | components/AvailableChannel.h) echo records ;;
    components/*) echo components ;;
    channels/groundswayController_* | acquisition/groundswayController_* | \
        processing/groundswayController_*) echo app ;;
    channels/* | acquisition/* | processing/* | events/EventContext.* | display/DrumSession.*) echo engine ;;
    *) echo app ;;
    esac
}

allowed() { # layer of the including file, layer of the included header
    case "$1:$2" in
    *:base | sac:sac | net:net | store:store | records:records | geo:geo) return 0 ;;
    components:geo | engine:geo) return 0 ;;
    components:net | components:store | components:sac | components:records | \
        components:components) return 0 ;;
    engine:net | engine:store | engine:sac | engine:records | engine:engine) return 0 ;;
    app:*) return 0 ;;
    esac
    return 1
}

# The folders of src/: an include naming one of them is a project include, whatever its form.
folders=$(find . -mindepth 1 -maxdepth 1 -type d | sed 's|^\./||' | paste -sd '|')
status=0
while IFS= read -r -d '' file; do
    from=$(layer_of "$file")
    while IFS= read -r header; do
        to=$(layer_of "$header")
        # The SAC core and the geography take only the header-only calendar from base.
        if { [ "$from" = sac ] || [ "$from" = geo ]; } && [ "$to" = base ] &&
            [ "$header" != base/Time.h ]; then
            echo "$file: the SAC core may include only base/Time.h from base, not $header"
            status=1
        elif ! allowed "$from" "$to"; then
            echo "$file ($from) includes $header ($to), a higher layer"
            status=1
        fi
    done < <(sed -nE "s/^[[:space:]]*#[[:space:]]*include[[:space:]]*[\"<]($folders)\/([^\">]*)[\">].*/\1\/\2/p" "$file")
    # Every project include is written by path from src/, in quotes, never climbing with "../".
    if grep -qE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^/"]+\.h"' "$file" &&
        [[ "$file" != app/WindowLayout.cpp ]]; then
        grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^/"]+\.h"' "$file" |
            sed "s|^|$file: not by path: |"
        status=1
    fi
    if grep -qE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[\"<](\.\./|\./)" "$file"; then
        grep -nE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[\"<](\.\./|\./)" "$file" |
            sed "s|^|$file: a relative path: |"
        status=1
    fi
    if grep -qE "^[[:space:]]*#[[:space:]]*include[[:space:]]*<($folders)/" "$file"; then
        grep -nE "^[[:space:]]*#[[:space:]]*include[[:space:]]*<($folders)/" "$file" |
            sed "s|^|$file: a project header in <>: |"
        status=1
    fi
done < <(find . -name '*.h' -o -name '*.cpp' | sed 's|^\./||' | tr '\n' '\0')
[ "$status" = 0 ] && echo "layering: every include goes down or sideways"
exit "$status"
