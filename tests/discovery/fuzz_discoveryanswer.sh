#!/usr/bin/env bash
# Builds the discovery answer fuzzer with clang's libFuzzer and runs it for a
# bounded time. Exits 77 (skip) when no clang with libFuzzer is available.
#   fuzz_discoveryanswer.sh <source dir> <work dir> <seconds>
set -u
src=$1 work=$2 seconds=${3:-15}
cxx=$(command -v clang++-14 || command -v clang++ || true)
[ -n "$cxx" ] || { echo "SKIP: clang++ not found"; exit 77; }
qtinc=$(pkg-config --cflags Qt6Core Qt6Network 2>/dev/null || echo "-I/usr/include/x86_64-linux-gnu/qt6 -I/usr/include/x86_64-linux-gnu/qt6/QtCore -I/usr/include/x86_64-linux-gnu/qt6/QtNetwork")
qtlib=$(pkg-config --libs Qt6Core Qt6Network 2>/dev/null || echo "-lQt6Network -lQt6Core")
mkdir -p "$work/corpus"
bin="$work/fuzz_discoveryanswer"
# shellcheck disable=SC2086
if ! "$cxx" -std=c++17 -g -O1 -fPIC -fsanitize=fuzzer,address,undefined \
        -I"$src/discovery" -I"$src/clock" $qtinc \
        "$src/tests/discovery/fuzz_discoveryanswer.cpp" "$src/discovery/discoverymessages.cpp" \
        "$src/clock/frame.cpp" $qtlib -o "$bin" 2>"$work/build.log"; then
    if grep -qi "fuzzer" "$work/build.log" && grep -qiE "cannot find|not found|unsupported" "$work/build.log"; then
        echo "SKIP: clang has no libFuzzer here"; cat "$work/build.log"; exit 77
    fi
    cat "$work/build.log"; exit 1
fi
# A few seeds so the fuzzer starts from well-formed frames.
printf 'TAVR\001\002\000\002{}' >"$work/corpus/seed-empty"
body='{"nonce":"9f3a11c2","id":"a","name":"n","stratum":1,"clients":2,"synced":true}'
printf 'TAVR\001\003\000%b%s' "\\$(printf '%03o' ${#body})" "$body" >"$work/corpus/seed-full"
# Findings stay in the work directory, not wherever ctest runs.
exec "$bin" -max_total_time="$seconds" -max_len=1100 -timeout=10 -rss_limit_mb=1024 \
    -artifact_prefix="$work/" "$work/corpus"
