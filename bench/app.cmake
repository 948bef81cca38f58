# Benchmarks that need the application library.
if(TARGET velmora_app)
  add_executable(bench_chart ChartBench.cpp)
  target_link_libraries(bench_chart PRIVATE velmora_app)
  add_executable(bench_log LogBench.cpp)
  target_link_libraries(bench_log PRIVATE velmora_app benchmark::benchmark)
  add_executable(bench_acquisition AcquisitionBench.cpp)
  target_link_libraries(bench_acquisition PRIVATE velmora_app velmora_sensor_sim_lib)
endif()
