#pragma once
// <windows.h> maps many API names to their A/W forms with macros; the OS
// layer uses the same plain names for its own functions, so those macros go.
// Win32 calls in this folder always name the A form explicitly.
#undef CreateFile
#undef DeleteFile
#undef CreateDirectory
#undef GetFileAttributes
#undef SetFileAttributes
#undef GetTempPath
#undef GetModuleFileName
#undef GetCurrentDirectory
#undef LoadString
#undef FindResource
#undef MessageBox
#undef GetVersionEx
#undef DialogBoxParam
#undef EnumResourceNames
#undef LZOpenFile
#undef GetWindowsDirectory
#undef OutputDebugString
#undef RegOpenKeyEx
#undef RegQueryValueEx
#undef LoadLibrary
