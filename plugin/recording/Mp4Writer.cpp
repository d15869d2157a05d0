#include "plugin/recording/Mp4Writer.h"

#include <mutex>
#include <utility>

#include "platform/streamconverter/StreamConverter.h"

namespace ksplugs {

namespace {

// Converter_Initialize for as long as any writer or factory lives;
// Converter_Release when the last of them goes.
class ConverterLibrary {
 public:
  ConverterLibrary() { ok_ = Converter_Initialize() == CONVERTER_OK; }
  ~ConverterLibrary() {
    if (ok_) Converter_Release();
  }
  ConverterLibrary(const ConverterLibrary&) = delete;
  ConverterLibrary& operator=(const ConverterLibrary&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

class ConverterWriter final : public Mp4Writer {
 public:
  explicit ConverterWriter(std::shared_ptr<ConverterLibrary> library) : library_(std::move(library)) {}
  ~ConverterWriter() override { finish(); }

  bool open(Output output) override {
    if (!library_->ok() || handle_ != -1) return false;
    output_ = std::move(output);
    int32_t handle = -1;
    if (Converter_CreateStream(&handle, 0, &ConverterWriter::onOutput, this) != CONVERTER_OK || handle == -1) {
      return false;
    }
    handle_ = handle;
    return true;
  }

  bool input(const uint8_t* frame, int32_t length) override {
    if (handle_ == -1 || failed_) return false;
    const int rc = Converter_Input(handle_, frame, length);
    // A frame the converter cannot parse is skipped; the file goes on.
    if (rc == CONVERTER_OK || rc == CONVERTER_ERR_BAD_FRAME) return true;
    failed_ = true;
    return false;
  }

  void finish() override {
    if (handle_ == -1) return;
    Converter_Destroy(handle_);
    handle_ = -1;
  }

 private:
  static int onOutput(int32_t, int32_t, int64_t, const uint8_t* data, int32_t length, int32_t, int64_t, int64_t,
                      void* context) {
    auto* self = static_cast<ConverterWriter*>(context);
    if (self == nullptr || length < 0 || (length > 0 && data == nullptr)) return 1;
    if (self->failed_) return 1;
    if (length == 0) return 0;
    if (!self->output_ || !self->output_(data, static_cast<size_t>(length))) {
      self->failed_ = true;
      return 1;
    }
    return 0;
  }

  std::shared_ptr<ConverterLibrary> library_;
  Output output_;
  int32_t handle_ = -1;
  bool failed_ = false;  // the output failed once: nothing more is written
};

// One initialisation for the whole process: a library started anew while
// the writers of its last run still finish shares it, so no Release ends
// streams that are still in use.
std::shared_ptr<ConverterLibrary> sharedLibrary() {
  static std::mutex lock;
  static std::weak_ptr<ConverterLibrary> current;  // lock
  std::lock_guard guard(lock);
  std::shared_ptr<ConverterLibrary> library = current.lock();
  if (!library) {
    library = std::make_shared<ConverterLibrary>();
    current = library;
  }
  return library;
}

}  // namespace

Mp4WriterFactory converterWriterFactory() {
  auto library = sharedLibrary();
  return [library]() -> std::unique_ptr<Mp4Writer> { return std::make_unique<ConverterWriter>(library); };
}

}  // namespace ksplugs
