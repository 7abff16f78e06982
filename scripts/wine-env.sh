# Sourced by the scripts that run Windows code: a throwaway 64-bit Wine prefix, booted before
# anything runs in it, and an Xvfb display for message boxes. wine_env_stop undoes both; the
# sourcing script calls it from its EXIT trap. Sourcing this also selects the build the Windows
# code runs from (scripts/platform.sh): UNPACK_TEST_TREE, and UNPACK_WINE, the loader for it.

source "$(dirname "${BASH_SOURCE[0]}")/platform.sh"
unpack_select_test_build "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# wine_env_start [headless]: headless, the prefix gets no display (no box can appear).
wine_env_start() {
    export WINEPREFIX
    WINEPREFIX=$(mktemp -d /tmp/unpack-wine.XXXXXX)
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
    unset WINEARCH

    if [[ "${1:-}" == headless ]]; then
        unset DISPLAY WAYLAND_DISPLAY
    else
        local n=90
        while [[ -e /tmp/.X${n}-lock || -e /tmp/.X11-unix/X${n} ]]; do n=$((n + 1)); done
        export DISPLAY=":${n}"
        Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
        WINE_ENV_XVFB_PID=$!
        for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X${n} ]] && break; sleep 0.1; done
    fi

    # Booting first keeps Wine's services from starting under a test and holding its pipes.
    wineserver -p >/dev/null 2>&1
    "$UNPACK_WINE" wineboot -i >/dev/null 2>&1
    # The server that created the prefix keeps what the creation started (a second service
    # manager among it), and while it runs every start of Wine's desktop process waits 10 s for
    # it: the first program of each test binary that touched a window paid that. A new server
    # starts the services once.
    wineserver -k >/dev/null 2>&1 || true
    timeout 30 wineserver -w >/dev/null 2>&1 || true
    wineserver -p >/dev/null 2>&1
    # Without a window manager, managed windows linger for seconds after a message box closes.
    "$UNPACK_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    # The services a first program starts stay up; started here, they hold no test's output pipe.
    "$UNPACK_WINE" cmd /c exit >/dev/null 2>&1
    # So does the desktop process (explorer.exe), which Wine starts for the first program that
    # asks for the desktop window: under a test it held CTest's pipe for seconds after each binary.
    "$UNPACK_WINE" rundll32.exe user32.dll,GetDesktopWindow >/dev/null 2>&1 || true
}

wine_env_stop() {
    if [[ -n "${WINEPREFIX:-}" && -d "${WINEPREFIX}" ]]; then
        wineserver -k >/dev/null 2>&1 || true
        wineserver -w >/dev/null 2>&1 || true
        rm -rf "${WINEPREFIX}"
    fi
    if [[ -n "${WINE_ENV_XVFB_PID:-}" ]]; then
        kill "${WINE_ENV_XVFB_PID}" >/dev/null 2>&1 || true
        wait "${WINE_ENV_XVFB_PID}" 2>/dev/null || true
    fi
}
