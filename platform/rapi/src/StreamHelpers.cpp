// What every user of a remote-invocation stream needs beside its calls.
#include "RapiStream.h"

HRESULT ReadExactly(IRAPIStream* stream, void* buffer, ULONG size, ULONG* read) {
  if (read != nullptr) *read = 0;
  if (stream == nullptr || (buffer == nullptr && size > 0)) return E_INVALIDARG;
  auto* bytes = static_cast<BYTE*>(buffer);
  ULONG done = 0;
  HRESULT result = S_OK;
  while (done < size) {
    ULONG got = 0;
    result = stream->Read(bytes + done, size - done, &got);
    if (FAILED(result)) break;
    if (got == 0) {  // a stream that answers nothing is at its end
      result = RAPI_E_STREAM_ENDED;
      break;
    }
    done += got;
  }
  if (read != nullptr) *read = done;
  if (result == RAPI_E_STREAM_ENDED && done > 0) return RAPI_E_SHORT_READ;
  return done == size ? S_OK : result;
}

const char* DescribeStreamResult(HRESULT result) {
  switch (result) {
    case S_OK:
      return "no error";
    case RAPI_E_STREAM_ENDED:
      return "the other side ended the conversation";
    case RAPI_E_SHORT_READ:
      return "the other side ended the conversation in the middle of a message";
    case RAPI_E_TIMEOUT:
      return "the other side did not answer in time";
    case RAPI_E_STREAM_BROKEN:
      return "the other side is no longer listening";
    case E_INVALIDARG:
      return "an argument is not valid";
    case E_OUTOFMEMORY:
      return "there is not enough memory";
    default:
      return SUCCEEDED(result) ? "no error" : "the conversation with the other side failed";
  }
}

HRESULT StreamTimeouts::Set(RAPISTREAMFLAG flag, DWORD value) {
  switch (flag) {
    case STREAM_TIMEOUT_READ:
      read_ = value;
      return S_OK;
    case STREAM_TIMEOUT_WRITE:
      write_ = value;
      return S_OK;
  }
  return E_INVALIDARG;
}

HRESULT StreamTimeouts::Get(RAPISTREAMFLAG flag, DWORD* value) const {
  if (value == nullptr) return E_INVALIDARG;
  switch (flag) {
    case STREAM_TIMEOUT_READ:
      *value = read_;
      return S_OK;
    case STREAM_TIMEOUT_WRITE:
      *value = write_;
      return S_OK;
  }
  return E_INVALIDARG;
}
