// Stands in for Setup when Starter is tried: writes what it was started with
// into the folder it lives in, so that a test can read it back.
//   arguments.txt    every argument, the program path first, one per line;
//                    written under another name and renamed when complete
//   surroundings.txt "folder=" the current folder, "descriptors=" the open
//                    file descriptors it was handed
// With NUVA_RECORDER_HOLD naming a file it then stays running until that file
// exists (at most half a minute) and writes released.txt: it was still
// running, so whoever started it did not wait for it.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kHighestDescriptor = 4096;

std::vector<int> OpenDescriptors() {
    std::vector<int> open;
    for (int fd = 0; fd < kHighestDescriptor; ++fd) {
        if (fcntl(fd, F_GETFD) != -1) {
            open.push_back(fd);
        }
    }
    return open;
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything here opens a file of its own.
    const std::vector<int> descriptors = OpenDescriptors();

    const std::filesystem::path here = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    {
        std::ofstream out(here / "surroundings.txt", std::ios::trunc);
        out << "folder=" << std::filesystem::current_path().string() << "\n";
        out << "descriptors=";
        for (int fd : descriptors) {
            out << fd << " ";
        }
        out << "\n";
    }
    {
        std::ofstream out(here / "arguments.txt.part", std::ios::trunc);
        for (int i = 0; i < argc; ++i) {
            out << argv[i] << "\n";
        }
    }
    std::filesystem::rename(here / "arguments.txt.part", here / "arguments.txt");

    if (const char* hold = std::getenv("NUVA_RECORDER_HOLD")) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!std::filesystem::exists(hold) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::ofstream(here / "released.txt") << "released\n";
    }
    return 0;
}
