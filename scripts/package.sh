#!/usr/bin/env bash
# Builds the Debian package of Parlivo (build/package/parlivo_<version>_<arch>.deb) with CPack:
# a release build without the tests, installed under /usr, its library dependencies found by
# dpkg-shlibdeps. Install it with: sudo apt-get install ./build/package/parlivo_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DPARLIVO_TESTS=OFF -DPARLIVO_WERROR=ON >/dev/null
cmake --build build/package -j2
rm -f build/package/parlivo_*.deb
(cd build/package && cpack -G DEB >/dev/null)
ls build/package/parlivo_*.deb
