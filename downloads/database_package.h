// One database entry of the downloads manifest (the airport database).
#pragma once

#include <QString>

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

    // Same rules as FirmwarePackage::resolve_local_path, with database texts.
    bool resolve_local_path(QString* local_path_out, QString* error = nullptr) const;
};

}  // namespace vk61
