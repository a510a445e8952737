#include "ui/taskbar_progress.h"

TaskbarProgress DecideTaskbarProgress(const RunFigures& figures) {
    const uint32_t total = figures.high > 0 ? static_cast<uint32_t>(figures.high) : 1;
    uint32_t completed = 0;
    if (figures.position > 0)
        completed = static_cast<uint32_t>(figures.position) < total
                        ? static_cast<uint32_t>(figures.position)
                        : total;
    if (figures.alert) return {TaskbarMode::Error, completed ? completed : total, total};
    if (figures.downloading && !figures.counted) return {TaskbarMode::Indeterminate, 0, 0};
    return {TaskbarMode::Normal, completed, total};
}
