# vorlik_add_app_bundle(TARGET program [OUTPUT_DIR dir] [VERSION text] [BUILD number] [NAME target]
#                       [MODULES module targets...])
#
# Lays out "Vorlik Desktop.app" for a program target after every build of it:
#   Contents/Info.plist            identifier, version, build, executable and name
#   Contents/MacOS/<program>       the program itself, and the MODULES it loads beside it
#   Contents/Resources/            CHANGELOG.md (the release notes) and the icon
# VERSION and BUILD default to the project's (the top CMakeLists.txt); other values make
# bundles for tests of the updater. OUTPUT_DIR defaults to the top build folder. NAME names the
# custom target that builds the bundle (default: <program>_bundle).
function(vorlik_add_app_bundle)
  cmake_parse_arguments(ARG "" "TARGET;OUTPUT_DIR;VERSION;BUILD;NAME" "MODULES" ${ARGN})
  if(NOT ARG_TARGET)
    message(FATAL_ERROR "vorlik_add_app_bundle: TARGET is required")
  endif()
  if(NOT ARG_OUTPUT_DIR)
    set(ARG_OUTPUT_DIR ${CMAKE_BINARY_DIR})
  endif()
  if(NOT ARG_VERSION)
    set(ARG_VERSION ${PROJECT_VERSION})
  endif()
  if(NOT ARG_BUILD)
    set(ARG_BUILD ${VORLIK_BUILD_NUMBER})
  endif()
  if(NOT ARG_NAME)
    set(ARG_NAME ${ARG_TARGET}_bundle)
  endif()

  set(VORLIK_BUNDLE_IDENTIFIER "com.vorlik.desktop")
  set(VORLIK_BUNDLE_VERSION ${ARG_VERSION})
  set(VORLIK_BUNDLE_BUILD ${ARG_BUILD})
  get_target_property(executable ${ARG_TARGET} OUTPUT_NAME)
  if(NOT executable)
    set(executable ${ARG_TARGET})
  endif()
  set(VORLIK_BUNDLE_EXECUTABLE ${executable})

  set(bundle "${ARG_OUTPUT_DIR}/Vorlik Desktop.app")
  set(plist_source ${CMAKE_CURRENT_BINARY_DIR}/${ARG_NAME}.Info.plist)
  configure_file(${CMAKE_SOURCE_DIR}/app/bundle/Info.plist.in ${plist_source} @ONLY)

  set(module_commands)
  set(module_files)
  foreach(module IN LISTS ARG_MODULES)
    list(APPEND module_commands COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${module}> "${bundle}/Contents/MacOS/")
    list(APPEND module_files ${module} $<TARGET_FILE:${module}>)
  endforeach()

  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${ARG_NAME}.stamp)
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -E rm -rf "${bundle}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${bundle}/Contents/MacOS" "${bundle}/Contents/Resources"
    COMMAND ${CMAKE_COMMAND} -E copy ${plist_source} "${bundle}/Contents/Info.plist"
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${ARG_TARGET}> "${bundle}/Contents/MacOS/${executable}"
    ${module_commands}
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/CHANGELOG.md "${bundle}/Contents/Resources/CHANGELOG.md"
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/app/bundle/vorlik.svg "${bundle}/Contents/Resources/vorlik.svg"
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${ARG_TARGET} $<TARGET_FILE:${ARG_TARGET}> ${module_files} ${plist_source}
            ${CMAKE_SOURCE_DIR}/CHANGELOG.md ${CMAKE_SOURCE_DIR}/app/bundle/vorlik.svg
    COMMENT "Bundling ${executable} as ${bundle}"
    VERBATIM)
  add_custom_target(${ARG_NAME} ALL DEPENDS ${stamp})
endfunction()
