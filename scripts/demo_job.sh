# Sourced by run.sh and screenshot.sh: make_demo_job FOLDER writes the demo job there and sets
# code, font1 and font2 to its files: a 128 KiB code image booting at 0x8000 (version
# 0x1234), a 64 KiB font with its address in its name, and a firmware-like 128 KiB font
# (data, then 0xFF padding).

# Writes the little-endian bytes of value (width bytes) at offset into file.
put_le() {
    local file=$1 offset=$2 value=$3 width=$4 bytes="" i
    for ((i = 0; i < width; i++)); do
        bytes+=$(printf '\\x%02x' $(((value >> (8 * i)) & 0xFF)))
    done
    printf "$bytes" | dd of="$file" bs=1 seek="$offset" conv=notrunc status=none
}

make_demo_job() {
    local folder=$1
    code=$folder/demo_code.bin
    font1=$folder/demo_font1_0x200000.bin
    font2=$folder/demo_font2.bin
    head -c 131072 /dev/urandom >"$code"
    put_le "$code" $((131072 - 20)) 0x1234 2
    put_le "$code" $((131072 - 16)) 0x8000 4
    head -c 65536 /dev/urandom >"$font1"
    { head -c 20000 /dev/urandom; head -c $((131072 - 20000)) /dev/zero | tr '\0' '\377'; } >"$font2"
}

# compare_flash DUMP FILE ADDRESS OFFSET [FILE ADDRESS OFFSET ...]: compares a phone's flash
# dump with images, each FILE from OFFSET to its end standing at ADDRESS; prints one line per
# image and fails when one differs.
compare_flash() {
    local dump=$1 status=0 file address offset length
    shift
    while (($#)); do
        file=$1 address=$2 offset=$3
        shift 3
        length=$(($(stat -c %s "$file") - offset))
        if cmp -s -n "$length" "$file" "$dump" "$offset" "$address"; then
            printf '  flash 0x%08X..0x%08X = %s\n' "$address" $((address + length)) "${file##*/}"
        else
            printf '  flash 0x%08X differs from %s\n' "$address" "${file##*/}"
            status=1
        fi
    done
    return $status
}

# check_phone_flashes DUMP_PREFIX [COUNT]: compares the flash dumps DUMP_PREFIX.COM65 ... .COM72
# that exist with the demo job's code image and font 1; prints one line per phone, fails on a
# difference or when fewer than COUNT phones were written. Sets flashed to the number found.
check_phone_flashes() {
    local prefix=$1 expected=${2:-0} n dump
    flashed=0
    for n in $(seq 65 72); do
        dump=$prefix.COM$n
        [[ -f $dump ]] || continue
        flashed=$((flashed + 1))
        if cmp -s -n $((131072 - 0x8000)) "$code" "$dump" 0x8000 0x8000 &&
            cmp -s -n 65536 "$font1" "$dump" 0 0x200000; then
            echo "  COM$n: flash = ${code##*/} at 0x8000, ${font1##*/} at 0x200000"
        else
            echo "the flash of the phone on COM$n does not match the images" >&2
            return 1
        fi
    done
    if ((flashed < expected)); then
        echo "only $flashed of $expected phones were written" >&2
        return 1
    fi
}

# wait_for_phones OUTPUT COUNT: waits until the simulated phones program writing OUTPUT has
# printed COUNT phones (each phone's line comes once it is registered); fails after 5 s.
wait_for_phones() {
    local i
    for i in $(seq 100); do
        (($(grep -c '^COM' "$1" 2>/dev/null || true) >= $2)) && return 0
        sleep 0.05
    done
    cat "$1" >&2
    return 1
}
