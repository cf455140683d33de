# Windows-only parts of the build, applied once every target exists.

# The program and its companions open no console window: the companions are
# started hidden by the launcher, and a console would flash up on screen.
set_target_properties(orvel-as orvel-checker orvel-replacer PROPERTIES WIN32_EXECUTABLE TRUE)

# A static Qt links its plugins into each program. The windows platform and
# the native style come by default; the tests and benchmarks draw offscreen
# only (as on Linux), so they leave the windows platform out.
function(_orvel_win_executables dir out)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  set(found "")
  foreach(t IN LISTS targets)
    get_target_property(type ${t} TYPE)
    if(type STREQUAL "EXECUTABLE")
      list(APPEND found ${t})
    endif()
  endforeach()
  foreach(d IN LISTS subdirs)
    _orvel_win_executables(${d} more)
    list(APPEND found ${more})
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()
qt_import_plugins(orvel-as INCLUDE Qt6::QWindowsIntegrationPlugin)
foreach(kind TESTS BENCH)
  string(TOLOWER ${kind} dir)
  if(ORVEL_BUILD_${kind})
    _orvel_win_executables(${PROJECT_SOURCE_DIR}/${dir} orvel_win_offscreen)
    foreach(t IN LISTS orvel_win_offscreen)
      qt_import_plugins(${t} INCLUDE Qt6::QOffscreenIntegrationPlugin EXCLUDE Qt6::QWindowsIntegrationPlugin)
    endforeach()
  endif()
endforeach()

# Qt's own Korean texts (buttons of message boxes and dialogs) travel inside
# the program: a Windows PC has no Qt installation to load them from.
set(_orvel_qm_dirs "")
foreach(p IN LISTS CMAKE_PREFIX_PATH)
  list(APPEND _orvel_qm_dirs "${p}/translations")
endforeach()
list(APPEND _orvel_qm_dirs /usr/share/qt6/translations)
set(ORVEL_QTBASE_KO_QM "")
foreach(d IN LISTS _orvel_qm_dirs)
  if(EXISTS "${d}/qtbase_ko.qm")
    set(ORVEL_QTBASE_KO_QM "${d}/qtbase_ko.qm")
    break()
  endif()
endforeach()
if(NOT ORVEL_QTBASE_KO_QM)
  message(FATAL_ERROR "qtbase_ko.qm not found in ${_orvel_qm_dirs} (Debian package qt6-translations-l10n)")
endif()
set_source_files_properties("${ORVEL_QTBASE_KO_QM}" PROPERTIES QT_RESOURCE_ALIAS qtbase_ko.qm)
qt_add_resources(orvel_gui orvel_qtbase_ko PREFIX /i18n FILES "${ORVEL_QTBASE_KO_QM}")

# The zip for the PCs (`cpack` in the build folder): one folder orvel-as/
# with the program, its two companions, stripped, and how to install.
# CPack's zip stores the Hangul file name in UTF-8 and sets the zip's UTF-8
# flag, which Windows 10 and later read.
install(TARGETS orvel-as orvel-checker orvel-replacer RUNTIME DESTINATION orvel-as)
# UTF-8 with a byte-order mark and CRLF, so that Notepad shows the Hangul.
string(ASCII 239 187 191 _orvel_bom)
file(READ ${PROJECT_SOURCE_DIR}/scripts/lib/windows-readme.txt _orvel_readme)
string(REPLACE "\n" "\r\n" _orvel_readme "${_orvel_readme}")
file(WRITE ${CMAKE_BINARY_DIR}/package/읽어보기.txt "${_orvel_bom}${_orvel_readme}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/scripts/lib/windows-readme.txt)
install(FILES ${CMAKE_BINARY_DIR}/package/읽어보기.txt DESTINATION orvel-as)
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME orvel-as-windows-x64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_SOURCE_DIR}/dist)
include(CPack)
