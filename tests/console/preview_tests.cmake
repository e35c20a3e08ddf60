# tests/console/preview_*_test.cc -> vantrel_console_preview_tests: the
# console's picture previews, tested without the rest of the console.
file(GLOB preview_test_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/preview_*_test.cc)
if(preview_test_srcs)
  add_executable(vantrel_console_preview_tests ${preview_test_srcs})
  target_link_libraries(vantrel_console_preview_tests PRIVATE vantrel_console_preview
                        vantrel_test_support GTest::gtest GTest::gmock GTest::gtest_main)
  add_test(NAME console_preview COMMAND vantrel_console_preview_tests --gtest_brief=1)
  set_tests_properties(console_preview PROPERTIES TIMEOUT 600 LABELS console)
endif()
