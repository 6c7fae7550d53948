// 64-bit off_t for fseeko/ftello on 32-bit glibc too.
#if !defined(_WIN32) && !defined(_FILE_OFFSET_BITS)
#define _FILE_OFFSET_BITS 64
#endif

#include "binary_file.h"

#if !defined(_WIN32)
#include <sys/types.h>
#endif

namespace vk61 {

BinaryFile::BinaryFile(const char* path) : file_(path != nullptr ? std::fopen(path, "rb") : nullptr) {}

BinaryFile::~BinaryFile() { close(); }

void BinaryFile::close() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
}

bool BinaryFile::seek(std::int64_t offset) {
    if (file_ == nullptr) return false;
#if defined(_WIN32)
    return _fseeki64(file_, offset, SEEK_SET) == 0;
#else
    return fseeko(file_, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool BinaryFile::seek_end() {
    if (file_ == nullptr) return false;
#if defined(_WIN32)
    return _fseeki64(file_, 0, SEEK_END) == 0;
#else
    return fseeko(file_, 0, SEEK_END) == 0;
#endif
}

std::optional<std::int64_t> BinaryFile::tell() {
    if (file_ == nullptr) return std::nullopt;
#if defined(_WIN32)
    const std::int64_t position = _ftelli64(file_);
#else
    const std::int64_t position = ftello(file_);
#endif
    if (position < 0) return std::nullopt;
    return position;
}

std::size_t BinaryFile::read(void* buffer, std::size_t n) {
    if (file_ == nullptr || n == 0) return 0;
    return std::fread(buffer, 1, n, file_);
}

}  // namespace vk61
