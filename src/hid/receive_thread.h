#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "core/state.h"

// The worker thread that owns the HID side of the link: it looks for a logger
// every 50 ms, opens it, keeps one read outstanding, hands each answer over
// through rxState, and tells the poll pass of arrival and removal through
// linkEvent. While a firmware upgrade sends frames it judges their answers
// itself and moves the upgrade on through the upgrade hook.
class HidReceiveThread {
 public:
  // Moves a firmware upgrade on: true resends the last frame unchanged,
  // false builds and sends the next one. Runs on the receive thread.
  using UpgradeHook = std::function<void(bool resend)>;

  HidReceiveThread(ToolState& state, HidPort& port);
  ~HidReceiveThread();  // stops and joins
  HidReceiveThread(const HidReceiveThread&) = delete;
  HidReceiveThread& operator=(const HidReceiveThread&) = delete;

  void setUpgradeHook(UpgradeHook hook) { upgradeHook_ = std::move(hook); }

  // Starts the thread; the link must be in its start state.
  void start();
  // Asks the thread to stop, waits for it, and closes the channels. A stop
  // request is noticed within kStopSlice.
  void stop();

  static constexpr std::chrono::milliseconds kSearchPeriod{50};
  static constexpr std::chrono::milliseconds kSilenceLimit{1000};
  static constexpr std::chrono::milliseconds kStopSlice{50};
  // A logger that stays silent through this many resends of one upgrade
  // frame while it is still plugged in has stopped taking its firmware.
  static constexpr int kUpgradeResendLimit = 5;

  // What the user is told when a logger is there but may not be opened.
  static std::string NoPermissionMessage(const std::string& path);

 private:
  void run(std::stop_token stop);
  void pass(const std::stop_token& stop);
  void search(const std::stop_token& stop);
  void awaitInput();
  void judgeUpgradeAnswer();
  void removalTest();
  void removed();
  void abandonUpgrade();

  ToolState& state_;
  HidPort& port_;
  UpgradeHook upgradeHook_;
  std::jthread thread_;

  // Thread-private.
  bool readOutstanding_ = false;
  bool sendNext_ = false;
  int unansweredResends_ = 0;  // of the frame last sent
  std::chrono::steady_clock::time_point silentSince_{};
  std::string permissionReported_;  // path whose refusal has been reported
};
