# Build helpers shared by every folder.

# sentrel_test_dir(<dir> <name> LIBS <libs...>)
# Tests live beside what they test: <dir>/*_test.cpp become <name>_unit (label "unit"),
# <dir>/*_itest.cpp become <name>_integration (label "integration": real services).
function(sentrel_test_dir dir name)
  if(NOT SENTREL_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  foreach(kind unit integration)
    if(kind STREQUAL "unit")
      file(GLOB sources CONFIGURE_DEPENDS ${dir}/*_test.cpp)
    else()
      file(GLOB sources CONFIGURE_DEPENDS ${dir}/*_itest.cpp)
    endif()
    if(sources)
      set(target ${name}_${kind})
      add_executable(${target} ${sources})
      target_link_libraries(${target} PRIVATE ${ARG_LIBS} sentrel_testkit GTest::gtest_main
                                              GTest::gmock)
      set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY
                                                 ${CMAKE_BINARY_DIR}/tests)
      # Test names without the printed parameter (a byte dump for a struct).
      gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES
                           PROPERTIES LABELS ${kind})
    endif()
  endforeach()
endfunction()

# sentrel_resources(<target> <rc file>)
# Compiles a module's resource script into a source of the target.
function(sentrel_resources target rcfile)
  get_filename_component(rc_abs ${rcfile} ABSOLUTE)
  get_filename_component(rc_name ${rcfile} NAME_WE)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${rc_name}_resources.cpp)
  add_custom_command(
    OUTPUT ${out}
    COMMAND winplat_rc ${rc_abs} ${out} ${out}.d
    DEPENDS winplat_rc ${rc_abs}
    DEPFILE ${out}.d
    COMMENT "Compiling resources ${rc_name}.rc")
  target_sources(${target} PRIVATE ${out})
endfunction()

# sentrel_notifier(<name> RC <rc file> SOURCES <sources...> [LIBS <libs...>])
# A notifier module: its code as an object library <name>_core (which tests link
# directly), and the in-process server build/plugins/<name>.so exporting only the
# four Dll* functions.
function(sentrel_notifier name)
  cmake_parse_arguments(ARG "" "RC" "SOURCES;LIBS" ${ARGN})
  # An object library, so that whatever links it (the module, its tests) gets every object,
  # the compiled resources among them.
  add_library(${name}_core OBJECT ${ARG_SOURCES})
  target_include_directories(${name}_core PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name}_core PUBLIC sentrel_support winplat sentrel_contract ${ARG_LIBS})
  set_target_properties(${name}_core PROPERTIES CXX_VISIBILITY_PRESET hidden
                                                VISIBILITY_INLINES_HIDDEN ON)
  sentrel_resources(${name}_core ${ARG_RC})

  add_library(${name} MODULE ${CMAKE_SOURCE_DIR}/support/module_exports.cpp)
  target_link_libraries(${name} PRIVATE ${name}_core)
  target_link_options(${name} PRIVATE ${SENTREL_NO_UNDEFINED})
  set_target_properties(${name} PROPERTIES PREFIX "" OUTPUT_NAME ${name}
                        LIBRARY_OUTPUT_DIRECTORY ${SENTREL_PLUGIN_DIR}
                        CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
endfunction()

# sentrel_help(<target> <folder> <name>)
# Puts a module's help folder beside the plug-ins as <name> (for example Tellumo.chm), as
# an installer puts the compiled help file beside its module.
function(sentrel_help target folder name)
  file(GLOB pages CONFIGURE_DEPENDS ${folder}/*)
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${name}.stamp)
  add_custom_command(
    OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${SENTREL_PLUGIN_DIR}/${name}
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${folder} ${SENTREL_PLUGIN_DIR}/${name}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${pages}
    COMMENT "Help file ${name}")
  add_custom_target(${target}_help ALL DEPENDS ${stamp})
  add_dependencies(${target} ${target}_help)
endfunction()
