#include "platform/ui/backends/X11ShmPixels.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>

#include <cstdlib>

#include "platform/ui/backends/X11Connection.h"

namespace ui {

std::shared_ptr<X11ShmPixels> X11ShmPixels::create(X11Connection& x, int stride, int rows, bool* refusedByServer) {
  if (refusedByServer) *refusedByServer = false;
  if (stride <= 0 || rows <= 0 || stride % 4 != 0) return nullptr;
  const size_t size = static_cast<size_t>(stride) * static_cast<size_t>(rows);
  const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
  if (id < 0) return nullptr;
  void* address = shmat(id, nullptr, 0);
  if (address == reinterpret_cast<void*>(-1)) {
    shmctl(id, IPC_RMID, nullptr);
    return nullptr;
  }
  const uint32_t segment = xcb_generate_id(x.get());
  xcb_generic_error_t* error = xcb_request_check(x.get(), xcb_shm_attach_checked(x.get(), segment, id, 0));
  // The segment lives on while attached; removing its name now means a
  // crash cannot leak it.
  shmctl(id, IPC_RMID, nullptr);
  if (error) {
    free(error);
    shmdt(address);
    if (refusedByServer) *refusedByServer = true;
    return nullptr;
  }
  return std::make_shared<X11ShmPixels>(x.shared_from_this(), static_cast<uint8_t*>(address), segment, stride, rows);
}

X11ShmPixels::X11ShmPixels(std::shared_ptr<X11Connection> x, uint8_t* address, uint32_t segment, int stride, int rows)
    : PixelMemory(address, stride, rows), x_(std::move(x)), segment_(segment) {}

X11ShmPixels::~X11ShmPixels() {
  {
    std::lock_guard lock(fenceMutex_);
    waitLocked();
  }
  xcb_shm_detach(x_->get(), segment_);
  xcb_flush(x_->get());
  shmdt(data());
}

void X11ShmPixels::waitReaders() {
  std::lock_guard lock(fenceMutex_);
  waitLocked();
}

void X11ShmPixels::waitLocked() {
  if (!fence_) return;
  free(xcb_get_input_focus_reply(x_->get(), *fence_, nullptr));
  fence_.reset();
}

void X11ShmPixels::fenceAfterRead() {
  std::lock_guard lock(fenceMutex_);
  // A reply to a later request means the server is done with the earlier
  // reads as well.
  if (fence_) xcb_discard_reply(x_->get(), fence_->sequence);
  fence_ = xcb_get_input_focus(x_->get());
}

}  // namespace ui
