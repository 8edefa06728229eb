#pragma once
// Keeps a paced source's FIFO level near a target by steering the resampling ratio: a slow PI
// loop on the smoothed fill level. Inside a dead band around the target it stays disengaged
// (correction 0), so a source whose clock matches the pull's passes through untouched; once the
// level leaves the band it engages and stays engaged (bumpless: the correction starts from 0).
//
// Thread contract: single-threaded (the pull thread); no allocation.
namespace velloran::audio::engine {

class DriftController {
 public:
  struct Settings {
    double targetSeconds = 0.25;    // level the loop steers to
    double bandSeconds = 0.15;      // +- dead band before engaging
    double kp = 0.04;               // correction per second of level error
    double ki = 0.0004;             // correction per second^2 of integrated error
    double maxCorrection = 0.02;    // |correction| limit (relative ratio change)
    double smoothingSeconds = 1.0;  // time constant of the level filter
  };

  DriftController() = default;
  explicit DriftController(const Settings& settings) : settings_(settings) {}

  const Settings& Config() const noexcept { return settings_; }
  // Forget the level history (after priming); keeps the engaged state.
  void Restart() noexcept { haveLevel_ = false; }
  void Engage() noexcept;
  bool Engaged() const noexcept { return engaged_; }
  // Feeds the level after a block of dt seconds; returns the relative correction of the
  // ratio (positive: consume input faster). 0 while disengaged.
  double Update(double levelSeconds, double dtSeconds) noexcept;
  double SmoothedLevel() const noexcept { return level_; }

 private:
  Settings settings_;
  bool engaged_ = false;
  bool haveLevel_ = false;
  double level_ = 0.0;
  double integral_ = 0.0;
  double correction_ = 0.0;
};

}  // namespace velloran::audio::engine
