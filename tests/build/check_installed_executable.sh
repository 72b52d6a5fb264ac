#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks the executable there.
# Arguments: cmake, build dir, scratch prefix, bin dir, hardened (ON/OFF),
# fortified (ON/OFF).
set -euo pipefail
cmake_command=$1 build_dir=$2 prefix=$3 bindir=$4 hardened=$5 fortified=$6

rm -rf "$prefix"
"$cmake_command" --install "$build_dir" --prefix "$prefix" >/dev/null
exe="$prefix/$bindir/nvmepcissd"
fail=0
check() {  # description, command...
  local what=$1; shift
  if "$@" >/dev/null 2>&1; then echo "ok:   $what"; else echo "FAIL: $what"; fail=1; fi
}

check "installed at $bindir/nvmepcissd and executable" test -x "$exe"
if [ "$hardened" = ON ]; then
  check "position-independent executable" bash -c "readelf -h '$exe' | grep -q 'Type: *DYN'"
  check "RELRO segment" bash -c "readelf -lW '$exe' | grep -q GNU_RELRO"
  check "bound now (full RELRO)" bash -c "readelf -dW '$exe' | grep -Eq 'FLAGS.*(BIND_NOW| NOW)'"
  check "stack protector" bash -c "readelf -sW --dyn-syms '$exe' | grep -q __stack_chk_fail"
  if [ "$fortified" = ON ]; then
    check "fortified libc calls" bash -c "readelf -sW --dyn-syms '$exe' | grep -Eq '__[a-z]+_chk'"
  fi
fi
rm -rf "$prefix"
exit $fail
