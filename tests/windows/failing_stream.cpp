#include "failing_stream.h"

#include <shlwapi.h>

#include "check.h"

namespace kvd::wine {

FailingStream::FailingStream(const std::vector<std::uint8_t>& bytes, StreamFault fault)
    : inner_(SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size()))), fault_(fault) {
  KVD_CHECK(inner_ != nullptr);
}

FailingStream::~FailingStream() { inner_->Release(); }

HRESULT FailingStream::QueryInterface(REFIID riid, void** ppv) {
  if (riid != __uuidof(IUnknown) && riid != __uuidof(ISequentialStream) && riid != __uuidof(IStream)) {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  *ppv = static_cast<IStream*>(this);
  return S_OK;
}

ULONG FailingStream::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

ULONG FailingStream::Release() {
  const LONG remaining = InterlockedDecrement(&references_);
  if (remaining == 0) delete this;
  return static_cast<ULONG>(remaining);
}

HRESULT FailingStream::Read(void* buffer, ULONG count, ULONG* delivered) {
  if (++reads_ == fault_.failingRead) {
    struck_ = true;
    if (delivered != nullptr) *delivered = 0;
    return fault_.readFailure;
  }
  return inner_->Read(buffer, count, delivered);
}

HRESULT FailingStream::Write(const void*, ULONG, ULONG*) { return STG_E_ACCESSDENIED; }

HRESULT FailingStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) {
  if (++seeks_ == fault_.failingSeek) {
    struck_ = true;
    return STG_E_INVALIDFUNCTION;
  }
  return inner_->Seek(move, origin, position);
}

HRESULT FailingStream::SetSize(ULARGE_INTEGER) { return STG_E_ACCESSDENIED; }

HRESULT FailingStream::CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) { return E_NOTIMPL; }

HRESULT FailingStream::Commit(DWORD) { return S_OK; }

HRESULT FailingStream::Revert() { return S_OK; }

HRESULT FailingStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return STG_E_INVALIDFUNCTION; }

HRESULT FailingStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return STG_E_INVALIDFUNCTION; }

HRESULT FailingStream::Stat(STATSTG* stat, DWORD flags) { return inner_->Stat(stat, flags); }

HRESULT FailingStream::Clone(IStream** clone) {
  *clone = nullptr;
  return E_NOTIMPL;
}

}  // namespace kvd::wine
