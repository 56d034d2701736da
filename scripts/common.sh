# common.sh: shared by the scripts: installing what is missing and building.
# Sourced, not run.

set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD="$ROOT/build"

# Installs the Debian packages that are not installed yet.
ensure_packages() {
    local missing=()
    local p
    for p in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing: ${missing[*]}"
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then
            sudo=(sudo)
        else
            echo "error: these packages are missing and installing them needs root: ${missing[*]}" >&2
            exit 1
        fi
    fi
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
}

BUILD_PACKAGES=(g++ make cmake pkg-config liballegro4-dev libx11-dev libtomlplusplus-dev libpng-dev)
X_PACKAGES=(xvfb xdotool x11-apps netpbm)
TEST_PACKAGES=(googletest libgtest-dev libbenchmark-dev valgrind)

# Configures and builds into the folder given; the arguments that follow go
# to the build (e.g. --target portalwalk).  CMAKE_ARGS, if set, go to the
# configuration.
build() {
    local dir=$1
    shift
    cmake -S "$ROOT" -B "$dir" ${CMAKE_ARGS:-} >/dev/null
    cmake --build "$dir" -j "$(nproc)" "$@"
}

# Starts Xvfb on a free display and exports DISPLAY; XVFB_PID is its process.
# XVFB_PREFIX, if set, is a command to start it through (e.g. taskset).
start_xvfb() {
    local size=$1
    local fifo
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    ${XVFB_PREFIX:-} Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    XVFB_PID=$!
    local number
    read -r number <"$fifo"
    rm -f "$fifo"
    export DISPLAY=":$number"
}
