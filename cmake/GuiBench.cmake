# Benchmarks that drive a window: every bench/gui/*_bench.cpp links the GUI library as well.
# They run offscreen; none of them runs under CTest.
file(GLOB tandor_gui_bench_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/bench/gui/*_bench.cpp)
foreach(source ${tandor_gui_bench_sources})
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source})
  target_compile_options(${name} PRIVATE ${TANDOR_WARNINGS})
  target_link_libraries(${name} PRIVATE tandor_gui tandor_testsupport)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endforeach()
