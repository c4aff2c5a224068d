#!/usr/bin/env bash
# The installed package as an application uses it: installs the build tree's KVplus into a
# scratch prefix, builds examples/minimal against it with CMake (find_package) and with
# pkg-config, and runs both offscreen on a generated sample database; each must print the order
# it searched for.
#   installed_package.sh SOURCE_DIR BUILD_DIR [SANITIZE=ON|OFF]
set -euo pipefail
SRC=$1
BUILD=$2
SANITIZE=${3:-OFF}
WORK=$(mktemp -d /tmp/kvplus-install.XXXXXX)
trap 'rm -rf "$WORK"' EXIT

cmake --install "$BUILD" --prefix "$WORK/prefix" >/dev/null

echo "== installed headers: the public ones and the forms' ui_ headers, nothing else"
installed=$(cd "$WORK/prefix/include/KVplus" && ls | sort)
wanted=$( (grep -v '^#' "$SRC/KVplus/PublicHeaders.txt"; echo ui_ExportBox.h; echo ui_SearchDialogBox.h) | sort)
if [ "$installed" != "$wanted" ]; then
  diff <(echo "$wanted") <(echo "$installed") || true
  echo "the installed headers differ from KVplus/PublicHeaders.txt" >&2
  exit 1
fi
flags=()
[ "$SANITIZE" = ON ] && flags=(-fsanitize=address,undefined -fno-omit-frame-pointer)
"$BUILD/demo/gensample" --out "$WORK/db" >/dev/null 2>&1

check() {  # a run must print the order searched for
  local out
  out=$("$@" --offscreen --order 1100 "$WORK/db")
  echo "$out"
  grep -q '^OrderNo=1100 ' <<<"$out"
}

echo "== find_package(KVplus)"
cmake -S "$SRC/examples/minimal" -B "$WORK/app" -G Ninja -DCMAKE_PREFIX_PATH="$WORK/prefix" \
  -DCMAKE_CXX_FLAGS="${flags[*]}" -DCMAKE_EXE_LINKER_FLAGS="${flags[*]}" >/dev/null
cmake --build "$WORK/app" >/dev/null
check "$WORK/app/minimal"

echo "== pkg-config kvplus"
pc=$(dirname "$(find "$WORK/prefix" -name kvplus.pc | head -1)")
export PKG_CONFIG_PATH=$pc
if grep -Eq -- '-std=|-fPIC' <<<"$(pkg-config --cflags kvplus)"; then
  echo "kvplus.pc imposes compiler flags: $(pkg-config --cflags kvplus)" >&2
  exit 1
fi
# shellcheck disable=SC2046
c++ -std=c++20 "${flags[@]}" -I"$SRC/examples/minimal/include" $(pkg-config --cflags kvplus) \
  "$SRC/examples/minimal/main.cpp" \
  -o "$WORK/minimal-pc" $(pkg-config --libs kvplus) -Wl,-rpath,"$(pkg-config --variable=libdir kvplus)"
check "$WORK/minimal-pc"
