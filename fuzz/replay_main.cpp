// Replays inputs through a fuzz target without libFuzzer: every file named on
// the command line, and every file under every folder named there (in name
// order), goes once through LLVMFuzzerTestOneInput. Lets the kept corpus and
// the regression seeds run in every build, also with gcc. Arguments starting
// with "-" are libFuzzer options and are ignored. Exits non-zero when a named
// path is missing or unreadable; a finding ends the process as it would
// under the fuzzer (trap, sanitizer report).
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

bool Collect(const std::string& path, std::vector<std::string>& files)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        fprintf(stderr, "replay: %s: %s\n", path.c_str(), strerror(errno));
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        files.push_back(path);
        return true;
    }
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) {
        fprintf(stderr, "replay: %s: %s\n", path.c_str(), strerror(errno));
        return false;
    }
    std::vector<std::string> children;
    while (struct dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) {
            children.push_back(path + "/" + entry->d_name);
        }
    }
    closedir(dir);
    std::sort(children.begin(), children.end());
    bool ok = true;
    for (const std::string& child : children) {
        ok = Collect(child, files) && ok;
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (LLVMFuzzerInitialize != nullptr) {
        LLVMFuzzerInitialize(&argc, &argv);
    }
    std::vector<std::string> files;
    bool ok = true;
    int paths = 0;
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] == '-') {
            continue;
        }
        ++paths;
        ok = Collect(argv[i], files) && ok;
    }
    for (const std::string& file : files) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            fprintf(stderr, "replay: cannot read %s\n", file.c_str());
            ok = false;
            continue;
        }
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // A copy of exactly the input, so that a read past its end is caught.
        std::vector<uint8_t> input(bytes.begin(), bytes.end());
        // Like libFuzzer, an empty input still comes with a valid pointer.
        static uint8_t none = 0;
        uint8_t* data = input.empty() ? &none : input.data();
        LLVMFuzzerTestOneInput(data, input.size());
    }
    printf("replay: %zu inputs from %d paths%s\n", files.size(), paths, ok ? "" : " (with errors)");
    return ok && paths > 0 ? 0 : 1;
}
