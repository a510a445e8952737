// The raw image writer: puts the image onto the physical disk behind TargetDrive, showing
// progress on the progress page (controls 1018 and 1019).
#pragma once

#include "write/image_writer_core.h"

// Runs on the download worker thread, on the image its caller opened; returns the ending it
// took (WriterEnding::Success only when the image is on the disk and read back whole).
WriterEnding ImageWriter(WriterImage* image);
