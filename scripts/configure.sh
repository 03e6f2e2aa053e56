# Configures the scripts' build folders with every project option stated, so that a folder
# configured by one script is never left with another script's choices in CMake's cache.
# Sourced by the other scripts; needs $top.

# configure_build FOLDER [-DNAME=VALUE ...]: later settings win over the defaults here.
configure_build() {
    local folder="$1"
    shift
    cmake -S "$top" -B "$folder" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVELMORAN_BUILD_GUI=ON -DVELMORAN_BUILD_TESTS=OFF -DVELMORAN_BUILD_BENCHMARKS=OFF \
        -DVELMORAN_SANITIZE=OFF -DVELMORAN_FUZZ=OFF "$@" >/dev/null
}

# The program as the Debian package ships it, in build-release: Release, with Debian's own
# compiler and linker flags and every hardening feature. scripts/run.sh, scripts/demo.sh and
# scripts/package.sh all build here, so that each reuses what the others built.
release_build="$top/build-release"
configure_release_build() {
    export DEB_BUILD_MAINT_OPTIONS=hardening=+all
    configure_build "$release_build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
        -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
        -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
}
