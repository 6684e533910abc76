#!/usr/bin/env bash
# packaging/deb/build.sh OUTDIR: builds the Debian packages of this source
# tree with dpkg-buildpackage (debian/ folder) and leaves the .deb files
# (with the -dbgsym packages, .buildinfo and .changes) in OUTDIR.
#
# The build dependencies come from debian/control; install them first with
#   apt-get build-dep ./
# The tree is copied to a scratch folder first, since dpkg-buildpackage
# writes its results beside the source folder and its build folder into it.
set -euo pipefail
out=${1:?usage: packaging/deb/build.sh OUTDIR}
here=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$out"
out=$(cd "$out" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/pnlmon-deb.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

mkdir "$scratch/pnlmon"
# Everything but version control and build folders of the developer.
tar -C "$here" --exclude=./.git --exclude='./build*' --exclude='./obj-*' \
    --exclude=./debian/.debhelper --exclude='./debian/tmp' -cf - . |
  tar -C "$scratch/pnlmon" -xf -

export DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:-parallel=$(nproc)}"
(cd "$scratch/pnlmon" && dpkg-buildpackage -b -us -uc)
# Only the files this build made (the list is in the .changes file).
changes=$(ls "$scratch"/*.changes)
cp "$changes" "$out/"
awk '/^Files:/ {f=1; next} /^[^ ]/ {f=0} f {print $5}' "$changes" |
  while read -r f; do cp "$scratch/$f" "$out/"; done
ls "$out"
