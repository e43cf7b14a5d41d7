# One static (position-independent) library per subsystem folder, linked into the shared libraries.
# zephrin_subsystem(<name> [DEPS <targets>...] [PACKAGES <link items>...])
function(zephrin_subsystem name)
  cmake_parse_arguments(ARG "" "" "DEPS;PACKAGES" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*/*.cpp)
  # An Exports.cpp holds a shared library's entry points and belongs to that library alone.
  list(FILTER sources EXCLUDE REGEX "/Exports\\.cpp$")
  if(sources)
    add_library(zephrin_${name} STATIC ${sources})
    set(scope PUBLIC)
  else()
    add_library(zephrin_${name} INTERFACE)
    set(scope INTERFACE)
  endif()
  target_include_directories(zephrin_${name} ${scope} ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(zephrin_${name} ${scope} ${ARG_DEPS} ${ARG_PACKAGES})
endfunction()

if(WIN32)
  enable_language(RC)
endif()

# A shared library the host loads: only the documented entry points are visible. On Windows it
# carries a version resource with the project's version and DESCRIPTION.
# zephrin_host_library(<name> DESCRIPTION <text> DEPS <targets>...)
function(zephrin_host_library name)
  cmake_parse_arguments(ARG "" "DESCRIPTION" "DEPS" ${ARGN})
  if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/Exports.cpp)
    return()
  endif()
  add_library(${name} SHARED ${CMAKE_CURRENT_SOURCE_DIR}/Exports.cpp)
  if(WIN32)
    set(ZEPHRIN_RC_NAME ${name})
    set(ZEPHRIN_RC_DESCRIPTION "${ARG_DESCRIPTION}")
    configure_file(${PROJECT_SOURCE_DIR}/cmake/VersionInfo.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${name}.rc @ONLY)
    target_sources(${name} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${name}.rc)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  target_link_options(${name} PRIVATE -Wl,--exclude-libs,ALL)
  if(NOT ZEPHRIN_SANITIZE AND NOT ZEPHRIN_FUZZ)
    target_link_options(${name} PRIVATE -Wl,--no-undefined)
  endif()
  set_target_properties(${name} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
  if(WIN32)
    # The host loads Zephrin.dll and Wendrick.dll by these names; the import library is not needed
    # by anyone (the host finds the entry points by name) and stays out of bin.
    set_target_properties(${name} PROPERTIES PREFIX "" IMPORT_PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin
                                             ARCHIVE_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib)
  endif()
endfunction()

# A manual page written from a program's --help at build time and installed with the tools.
# zephrin_man_page(<name> <program file> <target it depends on> <one line> [COMMANDS <subcommand>...])
find_program(HELP2MAN_PROGRAM help2man)
find_program(GZIP_PROGRAM gzip)
function(zephrin_man_page name program dependency summary)
  cmake_parse_arguments(ARG "" "" "COMMANDS" ${ARGN})
  if(ZEPHRIN_SANITIZE OR ZEPHRIN_FUZZ)
    return()
  endif()
  if(NOT HELP2MAN_PROGRAM OR NOT GZIP_PROGRAM)
    message(WARNING "help2man or gzip is missing: no manual page for ${name} (scripts/install-deps.sh installs them)")
    return()
  endif()
  set(out ${PROJECT_BINARY_DIR}/man/${name}.1.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND ${CMAKE_COMMAND} -DHELP2MAN=${HELP2MAN_PROGRAM} -DGZIP=${GZIP_PROGRAM} -DPROGRAM=${program}
            "-DNAME=${summary}" -DVERSION=${PROJECT_VERSION} -DOUT=${out} "-DCOMMANDS=${ARG_COMMANDS}"
            -P ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
    DEPENDS ${dependency} ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
    COMMENT "Manual page of ${name}" VERBATIM)
  add_custom_target(${name}-man ALL DEPENDS ${out})
  install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
endfunction()
