#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <algorithm>
#include <cwchar>

#include "tools/cli/hook_process.h"

namespace {

std::wstring Wide(const std::string& text) {
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

std::wstring NameOf(const std::wstring& entry) {
  // Entries such as "=C:=C:\work" keep the drives' folders; their name starts past the '='.
  return entry.substr(0, entry.find(L'=', 1));
}

bool SameName(const std::wstring& a, const std::wstring& b) {
  return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

// Ours with the hook's variables in place of any of the same name, sorted by name without
// regard to case as CreateProcess wants the block.
std::wstring EnvironmentBlock(const HookVariables& variables) {
  std::vector<std::wstring> entries;
  for (const auto& [name, value] : variables) entries.push_back(Wide(name) + L"=" + Wide(value));
  if (wchar_t* ours = GetEnvironmentStringsW()) {
    for (const wchar_t* entry = ours; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
      const std::wstring text = entry;
      const bool replaced = std::any_of(variables.begin(), variables.end(), [&](const auto& v) {
        return SameName(NameOf(text), Wide(v.first));
      });
      if (!replaced) entries.push_back(text);
    }
    FreeEnvironmentStringsW(ours);
  }
  std::sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
    return _wcsicmp(NameOf(a).c_str(), NameOf(b).c_str()) < 0;
  });
  std::wstring block;
  for (const std::wstring& entry : entries) block.append(entry).push_back(L'\0');
  block.push_back(L'\0');
  return block;
}

HANDLE Inheritable(HANDLE handle) {
  HANDLE copy = nullptr;
  DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                  DUPLICATE_SAME_ACCESS);
  return copy;
}

}  // namespace

std::optional<HookProcess> StartHookProcess(const std::string& command,
                                            const HookVariables& variables, std::string* why) {
  // /s keeps the command as it is between the outer quotes; /d runs no AutoRun commands.
  std::wstring line = L"cmd.exe /d /s /c \"" + Wide(command) + L"\"";
  std::wstring environment = EnvironmentBlock(variables);
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  const HANDLE nothing = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     &inherited, OPEN_EXISTING, 0, nullptr);
  const HANDLE error = Inheritable(GetStdHandle(STD_ERROR_HANDLE));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nothing;
  startup.hStdOutput = error;
  startup.hStdError = error;
  PROCESS_INFORMATION started{};
  // A process group of its own: the Ctrl-C meant for us does not reach it. Our port is
  // opened without inheritance, so only the standard handles given here pass to it.
  const BOOL ok =
      CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                     CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW | CREATE_NEW_PROCESS_GROUP,
                     environment.data(), nullptr, &startup, &started);
  const DWORD failure = GetLastError();
  if (nothing != INVALID_HANDLE_VALUE) CloseHandle(nothing);
  if (error != nullptr) CloseHandle(error);
  if (!ok) {
    *why = "Windows error " + std::to_string(failure);
    return std::nullopt;
  }
  CloseHandle(started.hThread);
  return HookProcess{static_cast<long long>(started.dwProcessId),
                     reinterpret_cast<std::uintptr_t>(started.hProcess)};
}

std::optional<HookEnd> HookProcessEnded(HookProcess& process) {
  const HANDLE handle = reinterpret_cast<HANDLE>(process.handle);
  if (WaitForSingleObject(handle, 0) == WAIT_TIMEOUT) return std::nullopt;
  DWORD code = 0;
  GetExitCodeProcess(handle, &code);
  CloseHandle(handle);
  return HookEnd{false, static_cast<int>(code)};
}
