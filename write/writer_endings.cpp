// The writer's endings: what the user is told, the result left for the page loop, and the
// page's close.
#include <cstdio>

#include "common/wizard_state.h"
#include "write/writer_run.h"

WriterEnding EarlyCancelEnding(WriterRun& run, bool showMessage) {
    Note(run, "ending: cancelled before anything was written");
    if (showMessage) Ask(run, kCancelledText, kCancelledCaption, kBoxIconInformation);
    run.ops.setStatus(run.ops.context, "");
    ClearActivity(run);
    run.ops.closePage(run.ops.context, false);
    return WriterEnding::EarlyCancel;
}

// Back to the drive selection page to choose again, with nothing written: WizardState 2 and
// WM_CLOSE sent, so that the page loop reads the result after the page has gone.
WriterEnding ToDrivePage(WriterRun& run, WriterEnding ending) {
    ClearActivity(run);
    run.ops.setWizardState(run.ops.context, kProgressStopped);
    run.ops.closePage(run.ops.context, true);
    return ending;
}

// No to a retry prompt, or no transfer buffer: the run is cancelled. A cancel confirmed on the
// page meanwhile ends it as the early cancel, with one message.
WriterEnding DeclinedEnding(WriterRun& run, WriterEnding ending) {
    Note(run, "ending: %s, nothing written",
         ending == WriterEnding::NoBuffer ? "no transfer buffer" : "the user declined to retry");
    Ask(run, kCancelledText, kCancelledCaption, kBoxIconInformation);
    if (Cancelled(run)) {
        EarlyCancelEnding(run, false);
        return ending;
    }
    return ToDrivePage(run, ending);
}

WriterEnding ImageErrorEnding(WriterRun& run) {
    Note(run, "ending: the image file can't be opened or is empty, nothing written");
    Ask(run, kImageErrorText, kFileErrorCaption, kBoxIconError);
    if (Cancelled(run)) {
        EarlyCancelEnding(run, true);
        return WriterEnding::ImageError;
    }
    return ToDrivePage(run, WriterEnding::ImageError);
}

// The disk is unknown, the letter is no longer the chosen drive, or the disk is too small: the
// user is told why.
WriterEnding NothingWrittenEnding(WriterRun& run, const char* text, WriterEnding ending) {
    Note(run, "ending: nothing written: %s", text);
    Ask(run, text, kDriveErrorCaption, kBoxIconError);
    return ToDrivePage(run, ending);
}

WriterEnding NothingWrittenEnding(WriterRun& run, const char* format, char letter,
                                  WriterEnding ending) {
    std::snprintf(run.text, sizeof run.text, format, letter);
    return NothingWrittenEnding(run, run.text, ending);
}

WriterEnding WriteCancelEnding(WriterRun& run) {
    Note(run, "ending: the write stopped (cancel, short image, write or read-back failure)");
    run.ops.setStatus(run.ops.context, kCancelledText);
    Ask(run, kCancelledText, kCancelledCaption, kBoxIconInformation);
    ClearActivity(run);
    run.ops.setWizardState(run.ops.context, kProgressStopped);
    run.ops.closePage(run.ops.context, true);
    return WriterEnding::WriteCancel;
}

WriterEnding SuccessEnding(WriterRun& run) {
    Note(run, "ending: success, the image is written and read back whole");
    std::snprintf(run.text, sizeof run.text, kSuccessFormat, run.shared.targetDrive);
    Ask(run, run.text, kSuccessCaption, kBoxIconInformation);
    run.ops.setWizardState(run.ops.context, kProgressFinished);
    ClearActivity(run);
    run.ops.closePage(run.ops.context, false);
    return WriterEnding::Success;
}
