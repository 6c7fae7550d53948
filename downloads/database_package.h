// One database entry of the downloads manifest (the airport database).
#pragma once

#include "downloads/http_fetch.h"

#include <QString>

#include <functional>

class QObject;

namespace vk61 {

// Value type; lists of it keep manifest order.
struct DatabasePackage {
    QString db_type;  // trimmed and lower-cased at parse ("airport")
    QString display_name;
    qint32 format_version = 0;
    QString cycle_effective_date;  // compared as text, newest wins
    QString database_file;         // ends in ".db"; only its last path component is used
    QString download_url;
    QString sha256;

    // Same rules as FirmwarePackage's, with database texts.
    void start_resolve_local_path(const DownloadSettings& settings, QObject* context,
                                  std::function<void(FileResult)> done) const;
    FileResult resolve_local_path(const DownloadSettings& settings) const;
};

}  // namespace vk61
