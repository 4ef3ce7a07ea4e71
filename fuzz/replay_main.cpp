// Replays every file of a corpus directory through a fuzz target, for the builds without libFuzzer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
        return 2;
    }
    std::error_code ec;
    const std::filesystem::path dir = std::filesystem::absolute(argv[1], ec);
    std::vector<std::filesystem::path> files;
    if (!ec) {
        for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
            if (entry.is_regular_file()) {
                files.push_back(entry.path());
            }
        }
    }
    if (ec || files.empty()) {
        std::fprintf(stderr, "no inputs in %s\n", argv[1]);
        return 2;
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        if (in.bad()) {
            std::fprintf(stderr, "cannot read %s\n", file.c_str());
            return 2;
        }
        // An exact-size heap copy, so that a read past the end of the input is caught.
        const auto input = std::make_unique<uint8_t[]>(bytes.size());
        std::copy(bytes.begin(), bytes.end(), input.get());
        std::fprintf(stderr, "%s\n", file.filename().c_str());
        LLVMFuzzerTestOneInput(input.get(), bytes.size());
    }
    std::fprintf(stderr, "replayed %zu inputs from %s\n", files.size(), dir.c_str());
    return 0;
}
