// Internal: the file name a manifest entry stands for.
#pragma once

#include <QString>

namespace vk61::detail {

// The last path component of a manifest file name ("sub/dir/app.bin" ->
// "app.bin"); both '/' and '\' separate components, since manifests are
// written on any platform. "." and ".." name directories, not files, and give
// an empty text, as does a name ending in a separator: joined to a folder they
// would point at the folder itself or its parent.
QString manifest_file_name(const QString& name);

}  // namespace vk61::detail
