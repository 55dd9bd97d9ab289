# Sourced by the scripts: installs the Debian 12 packages the build and the tests need.
# dpkg-dev and file, for the Debian package: CPack picks the programs out with file and has
# dpkg-shlibdeps find the Debian packages of the libraries they link.
TARNIVEL_PACKAGES=(qt6-base-dev qt6-serialport-dev qt6-multimedia-dev cmake ninja-build g++
    xvfb xauth imagemagick fonts-dejavu-core clang libclang-rt-14-dev python3 dpkg-dev file)

# Qt Charts draws the temperature plot; Debian's Charts CMake package also needs Qt's OpenGL
# development files to load.
TARNIVEL_PACKAGES+=(qt6-charts-dev libqt6opengl6-dev)

# The INDI driver builds on the INDI library's headers and libindidriver; its tests' client
# on libindiclient (both in libindi-dev, which brings no drivers).
TARNIVEL_PACKAGES+=(libindi-dev)

# The end-to-end test has Debian's own checkers judge the packages and the menu entry.
TARNIVEL_PACKAGES+=(lintian desktop-file-utils)

tarnivel_install_deps() {
    local missing=()
    local p
    for p in "${TARNIVEL_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
