# XMP packets are read with expat (Debian libexpat1-dev).
pkg_check_modules(EXPAT REQUIRED IMPORTED_TARGET expat)
target_link_libraries(vantrel_metadata PUBLIC PkgConfig::EXPAT)
# The PNG reader inflates compressed text chunks and checks chunk CRCs with zlib.
find_package(ZLIB REQUIRED)
target_link_libraries(vantrel_metadata PUBLIC ZLIB::ZLIB)
