#!/usr/bin/env bash
# Checks that the folders of src/ include only downward, in this order of layers:
#   common -> storage -> dialogs -> reminders | notepad | settings -> search | sync -> shell (-> main.cpp)
# A folder includes from its own folder and from lower layers only; the three subsystem
# folders never include each other. Inside a subsystem folder the tab's page (*Page.*) sits
# above the stores and dialogs: nothing but a page includes a page. The headers named by
# forms (.ui custom widgets) count as includes. Prints every include that breaks the order.
set -euo pipefail
cd "$(dirname "$0")/../src"

rank() {
    case "$1" in
    common) echo 0 ;;
    storage) echo 1 ;;
    dialogs) echo 2 ;;
    reminders | notepad | settings) echo 3 ;;
    search | sync) echo 4 ;; # across the subsystems: searches them, carries them to a server
    shell) echo 5 ;;
    .) echo 6 ;; # main.cpp
    *) echo -1 ;;
    esac
}

is_page() { [[ "$(basename "$1")" == *Page.* ]]; }

failures=0
fail() {
    echo "$1: $2"
    failures=$((failures + 1))
}

while IFS= read -r file; do
    folder=$(dirname "$file")
    folder=${folder#./}
    own=$(rank "$folder")
    if [ "$own" -lt 0 ]; then
        fail "$file" "folder '$folder' has no place in the layers"
        continue
    fi
    # "x/y.h" from #include lines, and <header>x/y.h</header> from forms.
    { grep -hoE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[^"]+"' "$file" |
        sed -E 's/.*"([^"]+)"/\1/' || true
      grep -hoE '<header>[^<]+</header>' "$file" | sed -E 's#</?header>##g' || true
    } | while IFS= read -r target; do
        case "$target" in
        ui_*.h) continue ;; # the file's own generated form
        */*) to=${target%%/*} ;;
        *) to=$folder ;;
        esac
        # A name without a folder is a file of the same folder.
        [ "$to" = "$folder" ] && target_file="$folder/${target##*/}" || target_file=$target
        if [ ! -e "$target_file" ]; then
            echo "$file: includes $target, which is not in src/"
            continue
        fi
        theirs=$(rank "$to")
        if [ "$to" != "$folder" ] && [ "$theirs" -ge "$own" ]; then
            echo "$file: includes $target (layer $to is not below $folder)"
        elif is_page "$target_file" && ! is_page "$file" && [ "$folder" != shell ] &&
            [ "$folder" != . ]; then
            echo "$file: includes the page $target"
        fi
    done > /tmp/check-includes.$$ || true
    if [ -s /tmp/check-includes.$$ ]; then
        cat /tmp/check-includes.$$
        failures=$((failures + $(wc -l < /tmp/check-includes.$$)))
    fi
    rm -f /tmp/check-includes.$$
done < <(find . -name '*.h' -o -name '*.cpp' -o -name '*.ui' | sed 's#^\./##' | sort)

if [ "$failures" -gt 0 ]; then
    echo "check-includes: $failures include(s) against the order of layers"
    exit 1
fi
echo "check-includes: every include goes downward"
