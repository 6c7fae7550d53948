// A cable pulled while "Save settings to EFIS" waits for the units' store
// acknowledgements ends the save at once, with the store's failure text, and
// leaves the edit pending; the time-out is far longer than the test allows.
#include <QSpinBox>
#include <QtTest>

#include <chrono>
#include <future>

#include "window_test_support.h"

using windowtest::SimulatedWindow;

class StoreCablePullTest : public QObject {
    Q_OBJECT

private slots:
    void pulledCableDuringStore_endsTheSaveAtOnce() {
        vk61::WindowSettings settings = windowtest::offTheNetwork();
        settings.config_timeouts = {200, 1000, 20000};  // a store may take 20 s here
        settings.initial_load_delay_ms = 1;
        SimulatedWindow sw(3, settings);
        QVERIFY(sw.waitForInitialLoad());
        constexpr unsigned kVne = 6;
        const std::uint32_t storedVne = *sw.bus.eeprom_element(1, kVne);
        const std::uint32_t checksumBefore = sw.window->deviceChecksumValue();

        sw.widget<QSpinBox>("spinBox_vne")->setValue(static_cast<int>(storedVne) + 5);
        // The units never acknowledge the store; the cable goes once it is sent.
        sw.bus.add_fault(sim::Fault{sim::FaultKind::Drop, sim::ReplyKind::SequencedAck, 0x3A0, 0, 0, 0});
        sw.bus.clear_host_frames();
        auto puller = std::async(std::launch::async, [&sw] {
            const bool sent =
                sw.bus.wait_until([&sw] { return !sw.hostFrames(0x3A0).empty(); }, std::chrono::seconds(10));
            if (sent) vhid::pull_cable();
            return sent;
        });

        const auto started = std::chrono::steady_clock::now();
        sw.click("pushButton_save");
        const auto took = std::chrono::steady_clock::now() - started;
        QVERIFY(puller.get());
        QCOMPARE(sw.status(), QString("Error: Failed to store configuration to EEPROM"));
        // Far below the 20 s the store was given: the save ended on the pull.
        QVERIFY2(took < std::chrono::seconds(5), "the save sat out its time-out");
        // The units may have stored it, but nothing confirmed that: the edit
        // stays to be sent and the checksum the window trusts is the old one.
        QVERIFY(sw.window->pendingChangeSet().count(kVne) == 1);
        QCOMPARE(sw.window->deviceChecksumValue(), checksumBefore);
    }
};

QTEST_MAIN(StoreCablePullTest)
#include "test_store_cable_pull.moc"
