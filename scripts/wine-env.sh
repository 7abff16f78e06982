# Sourced by the scripts that run Windows code: throwaway 64-bit Wine prefixes, booted before
# anything runs in them, each with an Xvfb display of its own for message boxes. wine_env_stop
# undoes them all; the sourcing script calls it from its EXIT trap. Sourcing this also selects the
# build the Windows code runs from (scripts/platform.sh): UNPACK_TEST_TREE, and UNPACK_WINE, the
# loader for it.
#
# WINEPREFIX and DISPLAY name the first prefix and its display. UNPACK_WINE_ENVS lists every
# prefix with its display ("PREFIX,DISPLAY;PREFIX,DISPLAY"; no display when headless), for test
# runners that spread scenarios over several prefixes. Each prefix has a wineserver of its own, so
# the runs in one never see the others' processes, mutexes or registry.

source "$(dirname "${BASH_SOURCE[0]}")/platform.sh"
unpack_select_test_build "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)" || exit 1

WINE_ENV_PREFIXES=()
WINE_ENV_XVFB_PIDS=()
WINE_ENV_BOOT_PIDS=()

# Creates the prefix WINEPREFIX names, and stops its server.
wine_env_create_prefix() {
    # Booting first keeps Wine's services from starting under a test and holding its pipes.
    wineserver -p >/dev/null 2>&1
    "$UNPACK_WINE" wineboot -i >/dev/null 2>&1
    # The server that created the prefix keeps what the creation started (a second service
    # manager among it), and while it runs every start of Wine's desktop process waits 10 s for
    # it: the first program of each test binary that touched a window paid that. A new server
    # starts the services once.
    wineserver -k >/dev/null 2>&1 || true
    timeout 30 wineserver -w >/dev/null 2>&1 || true
}

# Starts the server of a created prefix (WINEPREFIX) and what the first programs would start.
wine_env_start_services() {
    wineserver -p >/dev/null 2>&1
    # Without a window manager, managed windows linger for seconds after a message box closes.
    "$UNPACK_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    # The services a first program starts stay up; started here, they hold no test's output pipe.
    "$UNPACK_WINE" cmd /c exit >/dev/null 2>&1
    # So does the desktop process (explorer.exe), which Wine starts for the first program that
    # asks for the desktop window: under a test it held CTest's pipe for seconds after each binary.
    "$UNPACK_WINE" rundll32.exe user32.dll,GetDesktopWindow >/dev/null 2>&1 || true
}

# Creates the first prefix, copies it for the others (a copy costs a second, a creation eight
# seconds of CPU), and starts each one's server and services.
wine_env_boot() {
    local envs=("$@") entry i
    WINEPREFIX=${envs[0]%%,*} wine_env_create_prefix
    for ((i = 1; i < ${#envs[@]}; i++)); do
        cp -a "${envs[0]%%,*}/." "${envs[i]%%,*}/"
    done
    for entry in "${envs[@]}"; do
        (
            export WINEPREFIX=${entry%%,*}
            [[ -n "${entry#*,}" ]] && export DISPLAY=${entry#*,}
            wine_env_start_services
        ) &
    done
    wait
}

# wine_env_begin [headless] [COUNT]: makes COUNT prefixes (1 unless given) and their displays,
# and boots them in the background; wine_env_wait waits until they are ready. Headless, the
# prefixes get no display (no box can appear).
wine_env_begin() {
    local headless=0 count=1 arg
    for arg in "$@"; do
        if [[ "$arg" == headless ]]; then headless=1; elif [[ -n "$arg" ]]; then count=$arg; fi
    done
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
    unset WINEARCH
    [[ $headless == 1 ]] && unset DISPLAY WAYLAND_DISPLAY

    local envs=() n=90 prefix display i
    for ((i = 0; i < count; i++)); do
        prefix=$(mktemp -d /tmp/unpack-wine.XXXXXX)
        WINE_ENV_PREFIXES+=("$prefix")
        display=""
        if [[ $headless == 0 ]]; then
            while [[ -e /tmp/.X${n}-lock || -e /tmp/.X11-unix/X${n} ]]; do n=$((n + 1)); done
            display=":${n}"
            n=$((n + 1))
            Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
            WINE_ENV_XVFB_PIDS+=($!)
            for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X${display#:} ]] && break; sleep 0.1; done
        fi
        envs+=("$prefix,$display")
    done
    wine_env_boot "${envs[@]}" &
    WINE_ENV_BOOT_PIDS+=($!)
    export WINEPREFIX=${WINE_ENV_PREFIXES[0]}
    [[ $headless == 0 ]] && export DISPLAY=${envs[0]#*,}
    UNPACK_WINE_ENVS=$(IFS=';'; echo "${envs[*]}")
    export UNPACK_WINE_ENVS
}

wine_env_wait() {
    local pid
    for pid in "${WINE_ENV_BOOT_PIDS[@]}"; do wait "$pid" || true; done
    WINE_ENV_BOOT_PIDS=()
}

# wine_env_start [headless] [COUNT]: wine_env_begin, then wine_env_wait.
wine_env_start() {
    wine_env_begin "$@"
    wine_env_wait
}

wine_env_stop() {
    local prefix pid
    # A boot still under way ends first (seconds): stopped halfway, its next step would start a
    # server again.
    wine_env_wait
    for prefix in "${WINE_ENV_PREFIXES[@]}"; do
        [[ -d "$prefix" ]] || continue
        WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
        WINEPREFIX=$prefix wineserver -w >/dev/null 2>&1 || true
        rm -rf "$prefix"
    done
    for pid in "${WINE_ENV_XVFB_PIDS[@]}"; do
        kill "$pid" >/dev/null 2>&1 || true
        wait "$pid" 2>/dev/null || true
    done
    WINE_ENV_PREFIXES=() WINE_ENV_XVFB_PIDS=() WINE_ENV_BOOT_PIDS=()
}
