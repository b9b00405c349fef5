# The Windows package: "cmake --build --preset windows --target package"
# makes build-windows/Dravelkent-<version>-win64.zip and the installer
# Dravelkent-<version>-win64.exe (NSIS), each holding both programs, the
# sample settings file Dravelkent.ini (UTF-8 with a byte order mark, CRLF),
# the README and the copyright text.
install(TARGETS dravelkent dravelkentw RUNTIME DESTINATION .)
install(FILES README.md packaging/copyright packaging/Dravelkent.ini
  DESTINATION .)

set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_NAME Dravelkent)
set(CPACK_PACKAGE_VENDOR Dravelkent)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_INSTALL_DIRECTORY Dravelkent)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Dravelkent)
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/packaging/copyright)
set(CPACK_NSIS_DISPLAY_NAME Dravelkent)
set(CPACK_NSIS_PACKAGE_NAME Dravelkent)
# A 64-bit installer into C:\Program Files, with the programs' icon.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_MUI_ICON ${CMAKE_BINARY_DIR}/generated/dravelkent.ico)
set(CPACK_NSIS_MUI_UNIICON ${CMAKE_BINARY_DIR}/generated/dravelkent.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME dravelkentw.exe)
# The installing user's Start menu starts dravelkentw.exe in that user's
# %APPDATA%\Dravelkent, which gets the sample settings file when it has
# none; the uninstaller takes the entry away and leaves the settings. The
# shell folders are the user's for these lines only.
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS [[
  SetShellVarContext current
  CreateDirectory "$APPDATA\Dravelkent"
  IfFileExists "$APPDATA\Dravelkent\Dravelkent.ini" +2
  CopyFiles /SILENT "$INSTDIR\Dravelkent.ini" "$APPDATA\Dravelkent"
  SetOutPath "$APPDATA\Dravelkent"
  CreateShortCut "$SMPROGRAMS\Dravelkent.lnk" "$INSTDIR\dravelkentw.exe"
  SetOutPath "$INSTDIR"
  StrCmp $SV_ALLUSERS "AllUsers" 0 +2
  SetShellVarContext all
]])
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS [[
  SetShellVarContext current
  Delete "$SMPROGRAMS\Dravelkent.lnk"
  UserInfo::GetAccountType
  Pop $0
  StrCmp $0 "Admin" +2
  StrCmp $0 "Power" 0 +2
  SetShellVarContext all
]])
include(CPack)
