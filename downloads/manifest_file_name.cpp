#include "downloads/manifest_file_name.h"

namespace vk61::detail {

QString manifest_file_name(const QString& name) {
    const qsizetype cut = qMax(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    const QString last = name.mid(cut + 1);
    if (last == QLatin1String(".") || last == QLatin1String("..")) return {};
    return last;
}

}  // namespace vk61::detail
