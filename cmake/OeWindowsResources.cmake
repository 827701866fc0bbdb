# Windows executables carry the program's icon, version information and an application manifest
# (per-monitor DPI awareness v2, UTF-8 as the process code page, common controls v6), so Explorer,
# the Start menu and Properties show them and Windows applies them before any of our code runs.
# The .ico is made at build time from resources/icon.png with ImageMagick.
if(NOT WIN32)
  function(oe_windows_resources)
  endfunction()
  return()
endif()

enable_language(RC)
find_program(OE_CONVERT NAMES convert magick REQUIRED)

set(OE_ICON_PNG ${PROJECT_SOURCE_DIR}/resources/icon.png)
set(OE_ICON_ICO ${CMAKE_BINARY_DIR}/windows/oe-setup.ico)
# Sizes Explorer and the taskbar pick from, 100 % to 300 %; the largest is kept as PNG inside the .ico.
add_custom_command(
  OUTPUT ${OE_ICON_ICO}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/windows
  COMMAND ${OE_CONVERT} ${OE_ICON_PNG} -background none -define icon:auto-resize=256,64,48,32,24,16
          ${OE_ICON_ICO}
  DEPENDS ${OE_ICON_PNG}
  COMMENT "Making the Windows icon from icon.png"
  VERBATIM)
add_custom_target(oe_windows_icon DEPENDS ${OE_ICON_ICO})

# oe_windows_resources(<target> <file name> <description>)
function(oe_windows_resources target file_name description)
  set(OE_RC_FILE_NAME ${file_name})
  set(OE_RC_DESCRIPTION ${description})
  set(OE_RC_ICON ${OE_ICON_ICO})
  set(OE_RC_MANIFEST ${CMAKE_BINARY_DIR}/windows/oe.manifest)
  set(OE_RC_VERSION_COMMAS ${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0)
  set(OE_RC_VERSION_DOTS ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/oe.manifest.in ${OE_RC_MANIFEST} @ONLY)
  set(rc ${CMAKE_BINARY_DIR}/windows/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/program.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${OE_ICON_ICO};${OE_RC_MANIFEST}")
  add_dependencies(${target} oe_windows_icon)
endfunction()
