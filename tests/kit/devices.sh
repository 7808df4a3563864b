# Sourced by the end-to-end test scripts: devices of the test's own, to aim outputs at.
#   devices DIR      sets $null and $full to a null device and a full one inside DIR
#   devices_intact   fails (status 1, naming it) when one of them is a device no more
# A test that aims an output at /dev/null or /dev/full names the machine's device: a program
# that replaced its target would break every later run on the machine. These are nodes made in
# the test's own folder (as root, on a file system that allows devices), so that such a fault
# costs only them and the test sees it. Where they cannot be made, the machine's are used, after
# a check that they are still the devices they should be.
devices() {
    local name numbers
    for name in null:1:3 full:1:7; do
        numbers="${name#*:}"
        name="${name%%:*}"
        if mknod -m 666 "$1/$name" c "${numbers%:*}" "${numbers#*:}" 2> /dev/null && : 2> /dev/null > "$1/$name"; then
            printf -v "$name" '%s' "$1/$name"
        elif [ -c "/dev/$name" ]; then
            printf -v "$name" '%s' "/dev/$name"
        else
            echo "FAIL: /dev/$name is no longer a device: something run before this test replaced it" >&2
            return 1
        fi
    done
}

devices_intact() {
    local device
    for device in "$null" "$full"; do
        [ -c "$device" ] || { echo "FAIL: $device was replaced by a $(stat -c %F "$device" 2>&1)" >&2; return 1; }
    done
}
