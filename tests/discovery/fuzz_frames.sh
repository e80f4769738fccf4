#!/usr/bin/env bash
# Builds the frame / report-answer fuzzer with clang's libFuzzer and runs it
# for a bounded time. Exits 77 (skip) when no clang with libFuzzer is there.
#   fuzz_frames.sh <source dir> <work dir> <seconds>
set -u
src=$1 work=$2 seconds=${3:-15}
cxx=$(command -v clang++-14 || command -v clang++ || true)
[ -n "$cxx" ] || { echo "SKIP: clang++ not found"; exit 77; }
qtinc=$(pkg-config --cflags Qt6Core Qt6Gui Qt6Network 2>/dev/null || echo "-I/usr/include/x86_64-linux-gnu/qt6 -I/usr/include/x86_64-linux-gnu/qt6/QtCore -I/usr/include/x86_64-linux-gnu/qt6/QtGui -I/usr/include/x86_64-linux-gnu/qt6/QtNetwork")
qtlib=$(pkg-config --libs Qt6Core Qt6Gui Qt6Network 2>/dev/null || echo "-lQt6Network -lQt6Gui -lQt6Core")
mkdir -p "$work/corpus"
bin="$work/fuzz_frames"
# shellcheck disable=SC2086
if ! "$cxx" -std=c++17 -g -O1 -fPIC -fsanitize=fuzzer,address,undefined \
        -I"$src/clock" $qtinc \
        "$src/tests/discovery/fuzz_frames.cpp" "$src/clock/statusreport.cpp" "$src/clock/clockstate.cpp" \
        "$src/clock/frame.cpp" $qtlib -o "$bin" 2>"$work/build.log"; then
    if grep -qi "fuzzer" "$work/build.log" && grep -qiE "cannot find|not found|unsupported" "$work/build.log"; then
        echo "SKIP: clang has no libFuzzer here"; cat "$work/build.log"; exit 77
    fi
    cat "$work/build.log"; exit 1
fi
# Seeds: first byte even = frame check (second byte: mask of accepted types),
# odd = report-answer check.
id='3f1c2a9e-55d0-4b7e-9a61-0c2d4e6f8a10'
body="{\"id\":\"$id\",\"ok\":true}"
printf '\001TAVR\001\005\000%b%s' "\\$(printf '%03o' ${#body})" "$body" >"$work/corpus/seed-answer"
printf '\000\377TAVR\001\003\000\002{}' >"$work/corpus/seed-frame"
printf '\000\020TAVR\001\005\000\000' >"$work/corpus/seed-empty"
exec "$bin" -artifact_prefix="$work/" -max_total_time="$seconds" -max_len=1100 -timeout=10 -rss_limit_mb=1024 "$work/corpus"
