#include "downloads/database_package.h"

#include "downloads/download_limits.h"
#include "downloads/package_file_resolver.h"

namespace vk61 {
namespace {

constexpr detail::PackageFileKind kDatabase{
    "database_file",
    "Database",
    "Airport database",
    kMaxAirportDatabaseBytes,
};

}  // namespace

void DatabasePackage::start_resolve_local_path(const DownloadSettings& settings, QObject* context,
                                               std::function<void(FileResult)> done) const {
    detail::start_resolve_package_file({database_file, download_url, sha256}, kDatabase, settings, context,
                                       std::move(done));
}

FileResult DatabasePackage::resolve_local_path(const DownloadSettings& settings) const {
    return detail::resolve_package_file({database_file, download_url, sha256}, kDatabase, settings);
}

}  // namespace vk61
