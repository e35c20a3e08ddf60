# The engine stands on Xapian (Debian libxapian-dev).
pkg_check_modules(XAPIAN REQUIRED IMPORTED_TARGET xapian-core)
target_link_libraries(vantrel_engine PUBLIC PkgConfig::XAPIAN)
