#!/usr/bin/env bash
# Every code name written in backticks in README.md and docs/*.md must exist in the code: a
# name of a class, function, field or constant (CamelCase, or with an underscore) that no
# source, script or build file holds any more is a document that went stale.
set -euo pipefail
cd "$(dirname "$0")/../.."
docs=(README.md docs/*.md)
# Names of the Windows registry and of USB devices, which are not ours to keep.
outside='^(CurrentControlSet|IgnoreHWSerNum[0-9A-Fa-f]*|VID_[0-9A-Fa-f]+|PID_[0-9A-Fa-f]+)$'
files=$(git ls-files)
missing=0
while IFS= read -r name; do
    [[ $name =~ $outside ]] && continue
    # A name is found in a source, script or build file, or is part of a file's name.
    grep -qF -e "$name" <<<"$files" && continue
    if ! git grep -qF -e "$name" -- ':!*.md' ':!docs/' 2>/dev/null; then
        echo "check_names: \`$name\` is named in the documents but not found in the code" >&2
        missing=$((missing + 1))
    fi
done < <(grep -oh '`[^`]*`' "${docs[@]}" | tr -d '`' |
    grep -oE '[A-Za-z_][A-Za-z0-9_]*' |
    grep -E '^[A-Z]?[a-z0-9]+[A-Z][A-Za-z0-9]*$|^[A-Z][A-Za-z0-9]*[a-z][A-Z][A-Za-z0-9]*$|^[A-Za-z][A-Za-z0-9]*_[A-Za-z0-9_]*[a-z0-9][A-Za-z0-9_]*$' |
    sort -u)
echo "check_names: $missing missing"
((missing == 0))
