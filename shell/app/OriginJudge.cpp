#include "shell/app/OriginJudge.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>

#include "platform/sockhub/SockHub.h"
#include "platform/ui/WindowApi.h"
#include "shell/app/OriginPrompt.h"

namespace kestrova {
namespace {

// The server calls a plain function; it reaches the installed judge here.
std::atomic<OriginJudge*> installed{nullptr};

void onAskOrigin(int32_t questionId, const char* origin) {
  OriginJudge* judge = installed.load();
  if (judge == nullptr || origin == nullptr) {
    SockHub_AnswerOrigin(questionId, 0);
    return;
  }
  judge->ask(questionId, origin);
}

std::string lowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

OriginJudge::OriginJudge(TrustedOrigins trusted, ui::HWND uiWindow, bool canAsk, std::chrono::milliseconds timeout)
    : trusted_(std::move(trusted)), uiWindow_(uiWindow), canAsk_(canAsk), timeout_(timeout) {}

OriginJudge::~OriginJudge() {
  OriginJudge* self = this;
  installed.compare_exchange_strong(self, nullptr);
}

void OriginJudge::install() {
  installed.store(this);
  SockHubAskOriginParam param{&onAskOrigin};
  SockHub_AskOriginIf(&param);
}

void OriginJudge::refuse(int32_t questionId, const std::string& origin, const char* why) {
  std::fprintf(stderr, "kestrova: a page from %s was refused: %s\n",
               TrustedOrigins::looksLikeOrigin(origin) ? origin.c_str() : "an origin that is not one", why);
  SockHub_AnswerOrigin(questionId, 0);
}

void OriginJudge::ask(int32_t questionId, const std::string& origin) {
  if (!TrustedOrigins::looksLikeOrigin(origin)) {
    refuse(questionId, origin, "no page sends such an origin");
    return;
  }
  if (trusted_.contains(origin)) {
    SockHub_AnswerOrigin(questionId, 1);
    return;
  }
  if (!canAsk_) {
    refuse(questionId, origin, "it is not trusted and there is no desktop to ask on");
    return;
  }
  const std::string key = lowerCase(origin);
  {
    std::lock_guard lock(mutex_);
    if (closed_) {
      refuse(questionId, origin, "Kestrova is shutting down");
      return;
    }
    auto it = open_.find(key);
    if (it != open_.end()) {
      it->second.questions.push_back(questionId);
      return;
    }
    if (open_.size() >= kMaxOpenPrompts) {
      refuse(questionId, origin, "too many pages are waiting for an answer");
      return;
    }
    open_[key].questions.push_back(questionId);
  }
  const bool posted = ui::postTask(uiWindow_, [this, origin] { showPrompt(origin); });
  if (!posted) answer(origin, false, false, false);
}

void OriginJudge::showPrompt(const std::string& origin) {
  auto prompt = std::make_unique<OriginPrompt>(origin, [this, origin](OriginPrompt::Choice choice) {
    answer(origin, choice != OriginPrompt::Choice::Deny, choice == OriginPrompt::Choice::Always, true);
  });
  OriginPrompt* shown = prompt.get();
  {
    std::lock_guard lock(mutex_);
    auto it = open_.find(lowerCase(origin));
    if (it == open_.end()) return;  // answered meanwhile (closeAll)
    it->second.prompt = std::move(prompt);
  }
  if (!shown->show(timeout_)) answer(origin, false, false, false);
}

void OriginJudge::answer(const std::string& origin, bool allow, bool always, bool fromPrompt) {
  Open done;
  {
    std::lock_guard lock(mutex_);
    auto it = open_.find(lowerCase(origin));
    if (it == open_.end()) return;
    done = std::move(it->second);
    open_.erase(it);
  }
  if (always && !trusted_.append(origin)) {
    std::fprintf(stderr, "kestrova: could not add %s to %s\n", origin.c_str(), trusted_.path().c_str());
  }
  for (const int32_t id : done.questions) {
    if (allow) {
      SockHub_AnswerOrigin(id, 1);
    } else {
      refuse(id, origin, "the user said no");
    }
  }
  // A prompt that answered from its own handler is destroyed once that
  // handler has returned; otherwise here (the user-interface thread).
  if (done.prompt && fromPrompt) {
    ui::postTask(uiWindow_, [prompt = std::shared_ptr<OriginPrompt>(std::move(done.prompt))] {});
  }
}

void OriginJudge::closeAll() {
  SockHubAskOriginParam none{nullptr};
  SockHub_AskOriginIf(&none);
  std::vector<std::string> origins;
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    for (const auto& [key, open] : open_) origins.push_back(key);
  }
  for (const std::string& origin : origins) answer(origin, false, false, false);
  OriginJudge* self = this;
  installed.compare_exchange_strong(self, nullptr);
}

}  // namespace kestrova
