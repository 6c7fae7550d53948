#include "downloads/database_package.h"

#include "downloads/download_limits.h"
#include "downloads/package_file_resolver.h"

namespace vk61 {
namespace {

constexpr detail::PackageFileKind kDatabase{
    "Manifest entry has no database_file name",
    "Database package not available locally and manifest has no download_url",
    "Airport database",
    kMaxAirportDatabaseBytes,
};

}  // namespace

void DatabasePackage::start_resolve_local_path(const DownloadSettings& settings, QObject* context,
                                               std::function<void(FileOutcome)> done) const {
    detail::start_resolve_package_file({database_file, download_url, sha256}, kDatabase, settings, context,
                                       std::move(done));
}

bool DatabasePackage::resolve_local_path(const DownloadSettings& settings, QString* local_path_out,
                                         QString* error) const {
    return detail::resolve_package_file({database_file, download_url, sha256}, kDatabase, settings, local_path_out,
                                        error);
}

}  // namespace vk61
