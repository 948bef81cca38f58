# Benchmarks that need the application library.
if(TARGET velmora_app)
  add_executable(bench_acquisition AcquisitionBench.cpp)
  target_link_libraries(bench_acquisition PRIVATE velmora_app velmora_sensor_sim_lib)
  # Loading a long log file: the log reader against a plain whole-file reader, and the review window.
  add_executable(bench_log_reader LogReaderBench.cpp)
  target_link_libraries(bench_log_reader PRIVATE velmora_app velmora_sample_log)
  add_executable(bench_unattended UnattendedRunBench.cpp)
  target_link_libraries(bench_unattended PRIVATE velmora_app)
  target_compile_definitions(bench_unattended PRIVATE VELMORA_SENSOR_SIM="$<TARGET_FILE:velmora-sensor-sim>")
  add_dependencies(bench_unattended velmora-sensor-sim)
endif()
