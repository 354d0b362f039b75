# Installation and packaging, included at the end of the top-level list file
# once every program exists: what `cmake --install` puts under the prefix,
# the CMake package and pkg-config file other projects build against, and
# the Debian package cpack makes from the very same install rules. Paths
# are relative to the prefix (lib/, not lib/<multiarch>/), so the same tree
# works under /usr, /usr/local or any private prefix.

# Public headers: a build-time copy with the library's own includes
# rewritten to <torvel/...> (TorvelHeaders.cmake says why).
set(torvel_header_sources)
foreach(sub ${TORVEL_SUBSYSTEMS})
  file(GLOB sub_headers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${sub}/*.h)
  list(APPEND torvel_header_sources ${sub_headers})
endforeach()
string(REPLACE ";" "," torvel_subsystem_list "${TORVEL_SUBSYSTEMS}")
set(torvel_header_stamp ${CMAKE_BINARY_DIR}/include/torvel_headers.stamp)
add_custom_command(
  OUTPUT ${torvel_header_stamp}
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
          -DOUTPUT_DIR=${CMAKE_BINARY_DIR}/include
          -DSUBSYSTEMS=${torvel_subsystem_list}
          -P ${CMAKE_SOURCE_DIR}/cmake/TorvelHeaders.cmake
  COMMAND ${CMAKE_COMMAND} -E touch ${torvel_header_stamp}
  DEPENDS ${torvel_header_sources} ${CMAKE_SOURCE_DIR}/cmake/TorvelHeaders.cmake
  COMMENT "Copying the public headers for installation"
  VERBATIM)
add_custom_target(torvel_public_headers ALL DEPENDS ${torvel_header_stamp})

# The system calls the brokering layer names __real_<call>, for programs
# linked without the wrapping (Torvel::torvel_plain).
add_library(torvel_plain STATIC ${CMAKE_SOURCE_DIR}/unwrapped/real_calls.cpp)
target_include_directories(torvel_plain PRIVATE ${CMAKE_SOURCE_DIR})

# The static archive libcrypto is linked from, recorded for consumers.
get_filename_component(TORVEL_LIBCRYPTO_DIR ${TORVEL_LIBCRYPTO_STATIC} DIRECTORY)
# The wrapped calls, as the package files spell them.
string(REPLACE ";" " " TORVEL_WRAPPED_CALLS_TEXT "${TORVEL_WRAPPED_CALLS}")
set(TORVEL_PC_WRAP_FLAGS)
foreach(call ${TORVEL_WRAPPED_CALLS})
  string(APPEND TORVEL_PC_WRAP_FLAGS " -Wl,--wrap=${call}")
endforeach()

install(TARGETS torvel torvel_plain ARCHIVE DESTINATION lib)
install(TARGETS gt3_gahp_launcher RUNTIME DESTINATION libexec/torvel)
install(DIRECTORY ${CMAKE_BINARY_DIR}/include/torvel DESTINATION include
        FILES_MATCHING PATTERN "*.h")
if(TARGET torvel_objects)
  set(torvel_objects)
  foreach(name bounded_printf arg_splitter dprintf_shim file_lock)
    list(APPEND torvel_objects ${CMAKE_BINARY_DIR}/objects/${name}.o)
  endforeach()
  install(FILES ${torvel_objects} DESTINATION lib/torvel/objects)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/man/torvel_config_val.1
              ${CMAKE_SOURCE_DIR}/man/classad_eval.1
        DESTINATION share/man/man1)
install(FILES ${CMAKE_SOURCE_DIR}/man/gt3_gahp_launcher.8 DESTINATION share/man/man8)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/NOTICE
        DESTINATION share/doc/torvel)

include(CMakePackageConfigHelpers)
configure_file(${CMAKE_SOURCE_DIR}/cmake/TorvelConfig.cmake.in
               ${CMAKE_BINARY_DIR}/cmake/TorvelConfig.cmake @ONLY)
# The product's own compatibility rule (TorvelVersionInfo::is_compatible)
# accepts any version at least as new as the one asked for; so does the
# package.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/cmake/TorvelConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION}
                                 COMPATIBILITY AnyNewerVersion)
install(FILES ${CMAKE_BINARY_DIR}/cmake/TorvelConfig.cmake
              ${CMAKE_BINARY_DIR}/cmake/TorvelConfigVersion.cmake
        DESTINATION lib/cmake/Torvel)
configure_file(${CMAKE_SOURCE_DIR}/cmake/torvel.pc.in ${CMAKE_BINARY_DIR}/cmake/torvel.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/cmake/torvel.pc DESTINATION lib/pkgconfig)

# The Debian package: every install() rule of the project, whichever folder
# adds it (no component list), under /usr. cpack packs what has been built
# (`cmake --build` first) rather than rebuilding the whole project, tests
# included, before every package.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME torvel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Torvel support layer: GT3 GAHP launcher, tools and utility library")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "The support layer of the Torvel batch and grid job manager: the GT3 GAHP\n\
launcher, the administrator tools torvel_config_val and classad_eval, the\n\
static utility library with its headers, CMake package and pkg-config file,\n\
and four relocatable objects for programs that link single pieces of it.")
set(CPACK_PACKAGE_CONTACT "Torvel developers <torvel@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
# Depends: the shared libraries the installed programs really load, as
# dpkg-shlibdeps finds them (libcrypto is linked in statically).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The launcher starts a Java virtual machine that the configuration names;
# building against the library needs the static libcrypto, PCRE and
# pkg-config. Neither is needed to install or run the tools.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "default-jre-headless | java-runtime-headless, libssl-dev, libpcre3-dev, pkg-config")
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)
include(CPack)
