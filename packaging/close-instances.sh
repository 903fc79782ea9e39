# Asks every running instance of the program, of every user, to close through the program's own
# "uninstall" invocation run as that user with the folders that instance uses, then waits a bounded
# time for the instances to end. An instance that does not answer in time keeps running and delays
# nothing further. Values read from a process are passed as single arguments and never interpreted.
tarn_close_instances() {
    program=/usr/lib/tarn-desktop/tarn-desktop
    [ -x "$program" ] || return 0
    pids=""
    for dir in /proc/[0-9]*; do
        exe=$(readlink "$dir/exe" 2>/dev/null) || continue
        if [ "$exe" = "$program" ] || [ "$exe" = "$program (deleted)" ]; then
            pids="$pids ${dir#/proc/}"
        fi
    done
    [ -n "$pids" ] || return 0
    echo "Asking the running tarn-desktop instances to close..."
    started=$(date +%s)
    for pid in $pids; do
        # Sending is bounded as a whole, whatever the number of instances.
        [ $(($(date +%s) - started)) -lt 20 ] || break
        uid=$(awk '/^Uid:/ { print $2; exit }' "/proc/$pid/status" 2>/dev/null) || continue
        gid=$(awk '/^Gid:/ { print $2; exit }' "/proc/$pid/status" 2>/dev/null) || continue
        case "$uid$gid" in
            '' | *[!0-9]*) continue ;;
        esac
        home=$(tarn_instance_env "$pid" HOME)
        if [ -z "$home" ]; then
            home=$(getent passwd "$uid" | cut -d: -f6)
        fi
        [ -n "$home" ] || home=/
        set -- env -i PATH=/usr/bin:/bin HOME="$home" DBUS_SESSION_BUS_ADDRESS=disabled:
        for name in XDG_RUNTIME_DIR XDG_CACHE_HOME XDG_CONFIG_HOME XDG_DATA_HOME; do
            value=$(tarn_instance_env "$pid" "$name")
            if [ -n "$value" ]; then
                set -- "$@" "$name=$value"
            fi
        done
        timeout -k 1 5 setpriv --reuid="$uid" --regid="$gid" --clear-groups -- \
            "$@" "$program" uninstall </dev/null >/dev/null 2>&1 || true
    done
    deadline=$(($(date +%s) + 10))
    while :; do
        running=""
        for pid in $pids; do
            exe=$(readlink "/proc/$pid/exe" 2>/dev/null) || continue
            if [ "$exe" = "$program" ] || [ "$exe" = "$program (deleted)" ]; then
                running="$running $pid"
            fi
        done
        [ -n "$running" ] || return 0
        [ "$(date +%s)" -lt "$deadline" ] || break
        sleep 0.2
    done
    for pid in $running; do
        echo "tarn-desktop: process $pid did not close in time; it keeps running until it is ended." >&2
    done
    return 0
}

# The value of one variable in a process's environment, read as data.
tarn_instance_env() {
    entry=$(grep -z -m 1 "^$2=" "/proc/$1/environ" 2>/dev/null | tr -d '\000') || entry=""
    printf '%s' "${entry#"$2="}"
}
