# Tests of the comms settings dialog (included by tests/settings/CMakeLists.txt).
velmora_add_test(test_sensor_settings_dialog gui
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/SensorSettingsDialogTest.cpp
  LIBS velmora_settings_ui velmora_test_support Qt6::Test)
