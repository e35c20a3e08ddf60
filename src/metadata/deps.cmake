# The PNG reader inflates compressed text chunks and checks chunk CRCs with zlib.
find_package(ZLIB REQUIRED)
target_link_libraries(vantrel_metadata PUBLIC ZLIB::ZLIB)
