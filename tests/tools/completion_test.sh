#!/usr/bin/env bash
# The completion scripts: valid bash, and offering exactly the long options
# each tool's --help lists. Usage: completion_test.sh DIR TOOL...
set -u
dir=$1
shift
failures=0
for tool in "$@"; do
    name=$(basename "$tool")
    script="$dir/$name"
    if ! bash -n "$script"; then
        echo "FAIL: $script is not valid bash"
        failures=$((failures + 1))
        continue
    fi
    grep -q "complete -F .* $name\$" "$script" || { echo "FAIL: $script does not register $name"; failures=$((failures + 1)); }
    helped=$("$tool" --help | grep -o -- '--[a-z][a-z-]*' | sort -u)
    offered=$(grep -o -- '--[a-z][a-z-]*' "$script" | sort -u)
    if [ "$helped" != "$offered" ]; then
        echo "FAIL: $name: --help and completion differ:"
        diff <(echo "$helped") <(echo "$offered")
        failures=$((failures + 1))
    fi
done
[ "$failures" -eq 0 ] && echo "all passed"
exit $((failures != 0))
