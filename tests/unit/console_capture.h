// Captures what a run prints on its console.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace qrv::testing {

class console_capture {
public:
    console_capture() : file_(open_memstream(&text_, &size_)) {}
    ~console_capture() {
        std::fclose(file_);
        std::free(text_);
    }
    console_capture(const console_capture&) = delete;
    console_capture& operator=(const console_capture&) = delete;

    std::FILE* file() const { return file_; }
    // Everything printed so far.
    std::string text() {
        std::fflush(file_);
        return std::string(text_, size_);
    }
    // Everything printed so far, and forget it.
    std::string take() {
        std::string s = text();
        std::rewind(file_);
        std::fflush(file_);
        size_ = 0;
        return s;
    }

private:
    char* text_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* file_;
};

}  // namespace qrv::testing
