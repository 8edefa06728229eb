#include "app/HttpAlarmService.h"

namespace velloran::app {

HttpAlarmService::HttpAlarmService(TVelloranApp& app)
    : worker_([&app](const std::string& line) { app.LogMessage(nullptr, line); }) {}

}  // namespace velloran::app
