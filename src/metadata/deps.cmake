# XMP packets are read with expat (Debian libexpat1-dev).
pkg_check_modules(EXPAT REQUIRED IMPORTED_TARGET expat)
target_link_libraries(vantrel_metadata PUBLIC PkgConfig::EXPAT)
