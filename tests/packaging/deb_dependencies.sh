#!/usr/bin/env bash
# Checks that the Debian package declares what its binaries load. Every ELF file
# in the package is run through ldd; each library it resolves must come from an
# installed Debian package that the package's Depends names directly (for the
# libraries the file itself lists as NEEDED) or that the Depends pulls in through
# the dependencies of installed packages (for the libraries those load in turn).
#   deb_dependencies.sh <folder holding the .deb>
set -euo pipefail
deb=$(ls "$1"/*.deb)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
self=$(dpkg-deb -f "$deb" Package)
dpkg-deb -x "$deb" "$work/root"

# Package names of a Depends-style field: versions, architectures and the bars
# between alternatives dropped (any alternative counts).
names_of() {
  sed -e 's/([^)]*)//g' -e 's/\[[^]]*\]//g' -e 's/:[a-z0-9]*//g' -e 's/[|,]/\n/g' <<<"$1" \
    | tr -d ' \t' | sed '/^$/d'
}

declare -A named=() depends_of=() providers=()
while read -r n; do named[$n]=1; done < <(names_of "$(dpkg-deb -f "$deb" Depends Pre-Depends | cut -d: -f2-)")
echo "Depends: ${!named[*]}"

# The installed packages: their dependencies and the virtual names they provide.
while IFS='#' read -r pkg status provides deps; do
  [[ $status == ii* ]] || continue
  depends_of[$pkg]="$deps"
  for v in $(names_of "$provides"); do providers[$v]+=" $pkg"; done
done < <(dpkg-query -W -f='${Package}#${db:Status-Abbrev}#${Provides}#${Depends}, ${Pre-Depends}\n')

# Everything the Depends pulls in on this machine.
declare -A reach=()
queue=("${!named[@]}")
while ((${#queue[@]})); do
  n=${queue[-1]}; unset 'queue[-1]'
  for p in $n ${providers[$n]:-}; do
    [[ -n ${reach[$p]:-} ]] && continue
    reach[$p]=1
    [[ -n ${depends_of[$p]:-} ]] && while read -r d; do queue+=("$d"); done < <(names_of "${depends_of[$p]}")
  done
done

# The Debian package a library file belongs to, also across the /lib -> /usr/lib merge.
package_of() {
  local f=$1 c
  for c in "$f" "$(readlink -f "$f")" "/usr$f" "${f#/usr}"; do
    dpkg -S "$c" 2>/dev/null | head -n1 | sed -e 's/: .*//' -e 's/:[a-z0-9]*//g' -e 's/,.*//' && return 0
  done
  return 1
}

failures=0 checked=0
libdirs=$(find "$work/root" -name '*.so*' -printf '%h\n' | sort -u | paste -sd:)
while IFS= read -r -d '' f; do
  type=$(readelf -h "$f" 2>/dev/null | awk '$1 == "Type:" { print $2 }') || true
  [[ $type == DYN || $type == EXEC ]] || continue          # not a loadable ELF file
  rel=${f#"$work/root"}
  needed=" $(readelf -d "$f" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')"
  out=$(LD_LIBRARY_PATH=$libdirs ldd "$f")
  if grep -q "not found" <<<"$out"; then
    echo "$rel: ldd cannot resolve:"; grep "not found" <<<"$out"; failures=$((failures + 1)); continue
  fi
  while read -r soname path; do
    [[ $path == "$work/root"/* ]] && continue            # a library of the package itself
    checked=$((checked + 1))
    if ! pkg=$(package_of "$path"); then
      echo "$rel: $soname ($path) belongs to no Debian package"; failures=$((failures + 1)); continue
    fi
    [[ $pkg == "$self" ]] && continue
    if [[ $needed == *" $soname "* ]]; then
      if [[ -z ${named[$pkg]:-} ]]; then
        how="does not name"
        [[ -z ${reach[$pkg]:-} ]] && how="neither names nor pulls in"
        echo "$rel needs $soname from $pkg, which Depends $how"; failures=$((failures + 1))
      fi
    elif [[ -z ${reach[$pkg]:-} ]]; then
      echo "$rel loads $soname from $pkg, which Depends does not pull in"; failures=$((failures + 1))
    fi
  done < <(sed -n -e 's/^\s*\(\S*\) => \(\/\S*\) (.*/\1 \2/p' -e 's/^\s*\(\/\S*\) (.*/\1 \1/p' <<<"$out")
  echo "$rel: checked"
done < <(find "$work/root" -type f -print0)
echo "$checked libraries checked, $failures problems"
((checked > 0)) && ((failures == 0))
