#include "core/airport_transfer.h"

#include <QStringList>

#include "core/airport_resume.h"

namespace vk61 {

AirportJobResult run_airport_job(CommsManager& comms, const AirportJob& job, const AirportUnitStart& on_unit_start,
                                 const ProgressCallback& progress) {
    AirportJobResult out;
    const auto keep = [&](const std::vector<AirportUnitProgress>& progress_now) {
        if (job.record_path.isEmpty()) return;
        const AirportUploadRecord record{job.sha256, job.database->size(), job.units, progress_now};
        QString error;
        if (!save_airport_record(job.record_path, record, &error) && out.record_warning.isEmpty()) {
            out.record_warning = error;
        }
    };

    std::vector<std::uint8_t> uids;
    for (const DeviceInfo& unit : job.units) uids.push_back(unit.uid);
    if (!job.resume_from.empty()) {
        out.result = run_airport_upload_together(comms, *job.database, job.resume_from, progress, job.timeouts, keep);
    } else if (job.one_at_a_time || job.units.size() == 1) {
        out.result = run_airport_upload(comms, *job.database, uids, on_unit_start, progress, job.timeouts, keep);
    } else {
        std::vector<AirportUnitProgress> fresh;
        for (const std::uint8_t uid : uids) fresh.push_back({uid, {}, 0, false});
        out.result = run_airport_upload_together(comms, *job.database, fresh, progress, job.timeouts, keep);
    }
    if (out.result.success && !job.record_path.isEmpty()) remove_airport_record(job.record_path);
    return out;
}

QString airport_outcome_text(const AirportResult& result) {
    QStringList holding;
    QStringList missing;
    QString why;
    for (const AirportUnitOutcome& unit : result.units) {
        (unit.holds_new ? holding : missing).append(QString::number(unit.uid));
        if (!unit.holds_new && why.isEmpty() && !unit.failure.ok())
            why = QString::fromStdString(describe(unit.failure));
    }
    const QString reason = why.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(why);
    if (holding.isEmpty()) return QStringLiteral("No unit holds the new airport database") + reason;
    QString text = QStringLiteral("UID %1 %2 the new airport database")
                       .arg(holding.join(QStringLiteral(", ")), holding.size() == 1 ? "holds" : "hold");
    if (!missing.isEmpty()) {
        text += QStringLiteral("; UID %1 %2")
                    .arg(missing.join(QStringLiteral(", ")), missing.size() == 1 ? "does not" : "do not") +
                reason;
    }
    return text;
}
}  // namespace vk61
