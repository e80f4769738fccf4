#!/usr/bin/env bash
# Builds the datagram fuzzer with clang's libFuzzer and runs it for a bounded
# time; findings stay in the work folder. 77 (skip) without clang's libFuzzer.
#   fuzz_wire.sh <source dir> <work dir> <seconds>
set -u
src=$1 work=$2 seconds=${3:-10}
cxx=$(command -v clang++-14 || command -v clang++) || { echo "SKIP: clang++ not found"; exit 77; }
mkdir -p "$work/corpus"
# shellcheck disable=SC2046
if ! "$cxx" -std=c++17 -g -O1 -fPIC -fsanitize=fuzzer,address,undefined -I"$src/clock" -I"$src/discovery" \
        $(pkg-config --cflags Qt6Core Qt6Gui Qt6Network) "$src/tests/discovery/fuzz_wire.cpp" \
        "$src"/clock/{frame,statusreport,clockstate}.cpp "$src/discovery/discoverymessages.cpp" \
        $(pkg-config --libs Qt6Core Qt6Gui Qt6Network) -o "$work/fuzz_wire" 2>"$work/build.log"; then
    cat "$work/build.log"
    grep -qi "fuzzer" "$work/build.log" && { echo "SKIP: no libFuzzer"; exit 77; }
    exit 1
fi
body='{"nonce":"9f3a11c2","id":"3f1c2a9e-55d0-4b7e-9a61-0c2d4e6f8a10","name":"n","stratum":1}'
length=$(printf '\\%03o' ${#body})
# Seeds: a well-formed report answer and discovery answer.
printf "\\005TAVR\\001\\005\\000${length}%s" "$body" >"$work/corpus/seed-report"
printf "\\003TAVR\\001\\003\\000${length}%s" "$body" >"$work/corpus/seed-answer"
exec "$work/fuzz_wire" -max_total_time="$seconds" -max_len=1100 -timeout=10 -rss_limit_mb=1024 \
    -artifact_prefix="$work/" "$work/corpus"
