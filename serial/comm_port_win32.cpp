// The serial line on Windows: the kernel32 communications calls, with the driver keeping the
// read and write time-outs.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "serial/comm_port_backend.h"

namespace {

class Win32CommPort final : public CommPort {
 public:
  explicit Win32CommPort(HANDLE handle) : handle_(handle) {}
  ~Win32CommPort() override { CloseHandle(handle_); }
  Win32CommPort(const Win32CommPort&) = delete;
  Win32CommPort& operator=(const Win32CommPort&) = delete;

  std::size_t Write(std::span<const std::uint8_t> bytes) override {
    DWORD written = 0;
    if (!WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
      NoteFailure();
    }
    return written;
  }

  std::size_t Read(std::span<std::uint8_t> bytes) override {
    DWORD read = 0;
    if (!ReadFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) {
      NoteFailure();
    }
    return read;
  }

  bool LineGone() const override { return gone_; }

  unsigned QueuedInput() override {
    DWORD errors = 0;
    COMSTAT status{};
    if (ClearCommError(handle_, &errors, &status)) return status.cbInQue;
    NoteFailure();
    return 0;
  }

  std::uint32_t TickCount() override { return GetTickCount(); }
  void Sleep(unsigned milliseconds) override { ::Sleep(milliseconds); }

 private:
  // A time-out is no failure of ReadFile or WriteFile; these are what a pulled USB adapter's
  // driver answers with.
  void NoteFailure() {
    switch (GetLastError()) {
      case ERROR_BAD_COMMAND:
      case ERROR_ACCESS_DENIED:
      case ERROR_DEVICE_REMOVED:
      case ERROR_DEVICE_NOT_CONNECTED:
      case ERROR_GEN_FAILURE:
      case ERROR_FILE_NOT_FOUND:
        gone_ = true;
        break;
      default:
        break;
    }
  }

  HANDLE handle_;
  bool gone_ = false;
};

// The system's own words, in UTF-8 like every text of ours: the ANSI form would come back in
// the system's code page (GBK on a Chinese Windows).
std::string SystemMessage(DWORD error) {
  wchar_t wide[256] = {};
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                error, 0, wide, 256, nullptr);
  while (length > 0 && (wide[length - 1] == L'\n' || wide[length - 1] == L'\r')) --length;
  if (length == 0) return "system error " + std::to_string(error);
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string message(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), message.data(), size, nullptr,
                      nullptr);
  return message;
}

CommErrorKind OpenErrorKind(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:  // what another program's open COM port gives
    case ERROR_SHARING_VIOLATION:
      return CommErrorKind::kBusy;
    default:
      return CommErrorKind::kNotFound;  // ERROR_FILE_NOT_FOUND and the like
  }
}

// The flag bits are the DWORD after DCBlength and BaudRate. The mask clears fDtrControl
// (bits 4 and 5, leaving DTR_CONTROL_DISABLE) and fAbortOnError (bit 14).
void MaskDcbFlags(DCB& dcb) {
  constexpr DWORD kFlagMask = 0xFFFFBFCF;
  auto* flags = reinterpret_cast<unsigned char*>(&dcb) + 2 * sizeof(DWORD);
  DWORD word = 0;
  std::memcpy(&word, flags, sizeof word);
  word &= kFlagMask;
  std::memcpy(flags, &word, sizeof word);
}

}  // namespace

std::string PlatformPortPath(int portNumber) {
  char path[32];
  std::snprintf(path, sizeof path, "\\\\.\\COM%d", portNumber);
  return path;
}

// COM n is the system's own name, and the system tells no identity behind it.
std::optional<PortLink> PlatformPortLink(int) {
  return std::nullopt;
}

std::string PlatformDeviceIdentity(const std::string&) {
  return {};
}

std::unique_ptr<CommPort> OpenPlatformPort(const std::string& path, int baudRate) {
  const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    SetLastCommError(OpenErrorKind(error), path + ": " + SystemMessage(error));
    return nullptr;
  }
  auto port = std::make_unique<Win32CommPort>(handle);

  // A failed GetCommState is not an error: the zeroed settings stand in for the current ones.
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  GetCommState(handle, &dcb);
  dcb.BaudRate = static_cast<DWORD>(baudRate);
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  MaskDcbFlags(dcb);
  if (!SetCommState(handle, &dcb)) {
    SetLastCommError(CommErrorKind::kConfiguration, path + ": " + SystemMessage(GetLastError()));
    return nullptr;
  }

  DWORD errors = 0;
  ClearCommError(handle, &errors, nullptr);
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = kReadIntervalMs;
  timeouts.ReadTotalTimeoutMultiplier = 5;
  timeouts.ReadTotalTimeoutConstant = 5;
  timeouts.WriteTotalTimeoutMultiplier = 50;
  timeouts.WriteTotalTimeoutConstant = 100;
  SetCommTimeouts(handle, &timeouts);  // a failure is ignored
  PurgeComm(handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  return port;
}

CommError InspectPlatformPort(const std::string&) {
  return {};
}
