// The demo server's content, checked with the client side of the downloads
// module: what the demo shows is what a real manifest would give.
#include "downloads/manifest_parser.h"
#include "downloads/package_selection.h"

#include "demo_content.h"
#include "directory_handler.h"
#include "loopback_http_server.h"
#include "test_support.h"

#include <QtEndian>

namespace vk61 {
namespace {

class DemoContentTest : public test::DownloadsTest {};

TEST_F(DemoContentTest, everyPackageDownloadsAndVerifies) {
    QTemporaryDir root;
    LoopbackHttpServer server(make_directory_handler(root.path()));
    ASSERT_TRUE(server.listen());
    const FileWriteResult written = write_demo_content(root.path(), server.url("/"));
    ASSERT_TRUE(written.ok()) << describe(written).toStdString();

    const QByteArray manifest = test::read_file(root.filePath("firmware/downloads_manifest.json"));
    QList<FirmwarePackage> firmware;
    QList<DatabasePackage> databases;
    ASSERT_TRUE(parse_firmware_manifest(manifest, &firmware).ok());
    ASSERT_TRUE(parse_database_manifest(manifest, &databases).ok());

    // The simulated installation: device id, firmware word, whether an update shows.
    const std::tuple<quint32, quint32, bool> units[] = {
        {0xC3010001, 0x01040200, true}, {0xD5020002, 0x02010000, false}, {0xFF010003, 0x01000300, false}};
    for (const auto& [device_id, running, update] : units) {
        const FirmwarePackage* p = find_firmware_for_device(firmware, device_id);
        ASSERT_NE(p, nullptr) << std::hex << device_id;
        EXPECT_EQ(is_firmware_older(running, *p), update) << std::hex << device_id;
        const FileResult resolved = p->resolve_local_path(settings());
        ASSERT_TRUE(resolved.ok()) << describe(resolved).toStdString();
        const QByteArray image = test::read_file(resolved.path);
        ASSERT_EQ(image.size(), 64 + 150000);
        const auto* header = reinterpret_cast<const uchar*>(image.constData());
        EXPECT_EQ(qFromLittleEndian<quint32>(header + 8), 0x30000u);
        EXPECT_EQ(qFromLittleEndian<quint32>(header + 16), 150000u);
        EXPECT_EQ(qFromLittleEndian<quint32>(header + 44), 0x100u);
    }

    const DatabasePackage* airport = find_latest_database(databases, "airport");
    ASSERT_NE(airport, nullptr);
    EXPECT_EQ(airport->database_file, "airports_2026-11.db");
    const FileResult resolved = airport->resolve_local_path(settings());
    ASSERT_TRUE(resolved.ok()) << describe(resolved).toStdString();
    EXPECT_EQ(QFileInfo(resolved.path).size(), 2 << 20);
}

}  // namespace
}  // namespace vk61
