#include "wizard/page_flow.h"

#include <gtest/gtest.h>

#include "wizard/agreement_layout.h"

TEST(PageFlow, WelcomeEndsOnCancelOrCloseAndGoesOnAfterNext) {
    EXPECT_EQ(NextWizardStep(WizardStep::Welcome, kWelcomeCancel), WizardStep::End);
    EXPECT_EQ(NextWizardStep(WizardStep::Welcome, kWelcomeInitial), WizardStep::End);
    EXPECT_EQ(NextWizardStep(WizardStep::Welcome, kWelcomeNext), WizardStep::DriveSelection);
}

TEST(PageFlow, DriveSelectionResults) {
    EXPECT_EQ(NextWizardStep(WizardStep::DriveSelection, kDriveCreate), WizardStep::Progress);
    EXPECT_EQ(NextWizardStep(WizardStep::DriveSelection, kDriveBack), WizardStep::DriveSelection);
    EXPECT_EQ(NextWizardStep(WizardStep::DriveSelection, kDriveCancel), WizardStep::End);
    EXPECT_EQ(NextWizardStep(WizardStep::DriveSelection, 0), WizardStep::End);  // close box
    EXPECT_EQ(NextWizardStep(WizardStep::DriveSelection, -1), WizardStep::End);
}

TEST(PageFlow, ProgressResults) {
    EXPECT_EQ(NextWizardStep(WizardStep::Progress, kProgressStopped), WizardStep::DriveSelection);
    EXPECT_EQ(NextWizardStep(WizardStep::Progress, kProgressFinished), WizardStep::End);
    EXPECT_EQ(NextWizardStep(WizardStep::Progress, kProgressNext), WizardStep::End);
    EXPECT_EQ(NextWizardStep(WizardStep::End, kDriveBack), WizardStep::End);
}

TEST(StartUp, SourceDriveIsTheUpperCasedFirstByteOfThePath) {
    EXPECT_EQ(SourceDriveFromModulePath("e:\\HalcyraCreator.exe", 21), 'E');
    EXPECT_EQ(SourceDriveFromModulePath("C:\\Program Files\\x.exe", 22), 'C');
    EXPECT_EQ(SourceDriveFromModulePath("z:\\x", 4), 'Z');
    // A path that couldn't be read matches no drive letter.
    EXPECT_EQ(static_cast<unsigned char>(SourceDriveFromModulePath("", 0)), 0xFF);
}

TEST(StartUp, OnlyVersion5Point0IsWindows2000) {
    EXPECT_TRUE(IsWindows2000Version(5, 0));
    EXPECT_FALSE(IsWindows2000Version(5, 1));
    EXPECT_FALSE(IsWindows2000Version(4, 0));
    EXPECT_FALSE(IsWindows2000Version(6, 0));
}

TEST(Settings, AcceptSetsBitOneAndKeepsTheRestDeclineClearsAll) {
    EXPECT_EQ(FlagsAfterAccept(0), 0x1u);
    EXPECT_EQ(FlagsAfterAccept(0x10), 0x11u);
    EXPECT_EQ(FlagsAfterAccept(0x11), 0x11u);
    EXPECT_EQ(FlagsAfterDecline(0x11), 0u);
    EXPECT_EQ(FlagsAfterDecline(0xFFFFFFFFu), 0u);
    EXPECT_FALSE(AgreementGatePasses(0x10));
    EXPECT_TRUE(AgreementGatePasses(0x11));
}

TEST(AgreementLayout, WindowIsCentredAndAtMost620Wide) {
    struct Case { int w, h, x, y, width, height; } cases[] = {
        {1920, 1080, 625, 50, 620, 930},
        {1024, 768, 177, 50, 620, 618},
        {1025, 768, 177, 50, 621, 618},
        {800, 600, 65, 50, 620, 450},
        {640, 480, 50, 50, 490, 330},  // narrower than 620: no centring shift
    };
    for (const Case& c : cases) {
        PixelRect r = AgreementWindowPlacement(c.w, c.h);
        EXPECT_EQ(r.x, c.x) << c.w;
        EXPECT_EQ(r.y, c.y) << c.w;
        EXPECT_EQ(r.width, c.width) << c.w;
        EXPECT_EQ(r.height, c.height) << c.w;
    }
}

TEST(AgreementLayout, ButtonsHugTheBottomCorners) {
    PixelRect text = AgreementControlPlacement(kAgreementText, 600, 400);
    EXPECT_EQ(text.width, 596);
    EXPECT_EQ(text.height, 370);
    PixelRect accept = AgreementControlPlacement(kAgreementAccept, 600, 400);
    EXPECT_EQ(accept.x + accept.width, 598);
    EXPECT_EQ(accept.y, 375);
    PixelRect decline = AgreementControlPlacement(kAgreementDecline, 600, 400);
    EXPECT_EQ(decline.x + decline.width + 2, accept.x);
    EXPECT_EQ(AgreementControlPlacement(kAgreementPrint, 600, 400).x, 64);
}
