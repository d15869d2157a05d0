#pragma once
// Decides about a page whose origin nobody listed, for the WebSocket server.
// An origin in the user's file of trusted origins comes in at once. On a
// desktop the user is asked (OriginPrompt): Allow once, Always (the origin is
// added to the file) or Deny; every connection of that origin waiting
// meanwhile gets the same answer. Without a desktop, or with more questions
// open than a person can take in, the answer is no. Refusals are logged
// with the origin.
//
// Threads: ask() runs on the server's I/O thread and never blocks: the
// prompt is made on the user-interface thread (the dialog window's), where
// answers and closeAll() run too. mutex_ guards the table of open questions.
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ui/Types.h"
#include "shell/services/TrustedOrigins.h"

namespace kestrova {

class OriginPrompt;

class OriginJudge {
 public:
  // Questions of more origins than this at once are refused without asking.
  static constexpr size_t kMaxOpenPrompts = 3;

  // uiWindow: a window of the user-interface thread; canAsk: whether a
  // person can see a prompt (a desktop on screen).
  OriginJudge(TrustedOrigins trusted, ui::HWND uiWindow, bool canAsk,
              std::chrono::milliseconds timeout = std::chrono::seconds(60));
  ~OriginJudge();

  // Registers with the server as its judge (and unregisters on closeAll).
  void install();
  // Denies every open question and closes the prompts; later questions are
  // refused. UI thread.
  void closeAll();

  // A new question (I/O thread).
  void ask(int32_t questionId, const std::string& origin);

 private:
  struct Open {
    std::vector<int32_t> questions;
    std::unique_ptr<OriginPrompt> prompt;  // UI thread only
  };
  void showPrompt(const std::string& origin);  // UI thread
  // Answers every question of the origin and drops its prompt (later when
  // the prompt itself answered, from inside its handler).
  void answer(const std::string& origin, bool allow, bool always, bool fromPrompt);
  static void refuse(int32_t questionId, const std::string& origin, const char* why);

  const TrustedOrigins trusted_;
  const ui::HWND uiWindow_;
  const bool canAsk_;
  const std::chrono::milliseconds timeout_;

  std::mutex mutex_;
  std::map<std::string, Open> open_;  // guarded by mutex_; by origin in lower case
  bool closed_ = false;               // guarded by mutex_
};

}  // namespace kestrova
