velmora_add_test(test_portlist core
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PortListTest.cpp ${CMAKE_CURRENT_LIST_DIR}/SettingTextsTest.cpp
  LIBS velmora_serial velmora_test_support)
