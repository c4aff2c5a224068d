#!/usr/bin/env bash
# The CTest fixture of the database tests when ctest runs alone: starts a private PostgreSQL
# server (tools/pgcluster) and writes its URI to FILE, where the tests read it; "stop" stops it
# and removes FILE. Under ./run test the server is already there (KV_TEST_PG) and this does
# nothing.
#   test_server.sh start|stop SOURCE_DIR FILE
set -euo pipefail
cmd=$1 src=$2 file=$3
[ -z "${KV_TEST_PG:-}" ] || exit 0
case "$cmd" in
  start)
    if [ -f "$file" ]; then
      "$src/tools/pgcluster" stop "$(sed -n 's/.*host=//p' "$file")" || true
    fi
    uri=$("$src/tools/pgcluster" start)
    echo "$uri" >"$file"
    ;;
  stop)
    [ -f "$file" ] || exit 0
    "$src/tools/pgcluster" stop "$(sed -n 's/.*host=//p' "$file")"
    rm -f "$file"
    ;;
esac
