#pragma once
// Tests only: plays a sine into a server sink (e.g. "mic") on its own thread
// until destroyed, at the pace the server takes it.
#include <atomic>
#include <string>
#include <thread>

namespace audio::testing {

class TonePlayer {
 public:
  static constexpr int kSampleRate = 8000;

  TonePlayer(const std::string& sink, double frequency, int amplitude = 8000);
  ~TonePlayer();
  TonePlayer(const TonePlayer&) = delete;
  TonePlayer& operator=(const TonePlayer&) = delete;

  bool ok() const { return ok_; }
  const std::string& why() const { return why_; }

 private:
  void run();

  const double frequency_;
  const int amplitude_;
  std::string why_;
  bool ok_ = false;
  void* simple_ = nullptr;  // the pa_simple; the playing thread's only
  std::atomic<bool> quit_{false};
  std::thread thread_;
};

}  // namespace audio::testing
