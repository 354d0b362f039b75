#!/bin/sh
# Fails (status 1) when a C++ file of the repository is not laid out as
# .clang-format says, naming each such file; 0 when all are. With file
# arguments, checks only those. Needs clang-format-14 (scripts/install_deps.sh
# installs it). To fix a file: clang-format-14 -i FILE.
set -eu

cd "$(dirname "$0")/.."
CLANG_FORMAT=${CLANG_FORMAT:-clang-format-14}
if ! command -v "$CLANG_FORMAT" >/dev/null 2>&1; then
    echo "check_format: $CLANG_FORMAT not found (sh scripts/install_deps.sh)" >&2
    exit 2
fi

list=$(mktemp)
if [ "$#" -gt 0 ]; then
    printf '%s\n' "$@" >"$list"
else
    git ls-files '*.cpp' '*.h' '*.c' '*.cc' '*.hpp' >"$list"
fi

# One clang-format run for all files: each misplaced token is reported as
# "FILE:LINE:COL: error: code should be clang-formatted".
report=$(mktemp)
trap 'rm -f "$list" "$report"' EXIT
status=0
tr '\n' '\0' <"$list" | xargs -0 "$CLANG_FORMAT" --style=file --dry-run --Werror \
    >/dev/null 2>"$report" || status=$?
unformatted=$(sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: code should be clang-formatted.*/\1/p' "$report" |
    sort -u)
if [ "$status" -ne 0 ] && [ -z "$unformatted" ]; then
    cat "$report" >&2  # clang-format failed for another reason
    exit 2
fi
bad=0
for file in $unformatted; do
    echo "not formatted: $file" >&2
    bad=$((bad + 1))
done

if [ "$bad" -ne 0 ]; then
    echo "check_format: $bad file(s) differ from .clang-format (clang-format-14 -i FILE fixes one)" >&2
    exit 1
fi
echo "check_format: $(wc -l <"$list") files formatted"
