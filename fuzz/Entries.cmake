# The fuzz entry points as a library, for the fuzz targets and for the replay test; whichever
# folder comes first defines it.
if(NOT TARGET chantest_fuzz_entries)
  set(dir ${CMAKE_SOURCE_DIR}/fuzz)
  add_library(chantest_fuzz_entries STATIC
    ${dir}/FuzzEntries.h ${dir}/FuzzUtil.h ${dir}/FuzzText.cpp ${dir}/FuzzConfig.cpp ${dir}/FuzzTasks.cpp
    ${dir}/FuzzResults.cpp ${dir}/FuzzCommLog.cpp ${dir}/FuzzJournal.cpp ${dir}/FuzzReport.cpp)
  target_include_directories(chantest_fuzz_entries PUBLIC ${dir} ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(chantest_fuzz_entries PUBLIC
    chantest_core chantest_config chantest_tasks chantest_engine chantest_results chantest_links chantest_report
    Qt6::Core)
endif()
