#include "downloads/download_limits.h"

#include <QRegularExpression>

namespace vk61 {

bool is_well_formed_sha256(const QString& text) {
    static const QRegularExpression hex64(QStringLiteral("^[0-9A-Fa-f]{64}$"));
    return hex64.match(text.trimmed()).hasMatch();
}

bool is_followed_scheme(const QString& scheme) {
    return scheme.compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ||
           scheme.compare(QLatin1String("http"), Qt::CaseInsensitive) == 0;
}

}  // namespace vk61
