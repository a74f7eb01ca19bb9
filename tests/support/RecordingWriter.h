#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "option/StringWriter.h"

// Keeps every writer call, so tests can check both the text and how it was
// cut into calls. Storage is reserved up front: recording allocates nothing
// as long as the reserve is not exceeded, which lets allocation tests use it.
class RecordingWriter final : public option::PrintUsageImplementation::IStringWriter {
 public:
  struct Call {
    std::size_t offset;
    std::int32_t count;
  };

  explicit RecordingWriter(std::size_t reservedBytes = 1U << 16) {
    recorded.reserve(reservedBytes);
    calls.reserve(reservedBytes);
  }

  void operator()(const char* text, std::int32_t count) override {
    calls.push_back({recorded.size(), count});
    recorded.append(text, static_cast<std::size_t>(std::max(count, 0)));
  }

  const std::string& text() const { return recorded; }
  std::size_t callCount() const { return calls.size(); }
  std::int32_t count(std::size_t call) const { return calls.at(call).count; }
  std::string_view call(std::size_t index) const {
    const Call& entry = calls.at(index);
    return std::string_view(recorded).substr(entry.offset,
                                             static_cast<std::size_t>(std::max(entry.count, 0)));
  }
  // All calls, each shown as its text in brackets, for call-pattern checks.
  std::string callPattern() const {
    std::string pattern;
    for (std::size_t index = 0; index < calls.size(); ++index) {
      pattern.append("[").append(call(index)).append("]");
    }
    return pattern;
  }

 private:
  std::string recorded;
  std::vector<Call> calls;
};
