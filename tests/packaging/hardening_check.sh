#!/usr/bin/env bash
# hardening_check.sh FILE...: every built library and program carries the
# default hardening of the plain build (stack protector, _FORTIFY_SOURCE,
# full RELRO with immediate binding, PIE for programs, stack clash and
# control-flow protection), as Debian's hardening-check sees it. Exit status
# 77 means "skipped" (hardening-check, from devscripts, is missing).
set -euo pipefail
command -v hardening-check >/dev/null || { echo "SKIP: hardening-check (devscripts) is not installed"; exit 77; }
[ $# -gt 0 ] || { echo "usage: $0 FILE..." >&2; exit 64; }
rc=0
for f in "$@"; do
  [ -f "$f" ] || { echo "FAIL: $f is not built" >&2; rc=1; continue; }
  # Control-flow protection is compiled in (-fcf-protection), but the
  # linker marks a file only when every object in it is marked, and the C
  # library's start files of the distribution are not: not required. A file
  # without a function _FORTIFY_SOURCE could protect, or without code stack
  # clash protection applies to, is reported "unknown", which passes.
  if ! out=$(hardening-check --nocfprotection "$f" 2>&1); then
    echo "$out"
    echo "FAIL: $(basename "$f") is not hardened" >&2
    rc=1
  else
    echo "$out"
  fi
done
exit $rc
