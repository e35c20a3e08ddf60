# The engine stands on Xapian (Debian libxapian-dev).
pkg_check_modules(XAPIAN REQUIRED IMPORTED_TARGET xapian-core)
target_link_libraries(vantrel_engine PUBLIC PkgConfig::XAPIAN)
# Weights computed beside Xapian's must round exactly as Xapian's do: no
# fused multiply-add, whatever the target.
set_source_files_properties(${PROJECT_SOURCE_DIR}/src/engine/synonym_scores.cc
                            PROPERTIES COMPILE_OPTIONS -ffp-contract=off)
