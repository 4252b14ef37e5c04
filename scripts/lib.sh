# Shared by the scripts: install what is missing from Debian's packages.
# Usage: ensure_packages PKG...

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

ensure_packages() {
  local missing=()
  local p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

# What building and testing need.
BUILD_PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-qpa-plugins
  libqcustomplot-dev libqcustomplot2.1-qt6
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-wqy-microhei
  locales zlib1g-dev
  libmosquitto-dev
)

# What the publishing tests need: Debian's own MQTT broker and InfluxDB, started by the
# tests on loopback, and the system's CAs for a TLS handshake.
TEST_PACKAGES=(mosquitto influxdb ca-certificates)


# What building and checking the Debian package need (scripts/package, and the package
# test in scripts/test): dpkg-shlibdeps computes its Depends, lintian checks it, man-db
# lets lintian check the manual pages.
PACKAGE_PACKAGES=(dpkg-dev binutils lintian man-db)

# What the Windows package needs (scripts/windows, scripts/windows-qt).
WINDOWS_PACKAGES=(
  cmake ninja-build g++ pkg-config dpkg-dev xz-utils
  qt6-base-dev qt6-base-dev-tools qt6-base-private-dev
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev
  wine wine64 xvfb xauth x11-utils xdotool python3 nsis zip unzip mosquitto mosquitto-clients
  fonts-wqy-microhei
)
# The Qt for Windows: Debian 12's own Qt Base, QCustomPlot and Mosquitto sources; Qt
# SerialPort from ../shared/vendor. The key names the cached prefix: change it with any
# of these. A prefix of the base key (Qt, SerialPort, QCustomPlot) is taken as it is and
# only what the key adds is built into a copy of it.
QT_VERSION=6.4.2
QT_DEBIAN_VERSION=6.4.2+dfsg-10
QCUSTOMPLOT_VERSION=2.1.0
QCUSTOMPLOT_DEBIAN_VERSION=2.1.0+dfsg1-3.1
MOSQUITTO_VERSION=2.0.11
MOSQUITTO_DEBIAN_VERSION=2.0.11-1.2+deb12u2
WINDOWS_QT_BASE_KEY=$QT_VERSION-mingw64-1
WINDOWS_QT_KEY=$QT_VERSION-mingw64-2
