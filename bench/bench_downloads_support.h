// What the downloads benchmarks share: a large package file made without
// holding it whole, and the median of several runs.
#pragma once

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QString>

#include <algorithm>
#include <vector>

namespace bench {

// Writes size bytes of seeded random data to path (its folder is made),
// generated and hashed 1 MiB at a time: the file is never whole in this
// process. Returns its SHA-256 in lower-case hex, empty on a failed write.
inline QString write_random_file(const QString& path, qint64 size, quint32 seed) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (qint64 left = size; left > 0; left -= chunk.size()) {
        generator.fillRange(reinterpret_cast<quint32*>(chunk.data()), chunk.size() / 4);
        const qint64 n = std::min<qint64>(left, chunk.size());
        hash.addData(QByteArrayView(chunk.constData(), n));
        if (file.write(chunk.constData(), n) != n) return {};
    }
    return QString::fromLatin1(hash.result().toHex());
}

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace bench
