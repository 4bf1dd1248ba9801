#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace kvd::testing {

KVD_COM_CLASSES_BEGIN

// An IStream over bytes in memory that notes how it is used. It lives on the
// test's stack: the count starts with the test's own reference, and a
// Release to 0 destroys nothing, so a test can read the counts afterwards.
class FakeStream final : public IStream {
 public:
  explicit FakeStream(std::vector<std::uint8_t> bytes = {}) : bytes_(std::move(bytes)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (queryFailure != S_OK) {
      *ppv = static_cast<IStream*>(this);  // a careless refusal: a pointer is left, no reference taken
      return queryFailure;
    }
    if (riid != IID_IStream && riid != IID_IUnknown) {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    *ppv = static_cast<IStream*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override {
    ++releases;
    return --references;
  }

  HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG count, ULONG* delivered) override {
    ++reads;
    const std::uint64_t left = position < bytes_.size() ? bytes_.size() - position : 0;
    const ULONG wanted = piece > 0 ? std::min(count, piece) : count;
    const auto copied = static_cast<ULONG>(std::min<std::uint64_t>(wanted, left));
    if (copied > 0) std::memcpy(buffer, bytes_.data() + position, copied);
    position += copied;
    *delivered = copied + overstatement;
    return copied < count ? S_FALSE : S_OK;
  }
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
    seeks.emplace_back(move.QuadPart, origin);
    position += static_cast<std::uint64_t>(move.QuadPart);
    if (newPosition != nullptr) newPosition->QuadPart = position;
    return S_OK;
  }

  // What QueryInterface answers, if not S_OK.
  HRESULT queryFailure = S_OK;
  // Added to every count that Read reports, to play a stream that claims more.
  ULONG overstatement = 0;
  // When not 0, Read delivers at most this many bytes a call, as a network
  // stream may.
  ULONG piece = 0;

  ULONG references = 1;
  int releases = 0;
  int reads = 0;
  std::vector<std::pair<LONGLONG, DWORD>> seeks;  // (move, origin)
  std::uint64_t position = 0;

 private:
  std::vector<std::uint8_t> bytes_;
};

KVD_COM_CLASSES_END

}  // namespace kvd::testing
