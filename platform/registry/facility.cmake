# A small module with a registration script and a type library, which the registry tests
# load as the host loads a plug-in: build/tests/reg_test_module.so.
if(SENTREL_TESTS)
  add_library(reg_test_module MODULE)
  sentrel_resources(reg_test_module ${CMAKE_CURRENT_LIST_DIR}/tests/module/reg_test_module.rc)
  target_link_libraries(reg_test_module PRIVATE winplat)
  set_target_properties(reg_test_module PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY
                                                   ${CMAKE_BINARY_DIR}/tests)
  # The test program is made after this file is read.
  cmake_language(DEFER CALL add_dependencies platform_registry_unit reg_test_module)
endif()
