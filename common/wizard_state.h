// The values the pages leave in WizardState, which the page loop reads to choose the next
// page. Every stage that ends a page stores one of them.
#pragma once
#include <cstdint>

constexpr int32_t kWelcomeInitial = 5;
constexpr int32_t kWelcomeNext = 3;
constexpr int32_t kWelcomeCancel = 0;
constexpr int32_t kDriveCreate = 1;
constexpr int32_t kDriveBack = 2;
constexpr int32_t kDriveCancel = 3;
constexpr int32_t kProgressFinished = 0;
constexpr int32_t kProgressNext = 1;
constexpr int32_t kProgressStopped = 2;
