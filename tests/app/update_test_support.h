// Shared pieces of the update-tab and fetch-flow tests: answering the modal
// dialogs the window opens, a download server on loopback with files the test
// writes, firmware images the simulated units accept, and a test entry that
// keeps every per-user location in a scratch folder.
//
// Everything here runs on the GUI thread.
#pragma once

#include <QApplication>
#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QMessageBox>
#include <QNetworkProxy>
#include <QPointer>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <set>
#include <string>

#include <sys/syscall.h>
#include <unistd.h>

#include "directory_handler.h"
#include "downloads/manifest_service.h"
#include "loopback_http_server.h"
#include "window_test_support.h"
#include "../firmware_test_image.h"

// ThreadSanitizer suppressions for Qt come from sanitizer_options.cpp,
// linked into every window test.

namespace updatetest {

// One modal dialog as the window showed it.
struct SeenDialog {
    enum Kind { MessageBox, FileDialog, Other } kind = Other;
    QString title;
    QString text;
    QString informative;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;        // texts without mnemonics, in the box's layout order
    QStringList actionButtons;  // those of them with the action role
};

// Answers the modal dialogs of the window from a timer: each message box
// with the first answer queued for message boxes, each file dialog with the
// first queued for file dialogs. A dialog nobody queued an answer for is recorded and
// closed (rejected), so a test never hangs on it; the test then sees it in
// seen().
// Chooses path in an open file dialog and accepts it. selectFile() leaves the
// name field alone while that field has the keyboard focus, which it gets once
// the dialog is active (on a busy machine before the first poll): the accept
// would then find no file and keep the dialog open. The focus goes first.
inline void chooseInFileDialog(QFileDialog* dialog, const QString& path) {
    if (QWidget* focused = dialog->focusWidget()) focused->clearFocus();
    dialog->setDirectory(QFileInfo(path).absolutePath());
    dialog->selectFile(QFileInfo(path).fileName());
    static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept checks the choice
}

class DialogDriver : public QObject {
public:
    DialogDriver() {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
        timer_.start();
    }

    // The next message box: press the button with this text ("OK" for the
    // standard one).
    void pressButton(const QString& text) { answers_ << Answer{SeenDialog::MessageBox, text}; }
    // The next file dialog: choose this file, or cancel when path is empty.
    void chooseFile(const QString& path) { answers_ << Answer{SeenDialog::FileDialog, path}; }

    // Any other dialog (the configuration preview): handled here instead of
    // being rejected, when set.
    std::function<void(QDialog*)> onOtherDialog;

    const QList<SeenDialog>& seen() const { return seen_; }
    int unanswered() const { return static_cast<int>(answers_.size()); }
    void clear() {
        seen_.clear();
        answers_.clear();
    }
    QStringList titles() const {
        QStringList out;
        for (const SeenDialog& d : seen_) out << d.title;
        return out;
    }

private:
    struct Answer {
        SeenDialog::Kind kind;
        QString value;
    };

    static QString plain(QString text) { return text.remove(QLatin1Char('&')); }

    void poll() {
        QWidget* widget = QApplication::activeModalWidget();
        if (widget == nullptr || !widget->isVisible()) return;
        // A QPointer of a deleted dialog reads null, so a new dialog at the
        // same address is not mistaken for an answered one.
        for (const QPointer<QWidget>& done : handled_) {
            if (done.data() == widget) return;
        }
        handled_ << widget;

        SeenDialog seen;
        seen.title = widget->windowTitle();
        if (auto* box = qobject_cast<QMessageBox*>(widget)) {
            seen.kind = SeenDialog::MessageBox;
            seen.text = box->text();
            seen.informative = box->informativeText();
            seen.icon = box->icon();
            for (QAbstractButton* button : box->buttons()) {
                seen.buttons << plain(button->text());
                if (box->buttonRole(button) == QMessageBox::ActionRole) seen.actionButtons << plain(button->text());
            }
        } else if (qobject_cast<QFileDialog*>(widget)) {
            seen.kind = SeenDialog::FileDialog;
        }
        seen_ << seen;

        // The first answer queued for this kind of dialog.
        const auto it =
            std::find_if(answers_.begin(), answers_.end(), [&](const Answer& a) { return a.kind == seen.kind; });
        const bool answered = it != answers_.end();
        const QString value = answered ? it->value : QString();
        if (answered) answers_.erase(it);
        if (auto* box = qobject_cast<QMessageBox*>(widget)) {
            for (QAbstractButton* button : box->buttons()) {
                if (answered && plain(button->text()) == value) {
                    button->click();
                    return;
                }
            }
            box->reject();
        } else if (auto* dialog = qobject_cast<QFileDialog*>(widget)) {
            if (answered && !value.isEmpty()) {
                chooseInFileDialog(dialog, value);
            } else {
                dialog->reject();
            }
        } else if (auto* other = qobject_cast<QDialog*>(widget)) {
            if (onOtherDialog) {
                onOtherDialog(other);
            } else {
                other->reject();
            }
        }
    }

    QTimer timer_;
    QList<Answer> answers_;
    QList<QPointer<QWidget>> handled_;
    QList<SeenDialog> seen_;
};

inline QString sha256Hex(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

inline bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray nonZeroBytes(qsizetype size, unsigned seed) { return firmware_test::non_zero_bytes(size, seed); }
inline QByteArray firmwareImage(std::uint32_t total_size, std::uint32_t body_size, std::uint32_t image_offset,
                                unsigned seed = 1) {
    return firmware_test::firmware_image(total_size, body_size, image_offset, seed);
}

// A download server on 127.0.0.1 serving the files below a scratch folder.
// onRequest runs (on the GUI thread, inside the client's nested event loop)
// before each request is answered: the place where a test plays a user who
// clicks while a fetch waits.
class DownloadServer {
public:
    DownloadServer()
        : files_(vk61::make_directory_handler(root_.path())), server_([this](const vk61::HttpRequest& request) {
              paths_ << QString::fromUtf8(request.path);
              if (onRequest) onRequest(QString::fromUtf8(request.path));
              return files_(request);
          }) {
        server_.listen();
    }

    QUrl manifestUrl() const { return server_.url(QStringLiteral("/firmware/downloads_manifest.json")); }
    QString url(const QString& relative) const { return server_.url(QStringLiteral("/") + relative).toString(); }
    QString path(const QString& relative) const { return QDir(root_.path()).filePath(relative); }
    bool put(const QString& relative, const QByteArray& bytes) { return writeFile(path(relative), bytes); }

    // A firmware entry for a file under firmware/ (written when bytes are
    // given), with its digest unless sha256 says otherwise.
    QJsonObject firmwareEntry(const QString& device_type, const QString& version, const QString& file,
                              const QByteArray& bytes, const QString& sha256 = QStringLiteral("*")) {
        put(QStringLiteral("firmware/") + file, bytes);
        return QJsonObject{{"device_type", device_type},
                           {"display_name", device_type + QStringLiteral(" unit")},
                           {"firmware_file", file},
                           {"download_url", url(QStringLiteral("firmware/") + file)},
                           {"sha256", sha256 == QStringLiteral("*") ? sha256Hex(bytes) : sha256},
                           {"hardware_revisions", QJsonArray{}},
                           {"firmware_version", version}};
    }
    QJsonObject databaseEntry(const QString& file, const QString& date, const QByteArray& bytes) {
        put(QStringLiteral("databases/") + file, bytes);
        return QJsonObject{{"db_type", "airport"},      {"display_name", QStringLiteral("Airports ") + date},
                           {"format_version", 1},       {"cycle_effective_date", date},
                           {"database_file", file},     {"download_url", url(QStringLiteral("databases/") + file)},
                           {"sha256", sha256Hex(bytes)}};
    }
    bool putManifest(const QJsonArray& firmware, const QJsonArray& databases = {}) {
        return put(QStringLiteral("firmware/downloads_manifest.json"),
                   QJsonDocument(QJsonObject{{"firmware_packages", firmware}, {"database_files", databases}}).toJson());
    }

    // Request paths received so far, in order.
    const QStringList& requests() const { return paths_; }
    void clearRequests() { paths_.clear(); }
    void close() { server_.close(); }

    std::function<void(const QString& path)> onRequest;

private:
    QTemporaryDir root_;
    vk61::LoopbackHttpServer::Handler files_;
    QStringList paths_;
    vk61::LoopbackHttpServer server_;
};

// The per-user cache folder the downloads code uses (scratch, see run()).
inline QString downloadsCacheDir() {
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/firmware");
}

// Empties the download cache: a fresh start for the next test (each window
// has its own memory copy of the manifest).
inline void resetDownloads() { QDir(downloadsCacheDir()).removeRecursively(); }

// Window settings for the update tests: the manifest from manifest_url (a
// closed port when empty), the scratch application folder of run() (which
// has no local manifest), and no wait before the first load.
inline vk61::WindowSettings updateSettings(const QUrl& manifest_url = QUrl()) {
    vk61::WindowSettings settings = windowtest::offTheNetwork();
    if (!manifest_url.isEmpty()) settings.downloads.manifest_url = manifest_url;
    settings.downloads.application_dir = QDir::homePath() + QStringLiteral("/app");
    settings.initial_load_delay_ms = 1;
    return settings;
}

// Clicks a fetch button and waits (up to timeout_ms) until its flow has ended.
inline bool clickAndWaitForFetch(vk61::MainWindow* window, QPushButton* button, int timeout_ms = 10000) {
    button->click();
    return QTest::qWaitFor([window] { return !window->fetchInProgress(); }, timeout_ms);
}

// The kernel's id of the calling thread.
inline long currentTid() { return static_cast<long>(::syscall(SYS_gettid)); }

// True while a thread of this process with that kernel id exists.
inline bool threadExists(long tid) { return QFileInfo::exists(QStringLiteral("/proc/self/task/%1").arg(tid)); }

// Test entry: a scratch home and cache, no proxy, an application folder with
// no local manifest, the offscreen platform.
template <typename TestObject>
int run(int argc, char** argv) {
    QTemporaryDir home;
    if (!home.isValid()) return 1;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (home.path() + QStringLiteral("/.cache")).toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        qunsetenv(name);
    QApplication app(argc, argv);
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    TestObject test;
    return QTest::qExec(&test, argc, argv);
}

// Clicks a browse button and answers its file dialog with path. True when
// the dialog came and was answered.
inline bool browse(QPushButton* button, DialogDriver& dialogs, const QString& path) {
    const int before = static_cast<int>(dialogs.seen().size());
    dialogs.chooseFile(path);
    button->click();  // returns once the dialog is closed
    return dialogs.unanswered() == 0 && dialogs.seen().size() > before &&
           dialogs.seen()[before].kind == SeenDialog::FileDialog;
}

// Runs a slot of the window by name: for refusals whose button is disabled
// in the state under test.
inline void invokeSlot(QObject* window, const char* slot) {
    QMetaObject::invokeMethod(window, slot, Qt::DirectConnection);
}

// The status texts of `statuses` that start with prefix, in order.
inline QStringList startingWith(const QStringList& statuses, const QString& prefix) {
    QStringList out;
    for (const QString& s : statuses) {
        if (s.startsWith(prefix)) out << s;
    }
    return out;
}

}  // namespace updatetest

#define VK61_UPDATE_TEST_MAIN(TestObject) \
    int main(int argc, char** argv) { return updatetest::run<TestObject>(argc, argv); }
