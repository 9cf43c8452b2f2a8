# What `cmake --install` puts in a prefix: the C header and version header, the static and shared
# libraries, the CMake package (find_package(G7231 CONFIG) giving G7231::g7231), the pkg-config file
# g7231.pc, the programs and their man pages. Everything installed is relocatable: the package and the
# pkg-config file find the prefix from where they lie.
include(CMakePackageConfigHelpers)

set(G7231_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/G7231)
set(G7231_LIBRARIES g7231)
if(G7231_BUILD_SHARED)
  list(APPEND G7231_LIBRARIES g7231_shared)
endif()

install(TARGETS ${G7231_LIBRARIES} EXPORT G7231Targets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development)
install(FILES include/g7231/g7231.h ${PROJECT_BINARY_DIR}/include/g7231/version.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/g7231 COMPONENT development)

install(EXPORT G7231Targets NAMESPACE G7231:: DESTINATION ${G7231_CMAKE_DIR} COMPONENT development)
configure_package_config_file(cmake/G7231Config.cmake.in ${PROJECT_BINARY_DIR}/G7231Config.cmake
                              INSTALL_DESTINATION ${G7231_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/G7231ConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/G7231Config.cmake ${PROJECT_BINARY_DIR}/G7231ConfigVersion.cmake
        DESTINATION ${G7231_CMAKE_DIR} COMPONENT development)

# The prefix, relative to the directory of g7231.pc.
file(RELATIVE_PATH G7231_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(cmake/g7231.pc.in ${PROJECT_BINARY_DIR}/g7231.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/g7231.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# The programs, and every man page kept beside them in app/ (NAME.SECTION), each in its section.
set(G7231_PROGRAMS g7231enc g7231dec)
if(TARGET g7231_app)
  list(APPEND G7231_PROGRAMS g7231_app)
endif()
install(TARGETS ${G7231_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
file(GLOB_RECURSE G7231_MAN_PAGES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/app/*.[1-8])
foreach(page IN LISTS G7231_MAN_PAGES)
  # A page whose title line names a version must name the project's.
  file(STRINGS ${page} title REGEX "^\\.TH")
  if(title MATCHES " [0-9]+\\.[0-9]+\\.[0-9]+" AND NOT title MATCHES " ${PROJECT_VERSION}\"")
    message(FATAL_ERROR "${page}: its title line names another version than ${PROJECT_VERSION}: ${title}")
  endif()
  string(REGEX REPLACE "^.*\\.([1-8])$" "\\1" section ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT programs)
endforeach()
