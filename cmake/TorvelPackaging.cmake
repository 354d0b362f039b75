# Installation and packaging, included at the end of the top-level list file
# once every program (and the Python module) exists: what `cmake --install`
# puts under the prefix, the CMake package and pkg-config file other
# projects build against, and the Debian packages cpack makes from the very
# same install rules, one per install component:
#
#   dev     libtorvel-dev   headers, static archives, objects, CMake package,
#                           pkg-config file, torvel(3)
#   tools   torvel-tools    torvel_config_val, classad_eval, the launcher
#   broker  nbx-broker      the broker with its unit, account, configuration
#   python  python3-torvel  the Python module
#
# Libraries go to the multiarch directory (lib/x86_64-linux-gnu) under any
# prefix, so a private prefix looks like /usr.

if(CMAKE_LIBRARY_ARCHITECTURE AND NOT DEFINED CMAKE_INSTALL_LIBDIR)
  set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE}
      CACHE PATH "Object code libraries (multiarch)")
endif()
include(GNUInstallDirs)
set(torvel_libdir ${CMAKE_INSTALL_LIBDIR})

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

# Manual pages and Debian changelogs install compressed (gzip -n: the same
# bytes on every build).
set(torvel_gz_dir ${CMAKE_BINARY_DIR}/packaging)
set(torvel_gz_outputs)
function(torvel_gzip source output)
  add_custom_command(OUTPUT ${torvel_gz_dir}/${output}
    COMMAND sh -c "gzip -9nc \"$0\" >\"$1\"" ${source} ${torvel_gz_dir}/${output}
    DEPENDS ${source} VERBATIM)
  set(torvel_gz_outputs ${torvel_gz_outputs} ${torvel_gz_dir}/${output} PARENT_SCOPE)
endfunction()
file(MAKE_DIRECTORY ${torvel_gz_dir})
set(torvel_man_pages
    man/torvel_config_val.1:tools man/classad_eval.1:tools
    man/gt3_gahp_launcher.8:tools broker/nbx_broker.8:broker man/torvel.3:dev)
foreach(entry ${torvel_man_pages})
  string(REPLACE ":" ";" entry "${entry}")
  list(GET entry 0 page)
  list(GET entry 1 component)
  get_filename_component(name ${page} NAME)
  string(REGEX REPLACE ".*\\." "" section ${name})
  torvel_gzip(${CMAKE_SOURCE_DIR}/${page} ${name}.gz)
  install(FILES ${torvel_gz_dir}/${name}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
          COMPONENT ${component})
endforeach()

# Version and maintainer of the Debian packages. The maintainer address is
# the distributor's to set; the default names no real host.
set(TORVEL_DEB_RELEASE 1 CACHE STRING "Debian revision of the packages")
set(TORVEL_PACKAGE_MAINTAINER "Torvel developers <torvel-devel@torvel.example>"
    CACHE STRING "Maintainer field of the Debian packages")
set(TORVEL_DEB_VERSION ${PROJECT_VERSION}-${TORVEL_DEB_RELEASE})
configure_file(${CMAKE_SOURCE_DIR}/cmake/debian/changelog.in
               ${torvel_gz_dir}/changelog.Debian @ONLY)
torvel_gzip(${torvel_gz_dir}/changelog.Debian changelog.Debian.gz)
add_custom_target(torvel_compressed_docs ALL DEPENDS ${torvel_gz_outputs})

# Every package carries the copyright file and changelog under its own name.
set(torvel_deb_components dev tools broker)
set(torvel_deb_name_dev libtorvel-dev)
set(torvel_deb_name_tools torvel-tools)
set(torvel_deb_name_broker nbx-broker)
set(torvel_deb_name_python python3-torvel)
if(TARGET torvel_module)
  list(APPEND torvel_deb_components python)
endif()
foreach(component ${torvel_deb_components})
  set(docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${torvel_deb_name_${component}})
  install(FILES ${torvel_gz_dir}/changelog.Debian.gz DESTINATION ${docdir} COMPONENT ${component})
  install(FILES ${CMAKE_SOURCE_DIR}/cmake/debian/copyright.in DESTINATION ${docdir}
          RENAME copyright COMPONENT ${component})
endforeach()

# libtorvel-dev.
install(TARGETS torvel torvel_plain ARCHIVE DESTINATION ${torvel_libdir} COMPONENT dev)
set(torvel_installed_archives libtorvel.a libtorvel_plain.a)
if(TARGET torvel_pic)
  install(TARGETS torvel_pic ARCHIVE DESTINATION ${torvel_libdir} COMPONENT dev)
  list(APPEND torvel_installed_archives libtorvel_pic.a)
endif()
# Headers that exist only for the library's own sources stay out.
install(DIRECTORY ${CMAKE_BINARY_DIR}/include/torvel DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT dev FILES_MATCHING PATTERN "*.h" PATTERN "*_internal.h" EXCLUDE)
if(TARGET torvel_objects)
  set(torvel_objects)
  foreach(name bounded_printf arg_splitter dprintf_shim file_lock)
    list(APPEND torvel_objects ${CMAKE_BINARY_DIR}/objects/${name}.o)
    list(APPEND torvel_installed_archives torvel/objects/${name}.o)
  endforeach()
  install(FILES ${torvel_objects} DESTINATION ${torvel_libdir}/torvel/objects COMPONENT dev)
endif()
# A stripped install (cpack, `cmake --install --strip`) strips as Debian's
# dh_strip does: the programs and the module lose the compiler's .comment
# and .note sections too (CMake's own strip leaves them), and the archives
# and objects their debugging sections and .comment.
function(torvel_strip_installed component options)
  install(CODE "if(CMAKE_INSTALL_DO_STRIP)
  foreach(file ${ARGN})
    execute_process(COMMAND \"${CMAKE_STRIP}\" ${options} --remove-section=.comment
      --remove-section=.note \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${file}\"
      COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
endif()" COMPONENT ${component})
endfunction()
list(TRANSFORM torvel_installed_archives PREPEND ${torvel_libdir}/)
torvel_strip_installed(dev "--strip-debug;--enable-deterministic-archives"
                       ${torvel_installed_archives})
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/NOTICE
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/libtorvel-dev COMPONENT dev)

# torvel-tools.
install(TARGETS torvel_config_val classad_eval RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        COMPONENT tools)
install(TARGETS gt3_gahp_launcher RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/torvel
        COMPONENT tools)
torvel_strip_installed(tools "--strip-unneeded"
  ${CMAKE_INSTALL_BINDIR}/torvel_config_val ${CMAKE_INSTALL_BINDIR}/classad_eval
  ${CMAKE_INSTALL_LIBEXECDIR}/torvel/gt3_gahp_launcher)
torvel_strip_installed(broker "--strip-unneeded" sbin/nbx_broker)
if(TARGET torvel_module)
  torvel_strip_installed(python "--strip-unneeded"
    "${TORVEL_PYTHON_INSTALL_DIR}/torvel/$<TARGET_FILE_NAME:torvel_module>")
endif()

# Lintian overrides, each with its reason (cmake/debian/*.lintian-overrides).
foreach(component tools broker)
  install(FILES ${CMAKE_SOURCE_DIR}/cmake/debian/${torvel_deb_name_${component}}.lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
          RENAME ${torvel_deb_name_${component}} COMPONENT ${component})
endforeach()

# The CMake package and the pkg-config file, relocatable: each finds the
# prefix from where it lies.
include(CMakePackageConfigHelpers)
file(RELATIVE_PATH TORVEL_CONFIG_TO_PREFIX /prefix/${torvel_libdir}/cmake/Torvel /prefix)
file(RELATIVE_PATH TORVEL_PC_TO_PREFIX /prefix/${torvel_libdir}/pkgconfig /prefix)
set(TORVEL_INSTALL_LIBDIR ${torvel_libdir})
set(TORVEL_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR})
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
        DESTINATION ${torvel_libdir}/cmake/Torvel COMPONENT dev)
configure_file(${CMAKE_SOURCE_DIR}/cmake/torvel.pc.in ${CMAKE_BINARY_DIR}/cmake/torvel.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/cmake/torvel.pc DESTINATION ${torvel_libdir}/pkgconfig
        COMPONENT dev)

# The Debian packages. cpack packs what has been built (`cmake --build`
# first) rather than rebuilding the whole project, tests included, first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME torvel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TORVEL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${torvel_deb_components})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TORVEL_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SOURCE torvel)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_STRIP_FILES ON)
# Depends of the programs and the module: the shared libraries they really
# load, as dpkg-shlibdeps finds them (libcrypto is linked in statically).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Maintainer scripts 0755, conffiles 0644.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

foreach(component ${torvel_deb_components})
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${torvel_deb_name_${component}})
endforeach()

set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
# find_package(Torvel) and torvel.pc need libcrypto's archive, PCRE and
# pkg-config.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libssl-dev, libpcre3-dev, pkg-config")
set(CPACK_DEBIAN_DEV_DESCRIPTION
    "static library, headers and build files of the Torvel support layer
The utility library of the Torvel batch and grid job manager:
configuration, debug log, strings and containers, files, processes,
network identity, the connection-brokering layer, the ClassAd language,
stream encoding, ciphers and version strings.

This package holds the static archives (also a position-independent one
for shared objects), the headers, the CMake package (find_package(Torvel))
and the pkg-config file, and four relocatable objects carrying single
pieces of the library. The library's dprintf takes the place of the C
library's dprintf(3) in every program that links it; see torvel(3).")

set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION admin)
# The launcher starts the Java virtual machine the configuration names.
set(CPACK_DEBIAN_TOOLS_PACKAGE_RECOMMENDS "default-jre-headless | java-runtime-headless")
set(CPACK_DEBIAN_TOOLS_DESCRIPTION
    "administrator tools and GT3 GAHP launcher of the Torvel support layer
torvel_config_val answers configuration queries as any program of the
Torvel batch and grid job manager would see them; classad_eval parses and
evaluates ClassAd expressions and matches ads.

gt3_gahp_launcher, under /usr/libexec/torvel, starts the Java helper
server that speaks GAHP against Globus Toolkit 3 services.")

set(CPACK_DEBIAN_BROKER_PACKAGE_SECTION net)
# The maintainer script creates the account with adduser where systemd's
# sysusers is missing.
set(CPACK_DEBIAN_BROKER_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_BROKER_DESCRIPTION
    "connection broker for programs on a private network
nbx_broker relays connections and UDP traffic between programs of the
Torvel batch and grid job manager on a private network and their peers
outside, for programs whose brokering layer is switched on (NBX_ENABLE).

The package runs it as a systemd service under the system account
torvel, which it creates when missing.")
configure_file(${CMAKE_SOURCE_DIR}/cmake/debian/nbx-broker.postinst
               ${torvel_gz_dir}/broker/postinst COPYONLY)
configure_file(${CMAKE_SOURCE_DIR}/cmake/debian/nbx-broker.postrm
               ${torvel_gz_dir}/broker/postrm COPYONLY)
set(CPACK_DEBIAN_BROKER_PACKAGE_CONTROL_EXTRA
    ${NBX_BROKER_CONFFILES} ${torvel_gz_dir}/broker/postinst ${torvel_gz_dir}/broker/postrm)

if(TARGET torvel_module)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  # An extension module loads only into the interpreter it was built for.
  math(EXPR next_minor "${Python3_VERSION_MINOR} + 1")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
      "python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}~), python3 (<< ${Python3_VERSION_MAJOR}.${next_minor})")
  set(CPACK_DEBIAN_PYTHON_DESCRIPTION
      "Python 3 bindings of the Torvel support layer
ClassAds, expressions and the configuration of the Torvel batch and grid
job manager's utility library, as the Python module torvel.")
endif()
include(CPack)
