#!/usr/bin/env bash
# Quillhaul's one entry point: installs what is missing, configures, builds and then runs the program or the tests.
#   ./build.sh run [ARGS...]   build and start the desktop program with ARGS
#   ./build.sh test            build and run every test through ctest
#   ./build.sh package         build the Debian package (BUILD_DIR/quillhaul_VERSION_ARCH.deb)
# Environment: BUILD_DIR (default build), BUILD_TYPE (default RelWithDebInfo), JOBS (default: all cores).
set -euo pipefail

cd "$(dirname "$0")"
BUILD_DIR=${BUILD_DIR:-build}
BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo}
JOBS=${JOBS:-$(nproc)}

# Debian 12 packages the build and the tests need.
PACKAGES=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev qt6-webengine-dev qt6-translations-l10n
    libgumbo-dev zlib1g-dev libzip-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    fonts-noto-cjk
    epubcheck
)
# What making the Debian package and checking it needs: dpkg-shlibdeps finds its dependencies, the validators and
# lintian check it.
PACKAGE_TOOLS=(dpkg-dev file lintian appstream desktop-file-utils)

say() { printf '\033[1m==> %s\033[0m\n' "$*" >&2; }
die() { printf '\033[1;31merror:\033[0m %s\n' "$*" >&2; exit 1; }

install_missing_packages() {
    local missing=()
    for package in "${PACKAGES[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    command -v apt-get >/dev/null || die "missing packages (${missing[*]}) and no apt-get: install them by hand."
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || die "missing packages (${missing[*]}): run as root or install sudo."
        sudo=(sudo)
    fi
    say "Installing Debian packages: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq || die "apt-get update failed: check the network and /etc/apt/sources.list."
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" \
        || die "could not install: ${missing[*]}"
}

configure_and_build() {
    if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
        say "Configuring ($BUILD_TYPE) in $BUILD_DIR"
        cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE="$BUILD_TYPE" -DCMAKE_INSTALL_PREFIX=/usr \
            || die "CMake could not configure the build."
    fi
    say "Building"
    cmake --build "$BUILD_DIR" --parallel "$JOBS" || die "the build failed."
}

command=${1:-}
[ $# -gt 0 ] && shift
case "$command" in
run)
    install_missing_packages
    configure_and_build
    exec "$BUILD_DIR/bin/quillhaul" "$@"
    ;;
test)
    install_missing_packages "${PACKAGE_TOOLS[@]}"
    configure_and_build
    say "Running the tests"
    export QT_QPA_PLATFORM=offscreen
    cd "$BUILD_DIR"
    ctest --output-on-failure --parallel "$JOBS" --timeout 300
    ;;
package)
    install_missing_packages "${PACKAGE_TOOLS[@]}"
    # The programs find their files relative to the prefix they were built for, which must be the package's
    # (/usr) also in a build folder configured before.
    if [ -f "$BUILD_DIR/CMakeCache.txt" ]; then
        cmake -S . -B "$BUILD_DIR" -DCMAKE_INSTALL_PREFIX=/usr >/dev/null || die "CMake could not configure the build."
    fi
    configure_and_build
    say "Making the Debian package"
    (cd "$BUILD_DIR" && cpack -G DEB) || die "cpack could not make the package."
    say "Made $(ls "$BUILD_DIR"/quillhaul_*.deb)"
    ;;
*)
    sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
