#!/usr/bin/env bash
# packaging/rpm/build.sh OUTDIR [rpmbuild options]: builds the RPM packages
# of this source tree from packaging/rpm/pnlmon.spec and leaves the .rpm
# files in OUTDIR. Extra options go to rpmbuild (for example
# "--without devtools").
#
# On an RPM distribution, install the recipe's BuildRequires first. On a
# Debian build machine (package rpm) they are Debian packages under other
# names, which rpm cannot see: there the check is skipped (--nodeps) and the
# hardening flags that an RPM distribution's own settings add are set here.
set -euo pipefail
out=${1:?usage: packaging/rpm/build.sh OUTDIR [rpmbuild options]}
shift
here=$(cd "$(dirname "$0")/../.." && pwd)
spec=$here/packaging/rpm/pnlmon.spec
version=$(sed -n 's/^Version: *//p' "$spec")
mkdir -p "$out"
out=$(cd "$out" && pwd)
top=$(mktemp -d "${TMPDIR:-/tmp}/pnlmon-rpm.XXXXXX")
trap 'rm -rf "$top"' EXIT
mkdir -p "$top"/{SOURCES,SPECS,BUILD,RPMS,SRPMS}

# The source tarball: the tree without version control and build folders.
tar -C "$here" --exclude=./.git --exclude='./build*' --exclude='./obj-*' \
    --exclude=./debian --transform "s,^\.,pnlmon-$version," \
    -czf "$top/SOURCES/pnlmon-$version.tar.gz" .

args=(--define "_topdir $top" --define "_smp_mflags -j$(nproc)")
if ! rpm -q rpm >/dev/null 2>&1; then
  # rpm is not managed by rpm: a foreign (Debian) build machine.
  args+=(--nodeps)
  # The flags the RPM distributions' own settings give every package
  # (Debian's rpm has only "-O2 -g").
  args+=(--define "optflags -O2 -g -fstack-protector-strong -fstack-clash-protection -fcf-protection -D_FORTIFY_SOURCE=2 -Wformat -Werror=format-security"
         --define "build_ldflags -Wl,-z,relro -Wl,-z,now")
  # Debian's rpm also takes the execute bit off shared libraries (Debian's
  # rule); the RPM distributions keep it, and the provider is loaded by path.
  args+=(--define "__brp_elfperms %{nil}")
  # Debian's rpm runs brp-compress (written for bash) with sh, which leaves
  # the manual pages uncompressed.
  if [ -x /usr/lib/rpm/brp-compress ]; then
    args+=(--define "__brp_compress /bin/bash /usr/lib/rpm/brp-compress %{_prefix}")
  fi
fi
rpmbuild -bb "${args[@]}" "$@" "$spec"
find "$top/RPMS" -name '*.rpm' -exec cp {} "$out/" \;
ls "$out"
