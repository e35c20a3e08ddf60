# PDF text comes from poppler's C++ interface (Debian libpoppler-cpp-dev).
pkg_check_modules(POPPLER_CPP REQUIRED IMPORTED_TARGET poppler-cpp)
target_link_libraries(vantrel_pdf PUBLIC PkgConfig::POPPLER_CPP)

# The PDF tests run the real vantrel-pdftext helper, so it is built first.
# Both targets exist only once the whole project has been read.
function(vantrel_pdf_tests_need_helper)
  if(TARGET vantrel_pdf_tests AND TARGET vantrel-pdftext)
    add_dependencies(vantrel_pdf_tests vantrel-pdftext)
  endif()
  if(TARGET vantrel_pdf_tests AND TARGET vantrel-render)
    add_dependencies(vantrel_pdf_tests vantrel-render)
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL vantrel_pdf_tests_need_helper)

# The helper counts what a PDF's Flate streams inflate to with zlib.
find_package(ZLIB REQUIRED)
target_link_libraries(vantrel_pdf PUBLIC ZLIB::ZLIB)

# Thumbnails and previews are written as JPEG with libjpeg (libjpeg-dev).
find_package(JPEG REQUIRED)
target_link_libraries(vantrel_pdf PUBLIC JPEG::JPEG)
