#!/bin/sh
# Builds the Debian package for the package tests into a folder of their own and unpacks it
# there into root/. Arguments: cpack, the build folder, the output folder, the package's name.
set -eu
cpack=$1 build=$2 out=$3 deb=$4
rm -rf "$out"
"$cpack" --config "$build/CPackConfig.cmake" -B "$out"
dpkg-deb -x "$out/$deb" "$out/root"
