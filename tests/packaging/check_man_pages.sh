#!/usr/bin/env bash
# check_man_pages.sh GROFF PAGE...: fails when groff warns about a page or
# when a page lacks its NAME section or names a section that does not match
# its file name.
set -uo pipefail
groff=$1; shift
status=0
for page in "$@"; do
  name=$(basename "$page")
  warnings=$(LC_ALL=C.UTF-8 "$groff" -t -man -ww -z -Tutf8 "$page" 2>&1)
  if [ -n "$warnings" ]; then
    echo "$name: $warnings" >&2; status=1
  fi
  th=$(grep -m1 '^\.TH ' "$page")
  section=$(awk '{print $3}' <<<"$th")
  [ "${name##*.}" = "$section" ] || { echo "$name: .TH says section '$section'" >&2; status=1; }
  grep -q '^\.SH NAME$' "$page" || { echo "$name: no NAME section" >&2; status=1; }
  text=$(LC_ALL=C.UTF-8 MANWIDTH=80 "$groff" -t -man -Tutf8 "$page" 2>/dev/null | wc -l)
  [ "$text" -gt 10 ] || { echo "$name: renders to $text lines" >&2; status=1; }
done
[ $status -eq 0 ] && echo "$# pages ok"
exit $status
