#include "audio/engine/DriftController.h"

#include <algorithm>
#include <cmath>

namespace velloran::audio::engine {

void DriftController::Engage() noexcept {
  if (engaged_) {
    return;
  }
  engaged_ = true;
  // Bumpless start: choose the integral so that the correction is 0 right now.
  const double error = level_ - settings_.targetSeconds;
  integral_ = settings_.ki > 0 ? -settings_.kp * error / settings_.ki : 0.0;
  correction_ = 0.0;
}

double DriftController::Update(double levelSeconds, double dtSeconds) noexcept {
  if (!haveLevel_) {
    level_ = levelSeconds;
    haveLevel_ = true;
  } else {
    level_ += (levelSeconds - level_) * dtSeconds / (settings_.smoothingSeconds + dtSeconds);
  }
  const double error = level_ - settings_.targetSeconds;
  if (!engaged_) {
    if (std::fabs(error) <= settings_.bandSeconds) {
      return 0.0;
    }
    Engage();
  }
  const double integral = integral_ + error * dtSeconds;
  const double raw = settings_.kp * error + settings_.ki * integral;
  const double limited = std::clamp(raw, -settings_.maxCorrection, settings_.maxCorrection);
  if (raw == limited) {
    integral_ = integral;  // no wind-up while saturated
  }
  correction_ = limited;
  return correction_;
}

}  // namespace velloran::audio::engine
