// A file opened for reading with stdio ("rb"), with 64-bit positions so that
// files over 2 GiB report their true size. Closed by the destructor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>

namespace vk61 {

class BinaryFile {
public:
    // path in the local 8-bit encoding.
    explicit BinaryFile(const char* path);
    ~BinaryFile();
    BinaryFile(const BinaryFile&) = delete;
    BinaryFile& operator=(const BinaryFile&) = delete;

    bool is_open() const { return file_ != nullptr; }
    void close();

    bool seek(std::int64_t offset);  // from the start
    bool seek_end();
    // Current position; nothing on failure.
    std::optional<std::int64_t> tell();
    // Reads up to n bytes; returns the count read.
    std::size_t read(void* buffer, std::size_t n);

private:
    std::FILE* file_ = nullptr;
};

}  // namespace vk61
