# systemd_notify.cc tells systemd about the server's state through libsystemd
# (Debian libsystemd-dev). Without the package, or with -DVANTREL_SYSTEMD=OFF,
# the server is built without it and never notifies.
option(VANTREL_SYSTEMD "Notify systemd (sd_notify) when run as a Type=notify service" ON)
set(vantrel_have_systemd 0)
if(VANTREL_SYSTEMD)
  pkg_check_modules(LIBSYSTEMD IMPORTED_TARGET libsystemd)
  if(LIBSYSTEMD_FOUND)
    target_link_libraries(vantrel_platform PUBLIC PkgConfig::LIBSYSTEMD)
    set(vantrel_have_systemd 1)
  else()
    message(WARNING "libsystemd not found (Debian libsystemd-dev): building without systemd notifications")
  endif()
endif()
set_source_files_properties(${PROJECT_SOURCE_DIR}/src/platform/systemd_notify.cc
                            TARGET_DIRECTORY vantrel_platform
                            PROPERTIES COMPILE_DEFINITIONS VANTREL_HAVE_SYSTEMD=${vantrel_have_systemd})
