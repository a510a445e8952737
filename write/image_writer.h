// The raw image writer: puts the image file in ImagePath onto the physical disk behind
// TargetDrive, showing progress on the progress page (controls 1018 and 1019).
#pragma once

// Runs on the download worker thread. True only after the success ending.
bool ImageWriter();
