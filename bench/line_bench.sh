#!/usr/bin/env bash
# bench/line_bench.sh [VARDEL_CLI]
# `vardel-cli program` over a simulated line of 32 and of 247 KX-3 meters
# (and 255 KX-4 with --kx4), each run a separate process as a production
# line starts it: the card time, the wall and CPU time, CPU per meter, peak
# memory (also per meter above the 32-meter run) and the state file's size.
# Build without sanitizers (Release) for figures worth comparing.
set -euo pipefail
cli=${1:-build-rel/bin/vardel-cli}
kx4=no
[ "${2:-}" = --kx4 ] && kx4=yes
cli=$(realpath "$cli")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

network() { # MODEL COUNT FIRST > file
    echo "[karta]"
    for ((a = $3; a < $3 + $2; a++)); do
        printf '\n[miernik]\nmodel=%s\nadres=%d\nbaud=4\n' "$1" "$a"
    done
}

run() { # LABEL MODEL COUNT FIRST
    local label=$1 model=$2 count=$3 first=$4 tag
    tag=${model//-/}
    network "$model" "$count" "$first" > "$label.txt"
    "$cli" --sim-state "$label.txt" --model "$model" --meter-address "$first" read -o "cfg.$tag" >/dev/null
    # Every meter gets something new: the first input's scaling.
    sed -i '19s/.*/ 123.5/' "cfg.$tag"
    /usr/bin/time -f '%U %S %e %M' -o "$label.time" \
        "$cli" --sim-state "$label.txt" --model "$model" program "cfg.$tag" \
        --addresses "$first-$((first + count - 1))" --eeprom --verify >"$label.out" 2>"$label.err"
    read -r user sys wall peak < "$label.time"
    local card
    card=$(grep -o 'czas karty[^)]*' "$label.err" | tail -1 || true)
    printf '%-10s meters %3d  ok %3d  wall %7.2f s  cpu %7.2f s  cpu/meter %6.1f ms  peak %7d KiB  state file %7d B  %s\n' \
        "$label" "$count" "$(grep -c 'zaprogramowano' "$label.out" || true)" "$wall" "$(echo "$user + $sys" | bc)" \
        "$(echo "($user + $sys) * 1000 / $count" | bc -l)" "$peak" "$(stat -c %s "$label.txt")" "$card"
    eval "cpu_$label=$(echo "$user + $sys" | bc)"
    eval "peak_$label=$peak"
}

run kx3_32 KX-3 32 1
run kx3_247 KX-3 247 1
echo "CPU per meter, 247 against 32: $(echo "($cpu_kx3_247 / 247) / ($cpu_kx3_32 / 32)" | bc -l | cut -c1-5) (at most 1.5)"
echo "Peak memory per meter above the 32-meter run: $(echo "($peak_kx3_247 - $peak_kx3_32) / (247 - 32)" | bc -l | cut -c1-6) KiB (under 16)"
if [ "$kx4" = yes ]; then
    run kx4_255 KX-4 255 0
fi
