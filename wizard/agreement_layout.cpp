#include "wizard/agreement_layout.h"

PixelRect AgreementWindowPlacement(int desktopWidth, int desktopHeight) {
    int left = 50, top = 50;
    int right = desktopWidth - 100, bottom = desktopHeight - 100;
    if (right - left > 620) {
        const int shift = (right - left - 620) / 2;
        left += shift;
        right -= shift;
    }
    return {left, top, right - left, bottom - top};
}

PixelRect AgreementControlPlacement(AgreementControl control, int w, int h) {
    switch (control) {
    case kAgreementText: return {2, 2, w - 4, h - 30};
    case kAgreementSave: return {2, h - 25, 60, 20};
    case kAgreementPrint: return {64, h - 25, 60, 20};
    case kAgreementDecline: return {w - 124, h - 25, 60, 20};
    case kAgreementAccept: return {w - 62, h - 25, 60, 20};
    default: return {0, 0, 0, 0};
    }
}
