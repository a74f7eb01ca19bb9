#pragma once

#include <cstdint>

namespace option::PrintUsageImplementation {

// The one channel through which the usage text leaves the printer, so the
// printer never needs to know where its text ends up.
class IStringWriter {
 public:
  // Writes exactly count bytes of text, unchanged and without a terminator.
  virtual void operator()(const char* text, std::int32_t count) = 0;

 protected:
  // Writers are never owned or deleted through this interface.
  IStringWriter() = default;
  IStringWriter(const IStringWriter&) = default;
  IStringWriter& operator=(const IStringWriter&) = default;
  ~IStringWriter() = default;
};

// Writes to an output stream that it does not own. The stream's state is
// deliberately ignored: the usage text has nobody to report a failure to.
template <typename Stream>
class OStreamWriter final : public IStringWriter {
 public:
  explicit OStreamWriter(Stream& output) : stream(output) {}

  void operator()(const char* text, std::int32_t count) override { stream.write(text, count); }

 private:
  Stream& stream;
};

}  // namespace option::PrintUsageImplementation
