# The web console: cpp-httplib, nlohmann JSON, and the page's files from web/ embedded as byte arrays.
find_package(nlohmann_json 3 REQUIRED)
# Debian's cpp-httplib is a compiled library built with OpenSSL (HTTPS);
# its pkg-config flags say so (CPPHTTPLIB_OPENSSL_SUPPORT).
pkg_check_modules(VANTREL_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
target_link_libraries(vantrel_console PRIVATE PkgConfig::VANTREL_HTTPLIB)

file(GLOB vantrel_web_files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/web/*)
set(vantrel_web_cc ${PROJECT_BINARY_DIR}/generated/web_assets_data.cc)
add_custom_command(
  OUTPUT ${vantrel_web_cc}
  COMMAND ${CMAKE_COMMAND} -DWEB_DIR=${PROJECT_SOURCE_DIR}/web -DOUT=${vantrel_web_cc}
          -P ${PROJECT_SOURCE_DIR}/cmake/EmbedWebFiles.cmake
  DEPENDS ${vantrel_web_files} ${PROJECT_SOURCE_DIR}/cmake/EmbedWebFiles.cmake
  COMMENT "Embedding the console's web files")
target_sources(vantrel_console PRIVATE ${vantrel_web_cc})

# The console's search runs the same request-file exchange as vantrelctl's
# (tools/ctl_search_exchange.h).
target_link_libraries(vantrel_console PRIVATE vantrelctl_lib)
