#!/bin/sh
# Runs a program for help2man: its output as it is, except that a usage
# block of several forms, each wrapped over indented lines, becomes one line
# per form, the later forms as "or:" lines (the only layout help2man reads).
# The program is the one beside this script's name in TOVIK_PROGRAM.
"$TOVIK_PROGRAM" "$@" | awk '
    /^Usage: / { usage = 1; form = $0; next }
    usage && /^ +[^ ]/ {
        line = $0
        sub(/^ +/, "", line)
        if ($0 ~ /^       [a-z]/ && match($0, /^ +/) && RLENGTH == 7) { print form; form = "  or: " line }
        else form = form " " line
        next
    }
    usage { print form; usage = 0 }
    { print }
    END { if (usage) print form }
'
