# Shared by setup.sh and test.sh: package installation and the build.
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${KORVELA_BUILD_DIR:-$ROOT/build}"

as_root() {
    # A fresh Debian has no sudo: another user is asked for root's password by su.
    if [ "$(id -u)" -eq 0 ]; then "$@"; else su root -c "$(printf '%q ' "$@")"; fi
}

install_packages() {
    local wanted missing=()
    wanted=$(grep -v -E '^\s*(#|$)' "$ROOT/scripts/packages.txt")
    for p in $wanted; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        as_root apt-get update -qq
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

build() {
    cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVELA_WERROR=ON >/dev/null
    cmake --build "$BUILD_DIR"
}
