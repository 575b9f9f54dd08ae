// Replays inputs through a fuzz target's entry point without libFuzzer, so
// every compiler and host runs the committed corpus as an ordinary test.
//
//   <target>_replay PATH...
//
// A PATH that is a folder stands for the regular files in it, taken in name
// order so that a failure names the same file on every host. Each file is
// read whole into a heap block of exactly its size (a read past its end is
// then a heap overflow to a sanitizer build) and given to the entry point
// once. The target's own checks abort on a finding; this driver only fails
// when a path cannot be read or holds no input at all.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace {

namespace fs = std::filesystem;

bool replay(const fs::path &file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "replay: cannot read %s\n", file.string().c_str());
        return false;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // An empty input gets a block of its own too: a target must not read it.
    std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[bytes.empty() ? 1 : bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), block.get());
    std::printf("replay %s (%zu bytes)\n", file.string().c_str(), bytes.size());
    std::fflush(stdout);  // the name is out before a finding aborts the run
    LLVMFuzzerTestOneInput(block.get(), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE-OR-FOLDER...\n", argv[0]);
        return 2;
    }
    std::size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const fs::path arg(argv[i]);
        std::error_code ec;
        std::vector<fs::path> files;
        if (fs::is_directory(arg, ec)) {
            for (const fs::directory_entry &e : fs::directory_iterator(arg, ec)) {
                if (e.is_regular_file(ec)) {
                    files.push_back(e.path());
                }
            }
            if (ec) {
                std::fprintf(stderr, "replay: cannot list %s: %s\n", argv[i], ec.message().c_str());
                return 1;
            }
            std::sort(files.begin(), files.end());
        } else {
            files.push_back(arg);
        }
        for (const fs::path &f : files) {
            if (!replay(f)) {
                return 1;
            }
            ++replayed;
        }
    }
    if (replayed == 0) {
        std::fprintf(stderr, "replay: no input found in the paths given\n");
        return 1;
    }
    std::printf("replay: %zu inputs, no findings\n", replayed);
    return 0;
}
