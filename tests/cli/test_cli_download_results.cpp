// Every kind of download failure, as people and scripts see it: the sentence
// (the tests and the README quote these word for word) and the exit code.
#include <gtest/gtest.h>

#include <set>

#include "downloads/download_result.h"
#include "result_exit.h"

namespace clitest {
namespace {

using vk61::DownloadFailure;
using vk61::DownloadResult;
using vk61::cli::ExitCode;

struct Row {
    DownloadFailure failure;
    DownloadResult result;  // the fields the failure carries
    const char* text;
    ExitCode exit;
};

DownloadResult with(DownloadFailure failure, void (*fill)(DownloadResult&)) {
    DownloadResult result = DownloadResult::failed(failure);
    fill(result);
    return result;
}

TEST(DownloadResults, eachFailureHasItsSentenceAndExitCode) {
    using vk61::cli::kExitDownload;
    using vk61::cli::kExitOk;
    const Row rows[] = {
        {DownloadFailure::None, DownloadResult::success(), "", kExitOk},
        {DownloadFailure::BadAddress, with(DownloadFailure::BadAddress, [](auto& r) { r.url = "file:///etc/passwd"; }),
         "Refused to fetch file:///etc/passwd: only https and http addresses are followed", kExitDownload},
        {DownloadFailure::BadRedirect,
         with(DownloadFailure::BadRedirect,
              [](auto& r) {
                  r.url = "https://h/m.json";
                  r.detail = "ftp://h/m.json";
              }),
         "Refused to follow a redirect from https://h/m.json to ftp://h/m.json: only https and http addresses are "
         "followed",
         kExitDownload},
        {DownloadFailure::InsecureRedirect,
         with(DownloadFailure::InsecureRedirect,
              [](auto& r) {
                  r.url = "https://h/a";
                  r.detail = "Insecure redirect";
              }),
         "Network error fetching https://h/a: Insecure redirect", kExitDownload},
        {DownloadFailure::HttpStatus,
         with(DownloadFailure::HttpStatus,
              [](auto& r) {
                  r.url = "http://h/a";
                  r.detail = "Not Found";
              }),
         "Network error fetching http://h/a: Not Found", kExitDownload},
        {DownloadFailure::Network,
         with(DownloadFailure::Network,
              [](auto& r) {
                  r.url = "http://h/a";
                  r.detail = "Connection refused";
              }),
         "Network error fetching http://h/a: Connection refused", kExitDownload},
        {DownloadFailure::TimedOut, with(DownloadFailure::TimedOut, [](auto& r) { r.url = "http://h/a"; }),
         "Timed out fetching http://h/a", kExitDownload},
        {DownloadFailure::TooLarge,
         with(DownloadFailure::TooLarge,
              [](auto& r) {
                  r.url = "http://h/a";
                  r.limit = 1048576;
              }),
         "Refused http://h/a: larger than the limit of 1048576 bytes", kExitDownload},
        {DownloadFailure::Truncated,
         with(DownloadFailure::Truncated,
              [](auto& r) {
                  r.url = "http://h/a";
                  r.received = 2000;
                  r.announced = 5000;
              }),
         "Download of http://h/a ended after 2000 of 5000 announced bytes", kExitDownload},
        {DownloadFailure::EmptyDownload, with(DownloadFailure::EmptyDownload, [](auto& r) { r.url = "http://h/a"; }),
         "Downloaded file is empty: http://h/a", kExitDownload},
        {DownloadFailure::EmptyManifest, DownloadResult::failed(DownloadFailure::EmptyManifest), "", kExitDownload},
        {DownloadFailure::NoDigest, with(DownloadFailure::NoDigest, [](auto& r) { r.file = "/c/app.bin"; }),
         "No valid SHA-256 digest for /c/app.bin; it is not downloaded", kExitDownload},
        {DownloadFailure::EntryWithoutDigest,
         with(DownloadFailure::EntryWithoutDigest, [](auto& r) { r.file = "app.bin"; }),
         "Manifest entry app.bin has no valid sha256 (64 hexadecimal digits)", kExitDownload},
        {DownloadFailure::DigestMismatch,
         with(DownloadFailure::DigestMismatch,
              [](auto& r) {
                  r.what = "Airport database";
                  r.expected = "aa";
                  r.actual = "bb";
              }),
         "Airport database SHA-256 does not match the manifest.\nExpected: aa\nActual:   bb", kExitDownload},
        {DownloadFailure::FileTooLarge,
         with(DownloadFailure::FileTooLarge,
              [](auto& r) {
                  r.file = "/l/app.bin";
                  r.limit = 7;
              }),
         "/l/app.bin is larger than the limit of 7 bytes", kExitDownload},
        {DownloadFailure::FileUnreadable, with(DownloadFailure::FileUnreadable, [](auto& r) { r.file = "/l/a.bin"; }),
         "Could not read firmware file: /l/a.bin", kExitDownload},
        {DownloadFailure::FileReadFailed, with(DownloadFailure::FileReadFailed, [](auto& r) { r.file = "/l/a.bin"; }),
         "Failed to hash firmware file: /l/a.bin", kExitDownload},
        {DownloadFailure::FileWrite, with(DownloadFailure::FileWrite, [](auto& r) { r.file = "/c/a.bin"; }),
         "Could not write /c/a.bin", kExitDownload},
        {DownloadFailure::FileIncomplete, with(DownloadFailure::FileIncomplete, [](auto& r) { r.file = "/c/a.bin"; }),
         "Failed to write complete file to /c/a.bin", kExitDownload},
        {DownloadFailure::FileRefused,
         with(DownloadFailure::FileRefused,
              [](auto& r) {
                  r.file = "/c/a.bin";
                  r.detail = "Could not write /c/a.bin: it exists and is not a regular file";
              }),
         "Could not write /c/a.bin: it exists and is not a regular file", kExitDownload},
        {DownloadFailure::ManifestUnreadable,
         with(DownloadFailure::ManifestUnreadable, [](auto& r) { r.file = "/m.json"; }),
         "Could not open manifest: /m.json", kExitDownload},
        {DownloadFailure::ManifestTooLarge,
         with(DownloadFailure::ManifestTooLarge,
              [](auto& r) {
                  r.limit = 1048576;
                  r.file = "/m.json";
              }),
         "Manifest is larger than the limit of 1048576 bytes: /m.json", kExitDownload},
        {DownloadFailure::ManifestRefused,
         with(DownloadFailure::ManifestRefused,
              [](auto& r) {
                  r.url = "http://h/m.json";
                  r.detail = "Invalid manifest JSON: illegal value";
              }),
         "Refused the downloads manifest from http://h/m.json: Invalid manifest JSON: illegal value", kExitDownload},
        {DownloadFailure::InvalidJson, with(DownloadFailure::InvalidJson, [](auto& r) { r.detail = "illegal value"; }),
         "Invalid manifest JSON: illegal value", kExitDownload},
        {DownloadFailure::BadManifest,
         with(DownloadFailure::BadManifest, [](auto& r) { r.detail = "Invalid sha256 for device_type D5"; }),
         "Invalid sha256 for device_type D5", kExitDownload},
        {DownloadFailure::ReservedFileName,
         with(DownloadFailure::ReservedFileName, [](auto& r) { r.file = "downloads_manifest.json"; }),
         "Package file name downloads_manifest.json is the manifest's own name", kExitDownload},
        {DownloadFailure::SharedFileName, with(DownloadFailure::SharedFileName, [](auto& r) { r.file = "a.bin"; }),
         "Package file name a.bin is used by two entries", kExitDownload},
        {DownloadFailure::NoFileName, with(DownloadFailure::NoFileName, [](auto& r) { r.detail = "database_file"; }),
         "Manifest entry has no database_file name", kExitDownload},
        {DownloadFailure::NotAvailable, with(DownloadFailure::NotAvailable, [](auto& r) { r.detail = "Firmware"; }),
         "Firmware package not available locally and manifest has no download_url", kExitDownload},
    };
    std::set<int> kinds;
    for (const Row& row : rows) {
        const int kind = static_cast<int>(row.failure);
        kinds.insert(kind);
        EXPECT_EQ(row.result.failure, row.failure) << kind;
        EXPECT_EQ(row.result.ok(), row.failure == DownloadFailure::None) << kind;
        EXPECT_EQ(vk61::describe(row.result).toStdString(), row.text) << kind;
        EXPECT_EQ(vk61::cli::exit_code(row.result), row.exit) << kind;
        // The results that carry a body or a path read the same.
        EXPECT_EQ(vk61::describe(vk61::FileResult(row.result)).toStdString(), row.text) << kind;
        EXPECT_EQ(vk61::cli::exit_code(vk61::FetchResult(row.result)), row.exit) << kind;
    }
    // Every kind of the closed list has its row.
    EXPECT_EQ(kinds.size(), static_cast<std::size_t>(DownloadFailure::NotAvailable) + 1);
}

}  // namespace
}  // namespace clitest
