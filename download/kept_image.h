// The kept image's Win32 side: its record in the program's registry key, where only
// administrators can change it (image_record.h has the record and the decisions). The image's
// SHA-256 is taken by the writer, in the same pass as the write (common/sha256.h).
#pragma once
#include <cstdint>

#include "download/image_record.h"

// The record, the string value KeptImage of the program's key.
RecordState ReadImageRecord(ImageRecord* record);
bool WriteImageRecord(const ImageRecord& record);
void RemoveImageRecord();

// The local time now, for the record.
RecordDate RecordDateNow();
