#!/bin/sh
# The dynamic symbols each shared library defines must be exactly the functions its public headers
# declare: ppavl_*.h for libpavlin, ptelm*.h for libtelmar. The compiler lists the declarations
# (-aux-info), so the headers are read as the compiler reads them, macros and all.
# Usage: check_exports.sh <c-compiler> <nm> <public-include-dir> <libpavlin.so> <libtelmar.so>
set -eu
cc=$1 nm=$2 inc=$3 pavlin=$4 telmar=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for h in "$inc"/*.h; do
    printf '#include "%s"\n' "$(basename "$h")"
done > "$work/all.c"
"$cc" -std=c11 -fsyntax-only -aux-info "$work/decls" -I"$inc" "$work/all.c"

# "/* <file>:<line>:NC */ extern <type> <name> (<params>);" for each declaration; definitions in a
# header (static inline) are not exports and carry no "extern".
declared() {
    awk -v dir="$inc/" -v prefix="$1" '
        $1 == "/*" && $3 == "*/" && $4 == "extern" {
            file = $2; sub(/:[0-9]+:N[CF]$/, "", file)
            if (index(file, dir) != 1) next
            base = substr(file, length(dir) + 1)
            if (index(base, prefix) != 1 || base ~ /\//) next
            decl = $0; sub(/ *\(.*$/, "", decl); sub(/.*[ *]/, "", decl)
            print decl
        }' "$work/decls" | sort -u
}

# Defined dynamic symbols, without the linker's own markers.
exported() {
    "$nm" -D --defined-only "$1" | awk '$2 != "A" && $3 != "_init" && $3 != "_fini" { print $3 }' |
        sed 's/@.*//' | sort -u
}

status=0
check() {
    declared "$2" > "$work/$1.declared"
    exported "$3" > "$work/$1.exported"
    if [ ! -s "$work/$1.declared" ]; then
        echo "$1: no declarations found in $inc/$2*.h" >&2
        status=1
        return
    fi
    extra=$(comm -13 "$work/$1.declared" "$work/$1.exported")
    missing=$(comm -23 "$work/$1.declared" "$work/$1.exported")
    if [ -n "$extra" ]; then
        echo "$1 exports names no public header declares:"
        echo "$extra" | sed 's/^/  /'
        status=1
    fi
    if [ -n "$missing" ]; then
        echo "$1 does not export names its public headers declare:"
        echo "$missing" | sed 's/^/  /'
        status=1
    fi
    echo "$1: $(wc -l < "$work/$1.exported") exported, $(wc -l < "$work/$1.declared") declared"
}

check libpavlin ppavl_ "$pavlin"
check libtelmar ptelm "$telmar"
exit $status
