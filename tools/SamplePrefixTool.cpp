// Builds a sample Wine prefix with a stand-in game install (archive, Storm.dll, saves) and
// two drives of stand-in mod archives, for trying Velmoran without the game.
// Usage: velmoran_sample_prefix FOLDER   (prints the prefix's path)
#include "support/SamplePrefix.h"

#include <cstdio>
#include <exception>
#include <filesystem>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    try {
        const velmoran::testing::SamplePrefix prefix(std::filesystem::absolute(argv[1]));
        std::printf("%s\n", prefix.prefix().c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "could not build the sample prefix: %s\n", e.what());
        return 1;
    }
    return 0;
}
