#include "message_handler.h"

#include <cstdio>
#include <cstdlib>

#include <QByteArray>
#include <QString>

namespace vk61 {

void writeMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const char* format = nullptr;
    switch (type) {
    case QtDebugMsg: format = "Debug: %s (%s:%u, %s)\n"; break;
    case QtInfoMsg: format = "Info: %s (%s:%u, %s)\n"; break;
    case QtWarningMsg: format = "Warning: %s (%s:%u, %s)\n"; break;
    case QtCriticalMsg: format = "Critical: %s (%s:%u, %s)\n"; break;
    case QtFatalMsg: format = "Fatal: %s (%s:%u, %s)\n"; break;
    }
    if (format == nullptr) return;

    const QByteArray text = message.toLocal8Bit();
    const char* file = context.file != nullptr ? context.file : "";
    const char* function = context.function != nullptr ? context.function : "";
    std::fprintf(stderr, format, text.constData(), file, static_cast<unsigned>(context.line), function);
    std::fflush(stderr);
    if (type == QtFatalMsg) std::abort();
}

void installMessageHandler() { qInstallMessageHandler(writeMessage); }

}  // namespace vk61
