# Installs nbx_broker's service pieces; run by `cmake --install` and cpack
# (install(SCRIPT)), when the prefix is known: the unit names the program
# and the configuration by their installed paths. Under the prefix /usr the
# configuration goes to /etc, elsewhere to <prefix>/etc. A configuration
# already installed is kept: it is the administrator's.
# Expects NBX_BROKER_SERVICE_DIR (these sources) and NBX_BROKER_STAGING_DIR.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(sysconf /etc)
else()
  set(sysconf ${CMAKE_INSTALL_PREFIX}/etc)
endif()
set(TORVEL_BROKER_CONF ${sysconf}/torvel/nbx_broker.conf)
set(NBX_BROKER_PROGRAM ${CMAKE_INSTALL_PREFIX}/sbin/nbx_broker)
configure_file(${NBX_BROKER_SERVICE_DIR}/nbx_broker.service.in
               ${NBX_BROKER_STAGING_DIR}/nbx_broker.service @ONLY)

file(INSTALL ${NBX_BROKER_STAGING_DIR}/nbx_broker.service
     DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)
file(INSTALL ${NBX_BROKER_SERVICE_DIR}/torvel.sysusers
     DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/sysusers.d RENAME torvel.conf)
file(INSTALL ${NBX_BROKER_SERVICE_DIR}/nbx_broker.logrotate
     DESTINATION ${sysconf}/logrotate.d RENAME nbx_broker)
if(NOT EXISTS "$ENV{DESTDIR}${TORVEL_BROKER_CONF}")
  file(INSTALL ${NBX_BROKER_SERVICE_DIR}/nbx_broker.conf DESTINATION ${sysconf}/torvel
       PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()
