#include "downloads/sha256_stream.h"

#include <QIODevice>

#if VK61_SHA256_LIBCRYPTO
#include <openssl/evp.h>

#include <memory>
#else
#include <QCryptographicHash>
#endif

namespace vk61::detail {
namespace {

constexpr qint64 kPieceBytes = 1 << 20;

#if VK61_SHA256_LIBCRYPTO
// Qt 6.4 hashes with a portable C SHA-256 at about half the speed of
// sha256sum; libcrypto uses the CPU's SHA instructions where there are any.
class Sha256 {
public:
    Sha256() : context_(EVP_MD_CTX_new(), &EVP_MD_CTX_free) {
        ok_ = context_ && EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) == 1;
    }
    void add(const char* data, qint64 size) { ok_ = ok_ && EVP_DigestUpdate(context_.get(), data, size_t(size)) == 1; }
    bool result(QByteArray* digest) {
        unsigned char bytes[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (!ok_ || EVP_DigestFinal_ex(context_.get(), bytes, &length) != 1) return false;
        *digest = QByteArray(reinterpret_cast<const char*>(bytes), int(length));
        return true;
    }

private:
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context_;
    bool ok_ = false;
};
#else
class Sha256 {
public:
    void add(const char* data, qint64 size) { hash_.addData(QByteArrayView(data, size)); }
    bool result(QByteArray* digest) {
        *digest = hash_.result();
        return true;
    }

private:
    QCryptographicHash hash_{QCryptographicHash::Sha256};
};
#endif

}  // namespace

bool sha256_of_device(QIODevice* device, QByteArray* digest) {
    Sha256 hash;
    QByteArray piece(kPieceBytes, Qt::Uninitialized);
    for (;;) {
        const qint64 n = device->read(piece.data(), kPieceBytes);
        if (n < 0) return false;
        if (n == 0) return device->atEnd() && hash.result(digest);
        hash.add(piece.constData(), n);
    }
}

}  // namespace vk61::detail
