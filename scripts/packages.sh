# The Debian 12 packages each task needs; sourced by the other scripts.
BUILD_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev fonts-liberation xdg-utils
                libyaml-cpp-dev nlohmann-json3-dev dpkg-dev)
TEST_PACKAGES=(googletest libgtest-dev libbenchmark-dev clang-14 libclang-rt-14-dev attr
               findutils fd-find fuse3 libfuse3-dev wine64)
# Building the Debian package and checking it (scripts/package.sh, scripts/check-package.sh).
PACKAGE_PACKAGES=(dpkg-dev file lintian desktop-file-utils appstream man-db xvfb x11-utils
                  xdotool)
# The self-contained Linux bundle (scripts/bundle.sh): the Wayland plugins and Liberation
# Sans go into it. Its check in a bare Debian system (scripts/check-bundle.sh).
BUNDLE_PACKAGES=(patchelf qt6-wayland fonts-liberation binutils dpkg-dev)
BUNDLE_CHECK_PACKAGES=(debootstrap xvfb x11-utils xdotool imagemagick weston desktop-file-utils
                       attr)
