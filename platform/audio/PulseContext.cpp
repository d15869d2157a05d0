#include "platform/audio/PulseContext.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/proplist.h>
#include <pulse/thread-mainloop.h>

namespace audio {

std::shared_ptr<PulseContext> PulseContext::connect(std::chrono::milliseconds timeout, std::string* error) {
  const auto fail = [error](const std::string& why) -> std::shared_ptr<PulseContext> {
    if (error != nullptr) *error = why;
    return nullptr;
  };
  std::shared_ptr<PulseContext> self(new PulseContext());
  self->mainloop_ = pa_threaded_mainloop_new();
  if (self->mainloop_ == nullptr) return fail("cannot make a libpulse main loop");
  pa_proplist* properties = pa_proplist_new();
  if (properties == nullptr) return fail("cannot make a libpulse property list");
  pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Kestrova");
  pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "kestrova");
  self->context_ =
      pa_context_new_with_proplist(pa_threaded_mainloop_get_api(self->mainloop_), "Kestrova", properties);
  pa_proplist_free(properties);
  if (self->context_ == nullptr) return fail("cannot make a libpulse context");
  pa_context_set_state_callback(self->context_, &PulseContext::onState, self.get());
  // Nothing runs the loop yet, so no lock is needed for the connect call.
  if (pa_context_connect(self->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    return fail(pa_strerror(pa_context_errno(self->context_)));
  }
  if (pa_threaded_mainloop_start(self->mainloop_) < 0) return fail("cannot start the libpulse main loop");

  std::unique_lock lock(self->stateMutex_);
  const bool settled = self->stateChanged_.wait_for(lock, timeout, [&] {
    return self->state_ == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(static_cast<pa_context_state_t>(self->state_));
  });
  const int state = self->state_;
  lock.unlock();
  if (!settled) return fail("the sound server did not answer in time");
  if (state != PA_CONTEXT_READY) {
    std::lock_guard loop(*self);
    return fail(pa_strerror(pa_context_errno(self->context_)));
  }
  return self;
}

PulseContext::~PulseContext() {
  if (context_ != nullptr) {
    if (mainloop_ != nullptr) pa_threaded_mainloop_lock(mainloop_);
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    if (mainloop_ != nullptr) pa_threaded_mainloop_unlock(mainloop_);
  }
  if (mainloop_ != nullptr) {
    pa_threaded_mainloop_stop(mainloop_);
    pa_threaded_mainloop_free(mainloop_);
  }
}

void PulseContext::lock() { pa_threaded_mainloop_lock(mainloop_); }

void PulseContext::unlock() { pa_threaded_mainloop_unlock(mainloop_); }

void PulseContext::onState(pa_context* context, void* opaque) {
  auto* self = static_cast<PulseContext*>(opaque);
  const pa_context_state_t state = pa_context_get_state(context);
  self->alive_ = state == PA_CONTEXT_READY;
  std::lock_guard lock(self->stateMutex_);
  self->state_ = state;
  self->stateChanged_.notify_all();
}

}  // namespace audio
