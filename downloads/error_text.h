// Internal: the one way every downloads function reports a failure.
#pragma once

#include <QString>

namespace vk61::detail {

// A null error pointer makes the failure silent.
inline void set_error(QString* error, const QString& message) {
    if (error) *error = message;
}

}  // namespace vk61::detail
