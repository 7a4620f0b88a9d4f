// <windows.h> for the Win32 front end, in its wide-character form. Its MessageBox and
// LoadString macros would rename ui::Window's members of those names, so they go: this code
// names the W functions itself.
#pragma once

#ifndef UNICODE
#define UNICODE
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX  // the C++ library's configuration may already have it
#define NOMINMAX
#endif
#include <windows.h>

#undef MessageBox
#undef LoadString
