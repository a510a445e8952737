#include "app/page_flow.h"

#include <gtest/gtest.h>

TEST(PageFlow, WelcomeEndsOnCancelOrCloseAndGoesOnAfterNext) {
    EXPECT_EQ(NextWizardStep(WizardStep::Welcome, kWelcomeCancel), WizardStep::End);
    EXPECT_EQ(NextWizardStep(WizardStep::Welcome, kWelcomeInitial), WizardStep::End);
    EXPECT_EQ(NextWizardStep(WizardStep::Welcome, kWelcomeNext), WizardStep::DriveSelection);
}
