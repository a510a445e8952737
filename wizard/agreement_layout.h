// Placement of the licence agreement screen and of its controls, in pixels.
#pragma once

struct PixelRect {
    int x, y, width, height;
};

// The window: 50 pixels in from the desktop's top left, 100 from its right and bottom, and at
// most 620 (621 for an odd excess) pixels wide, centred.
PixelRect AgreementWindowPlacement(int desktopWidth, int desktopHeight);

enum AgreementControl { kAgreementText, kAgreementSave, kAgreementPrint, kAgreementDecline,
                        kAgreementAccept, kAgreementControlCount };

// The controls for a client area of width w and height h.
PixelRect AgreementControlPlacement(AgreementControl control, int w, int h);
