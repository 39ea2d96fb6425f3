// Runs the whole program in-process on files in a scratch folder and
// captures what it prints.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/run.h"
#include "console_capture.h"

namespace qrv::testing {

struct cli_result {
    int status = 0;
    std::string out;
};

// A scratch folder of its own for each test.
inline std::filesystem::path scratch_dir(const std::string& name) {
    std::filesystem::path dir = std::filesystem::path(QRV_TEST_TMP) / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

inline void write_file(const std::filesystem::path& path, const std::string& data) {
    std::ofstream f(path, std::ios::binary);
    f << data;
}

inline std::string read_file(const std::filesystem::path& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

inline cli_result run_cli(const std::vector<std::string>& args) {
    std::vector<std::string> storage;
    storage.push_back("pvx2abnf");
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);

    console_capture console;
    cli_result r;
    r.status = pvx2abnf_main(static_cast<int>(storage.size()), argv.data(), console.file());
    r.out = console.text();
    return r;
}

}  // namespace qrv::testing
