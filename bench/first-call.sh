#!/usr/bin/env bash
# ReadMapFile, WriteMapFile and the INI import as the first call of a fresh process, at 100,000
# and 1,000,000 calibrations: the best of RUNS processes each, and the growth between the sizes.
#
#   bench/first-call.sh BENCH_MAPFILE [RUNS]     e.g. bench/first-call.sh build-bench/bin/bench_mapfile 3
set -euo pipefail
bench=${1:?usage: bench/first-call.sh BENCH_MAPFILE [RUNS]}
runs=${2:-3}
for what in read write import; do
    declare -A best=()
    for n in 100000 1000000; do
        for ((r = 0; r < runs; ++r)); do
            ms=$("$bench" --first "$what" "$n" | sed -n 's/.* \([0-9.]*\) ms.*/\1/p')
            if [ -z "${best[$n]:-}" ] || awk -v a="$ms" -v b="${best[$n]}" 'BEGIN { exit !(a < b) }'; then
                best[$n]=$ms
            fi
        done
    done
    awk -v w="$what" -v a="${best[100000]}" -v b="${best[1000000]}" \
        'BEGIN { printf "%-7s 100,000: %8.1f ms   1,000,000: %9.1f ms   growth %.1fx\n", w, a, b, b / a }'
    unset best
done
