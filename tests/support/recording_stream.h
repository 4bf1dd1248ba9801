#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "container_reader/byte_stream.h"

namespace kvd::testing {

// Passes calls through to another stream and notes each one, e.g. "read 132"
// or "skip 10", so that a test can check how the reader walked the file.
class RecordingStream final : public ByteStream {
 public:
  explicit RecordingStream(ByteStream& inner) : inner_(inner) {}

  std::uint32_t Read(void* buffer, std::uint32_t count) override {
    calls.push_back("read " + std::to_string(count));
    return inner_.Read(buffer, count);
  }
  void Skip(std::uint32_t count) override {
    calls.push_back("skip " + std::to_string(count));
    inner_.Skip(count);
  }
  bool ReadFailed() const override { return inner_.ReadFailed(); }

  std::vector<std::string> calls;

 private:
  ByteStream& inner_;
};

}  // namespace kvd::testing
