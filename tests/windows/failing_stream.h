#pragma once

// A shell stream over bytes in memory into which a failure can be injected:
// its Nth Read fails as an offline file's or a dropped share's does, or its
// Nth Seek fails as a stream that refuses to seek past its end does.

#include <windows.h>
#include <objidl.h>

#include <cstdint>
#include <vector>

namespace kvd::wine {

struct StreamFault {
  int failingRead = 0;  // counted from 1; 0: every Read succeeds
  HRESULT readFailure = E_PENDING;
  int failingSeek = 0;  // counted from 1; 0: every Seek succeeds
};

// A COM object is destroyed by its own Release, never through the interface.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

// Created with one reference, for the caller; the last Release frees it.
class FailingStream final : public IStream {
 public:
  FailingStream(const std::vector<std::uint8_t>& bytes, StreamFault fault);

  // Whether the planned failure came: a call that fails was made.
  bool Struck() const { return struck_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG count, ULONG* delivered) override;
  HRESULT STDMETHODCALLTYPE Write(const void* buffer, ULONG count, ULONG* written) override;
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override;
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override;
  HRESULT STDMETHODCALLTYPE CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                                   ULARGE_INTEGER* written) override;
  HRESULT STDMETHODCALLTYPE Commit(DWORD flags) override;
  HRESULT STDMETHODCALLTYPE Revert() override;
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type) override;
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type) override;
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override;
  HRESULT STDMETHODCALLTYPE Clone(IStream** clone) override;

 private:
  ~FailingStream();

  IStream* inner_;
  StreamFault fault_;
  LONG references_ = 1;
  int reads_ = 0;
  int seeks_ = 0;
  bool struck_ = false;
};

#pragma GCC diagnostic pop

}  // namespace kvd::wine
