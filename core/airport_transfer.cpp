#include "core/airport_transfer.h"

#include "core/airport_resume.h"

namespace vk61 {

AirportJobResult run_airport_job(CommsManager& comms, const AirportJob& job, const AirportUnitStart& on_unit_start,
                                 const ProgressCallback& progress) {
    AirportJobResult out;
    const auto keep = [&](const std::vector<AirportUnitProgress>& progress_now) {
        if (job.record_path.isEmpty()) return;
        const AirportUploadRecord record{job.sha256, job.database->size(), job.units, progress_now};
        const AirportRecordResult saved = save_airport_record(job.record_path, record);
        if (!saved.ok() && out.record.ok()) out.record = saved;
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
    if (out.result.ok() && !job.record_path.isEmpty()) remove_airport_record(job.record_path);
    return out;
}

QString describe(const AirportJobResult& job) { return QString::fromStdString(describe(job.result)); }

}  // namespace vk61
