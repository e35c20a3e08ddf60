# vantrel_console_preview: the pictures of the console's search page
# (preview_maker.h), a library of its own because it stands on libjpeg
# (Debian libjpeg-dev) and needs nothing above the platform layer.
# The console library links it; its sources are not globbed into vantrel_console.
find_package(JPEG REQUIRED)
add_library(vantrel_console_preview STATIC
  ${CMAKE_CURRENT_LIST_DIR}/preview_jpeg.cc
  ${CMAKE_CURRENT_LIST_DIR}/preview_cache.cc
  ${CMAKE_CURRENT_LIST_DIR}/preview_maker.cc)
target_include_directories(vantrel_console_preview PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(vantrel_console_preview PUBLIC vantrel_platform JPEG::JPEG)
