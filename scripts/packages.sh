# The Debian 12 packages each task needs; sourced by the other scripts.
BUILD_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev fonts-liberation xdg-utils
                libyaml-cpp-dev nlohmann-json3-dev dpkg-dev)
TEST_PACKAGES=(googletest libgtest-dev libbenchmark-dev clang-14 libclang-rt-14-dev attr
               findutils fd-find fuse3 libfuse3-dev)
# Building the Debian package and checking it (scripts/package.sh, scripts/check-package.sh).
PACKAGE_PACKAGES=(dpkg-dev file lintian desktop-file-utils appstream man-db xvfb x11-utils
                  xdotool)
