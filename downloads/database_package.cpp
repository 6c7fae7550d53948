#include "downloads/database_package.h"

#include "downloads/package_file_resolver.h"

namespace vk61 {

bool DatabasePackage::resolve_local_path(QString* local_path_out, QString* error) const {
    static constexpr detail::PackageFileKind kDatabase{
        "Manifest entry has no database_file name",
        "Database package not available locally and manifest has no download_url",
    };
    return detail::resolve_package_file({database_file, download_url, sha256}, kDatabase,
                                        local_path_out, error);
}

}  // namespace vk61
