# Sourced by the build and test scripts: which Windows build the tests run on this host.
#
# The product is the 32-bit stub, and its tests run on it wherever the host can execute 32-bit
# x86 programs (Wine's 32-bit loader is one). Some hosts run 64-bit user code only; there the
# Windows tests run on a 64-bit build of the same sources under Wine's 64-bit loader, and the
# 32-bit stub is still built, with the same warnings as errors. UNPACK_TEST_ARCH=x86_64 asks for
# the 64-bit build on any host, so that what fails only there is seen without such a host.

# Whether this host executes 32-bit x86 programs (some kernels are built without it): a 93-byte
# i386 program that only exits, written beside this script (a temporary directory may forbid
# execution). Where it cannot run, neither can Wine's 32-bit loader: the set-up leaves the i386
# half of Wine out (a hundred packages, some 40 % of a fresh machine's set-up), and the tests run
# on the 64-bit build. Asked before Wine is installed, it tells what the set-up will install.
unpack_host_runs_32bit() {
    local probe status=0
    probe=$(mktemp "$(dirname "${BASH_SOURCE[0]}")/.probe-i386.XXXXXX")
    printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
    chmod 700 "$probe"
    "$probe" 2>/dev/null || status=1
    rm -f "$probe"
    return $status
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
