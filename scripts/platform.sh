# Sourced by the build and test scripts: which Windows build the tests run on this host.
#
# The product is the 32-bit stub, and its tests run on it wherever the host can execute 32-bit
# x86 programs (Wine's 32-bit loader is one). Some hosts run 64-bit user code only; there the
# Windows tests run on a 64-bit build of the same sources under Wine's 64-bit loader, and the
# 32-bit stub is still built, with the same warnings as errors. UNPACK_TEST_ARCH=x86_64 asks for
# the 64-bit build on any host, so that what fails only there is seen without such a host.
unpack_host_runs_32bit() {
    /usr/lib/wine/wine --version >/dev/null 2>&1
}

# Sets UNPACK_TEST_ARCH (i686 or x86_64), UNPACK_TEST_TREE (the build tree whose tests run) and
# UNPACK_WINE (the Wine loader for that build). Fails when UNPACK_TEST_ARCH asks for what this
# host cannot run.
unpack_select_test_build() {
    local root=$1
    case "${UNPACK_TEST_ARCH:-}" in
    "")
        if unpack_host_runs_32bit; then UNPACK_TEST_ARCH=i686; else UNPACK_TEST_ARCH=x86_64; fi
        ;;
    i686)
        if ! unpack_host_runs_32bit; then
            echo "UNPACK_TEST_ARCH=i686: this host cannot execute 32-bit x86 programs" >&2
            return 1
        fi
        ;;
    x86_64) ;;
    *)
        echo "UNPACK_TEST_ARCH is i686 or x86_64, not '${UNPACK_TEST_ARCH}'" >&2
        return 1
        ;;
    esac
    if [[ "$UNPACK_TEST_ARCH" == i686 ]]; then
        UNPACK_TEST_TREE="$root/build/win"
        UNPACK_WINE=wine
    else
        UNPACK_TEST_TREE="$root/build/win64"
        UNPACK_WINE=/usr/lib/wine/wine64
        # Programs that Wine itself starts (services, wineboot's helpers) take the same loader.
        export WINELOADER=$UNPACK_WINE
    fi
    export UNPACK_TEST_ARCH UNPACK_TEST_TREE UNPACK_WINE
}
