# What the Windows build adds to its two programs: the icon (made from the
# program's SVG) and a version resource with the project's version.
# Included from the top CMakeLists.txt when building for Windows.
set(KKM_WINDOWS_ICON ${CMAKE_BINARY_DIR}/kkm-configurator.ico)
set(KKM_ICON_SVG ${PROJECT_SOURCE_DIR}/packaging/kkm-configurator.svg)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KKM_ICON_SVG})
if(NOT EXISTS ${KKM_WINDOWS_ICON} OR ${KKM_ICON_SVG} IS_NEWER_THAN ${KKM_WINDOWS_ICON})
  find_program(KKM_RSVG rsvg-convert REQUIRED)
  find_program(KKM_ICOTOOL icotool REQUIRED)
  set(pngs)
  foreach(size 16 24 32 48 64 256)
    set(png ${CMAKE_BINARY_DIR}/icon/kkm-${size}.png)
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/icon)
    execute_process(COMMAND ${KKM_RSVG} -w ${size} -h ${size} -o ${png} ${KKM_ICON_SVG}
                    COMMAND_ERROR_IS_FATAL ANY)
    list(APPEND pngs ${png})
  endforeach()
  execute_process(COMMAND ${KKM_ICOTOOL} -c -o ${KKM_WINDOWS_ICON} ${pngs} COMMAND_ERROR_IS_FATAL ANY)
endif()

# kkm_windows_resources(<target> <description>): the icon and the version
# resource of one program.
function(kkm_windows_resources target description)
  set(KKM_RC_NAME ${target})
  set(KKM_RC_DESCRIPTION ${description})
  set(KKM_RC_ICON ${KKM_WINDOWS_ICON})
  set(KKM_RC_MANIFEST ${PROJECT_SOURCE_DIR}/packaging/windows/program.manifest)
  set(KKM_RC_VERSION_LIST ${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},0,0)
  if(PROJECT_VERSION_PATCH)
    set(KKM_RC_VERSION_LIST ${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0)
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/program.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${KKM_WINDOWS_ICON};${KKM_RC_MANIFEST}")
endfunction()

# The packing steps (tools/make-windows.sh) name the zip and the installer
# after the version.
file(WRITE ${CMAKE_BINARY_DIR}/kkm-version.txt "${PROJECT_VERSION}\n")

# ctest runs the Windows tests under Wine, in a prefix of the build's own.
if(CMAKE_CROSSCOMPILING)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/tools/wine-run.sh ${CMAKE_BINARY_DIR}/wine
      ${KKM_WINDOWS_KIT}/bin)
endif()
