// The Qt message handler: one line per message on standard error.
#pragma once

#include <QtGlobal>

namespace vk61 {

// Writes "Debug: %s (%s:%u, %s)\n" and its info/warning/critical/fatal
// siblings, flushes, and aborts after a fatal message.
void writeMessage(QtMsgType type, const QMessageLogContext& context, const QString& message);

void installMessageHandler();

}  // namespace vk61
