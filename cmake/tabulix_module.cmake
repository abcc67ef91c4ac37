# tabulix_module(NAME DEPS...): a static library from every .cpp of the
# directory, with the project root on the include path so that headers are
# included as "engine/model.h".
function(tabulix_module name)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(tabulix_${name} STATIC ${sources})
    target_include_directories(tabulix_${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(tabulix_${name} PUBLIC ${ARGN})
  else()
    # A module without sources yet still exists as a target.
    add_library(tabulix_${name} INTERFACE)
    target_include_directories(tabulix_${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(tabulix_${name} INTERFACE ${ARGN})
  endif()
endfunction()

# tabulix_test_dir(NAME DEPS...): one GoogleTest executable from
# tests/NAME/*_test.cpp, registered with CTest test by test.
function(tabulix_test_dir name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${name}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name}_tests ${sources})
  target_link_libraries(${name}_tests PRIVATE ${ARGN} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name}_tests PRIVATE
    TABULIX_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    TABULIX_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 120
    PROPERTIES ENVIRONMENT "TABULIX_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()
