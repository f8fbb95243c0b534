#pragma once
// The Windows headers the installer's Win32 files need. <windows.h> maps many
// API names to their A/W forms with macros, and IQenSystem uses the plain
// names for its own calls, so those macros go; Win32 calls here name the A
// form explicitly.
#include <windows.h>
#include <commctrl.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <wincrypt.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <winver.h>

#undef GetUserName
#undef GetComputerName
#undef GetVersionEx
#undef OutputDebugString
#undef InitiateSystemShutdown
#undef GetWindowText
#undef SendMessage
#undef CreateDialogParam
#undef SetWindowText
#undef SetDlgItemText
#undef MessageBox
#undef GetWindowsDirectory
#undef GetSystemDirectory
#undef CreateDirectory
#undef RemoveDirectory
#undef EnumResourceNames
#undef GetFileVersionInfoSize
#undef GetFileVersionInfo
#undef VerQueryValue
#undef LoadLibrary
#undef SetupOpenInfFile
#undef SetupInstallFromInfSection
#undef SetupDiGetClassDevs
#undef SetupDiGetDeviceRegistryProperty
#undef SetupDiSetDeviceRegistryProperty
#undef CM_Locate_DevNode
#undef LookupPrivilegeValue
#undef CertOpenSystemStore
#undef GetNextWindow
#undef FindResource
#undef DeleteFile
#undef GetFileAttributes
#undef SetFileAttributes
#undef GetTempPath
#undef GetCurrentDirectory
