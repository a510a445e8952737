#include "download/kept_image.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "common/data_folder_files.h"
#include "common/run_log.h"
#include "common/settings.h"
#include "download/download_request.h"

RecordState ReadImageRecord(ImageRecord* record) {
    char text[kRecordTextSize];
    if (!ReadSettingString(kRecordValue, text, sizeof text)) return RecordState::None;
    return ParseImageRecord(text, record) ? RecordState::Read : RecordState::Unreadable;
}

bool WriteImageRecord(const ImageRecord& record) {
    char text[kRecordTextSize];
    if (!FormatImageRecord(text, sizeof text, record)) return false;
    if (WriteSettingString(kRecordValue, text)) return true;
    LogFailure("RegSetValueExA of the image record", GetLastError());
    return false;
}

void RemoveImageRecord() { DeleteSetting(kRecordValue); }

RecordDate RecordDateNow() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    RecordDate date;
    date.year = now.wYear;
    date.month = now.wMonth;
    date.day = now.wDay;
    date.hour = now.wHour;
    date.minute = now.wMinute;
    date.second = now.wSecond;
    return date;
}

void KeepImage(ProgressCallback* self, const uint8_t digest[kSha256Size], uint64_t length) {
    if (!self->hashAvailable) {
        LogEvent("kept image: the system has no SHA-256; the image is not kept for later runs");
        return;
    }
    if (!DataFolderIsSecure()) {
        LogEvent("kept image: the image is in a folder others can change; it is not kept");
        return;
    }
    ImageRecord& record = self->record;
    record = ImageRecord{};
    snprintf(record.address, sizeof record.address, "%s", self->address);
    strcpy(record.etag, self->headers.etag);
    strcpy(record.lastModified, self->headers.lastModified);
    record.length = length;
    Sha256Text(digest, record.sha256);
    record.downloaded = RecordDateNow();
    const bool written = WriteImageRecord(record);
    LogEvent("kept image: record %s: ETag %s, Last-Modified \"%s\", %llu bytes, SHA-256 %s",
             written ? "written" : "NOT written", record.etag[0] ? record.etag : "(none)",
             record.lastModified, static_cast<unsigned long long>(length), record.sha256);
}
