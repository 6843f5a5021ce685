# Shared build settings: warnings, sanitizers and the deploy-folder helpers.

add_compile_options(-Wall -Wextra -Wno-unused-parameter)

if(COUNTERMATE_SANITIZE AND COUNTERMATE_TSAN)
  message(FATAL_ERROR "COUNTERMATE_SANITIZE and COUNTERMATE_TSAN exclude each other")
endif()
if(COUNTERMATE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(COUNTERMATE_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# A shared library of the product: built straight into the deploy folder, with its exact file name.
function(countermate_deploy_library target)
  set_target_properties(${target} PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY ${COUNTERMATE_DEPLOY_DIR}
    PREFIX "lib")
endfunction()

# A program of the product (host, simulators): built into the deploy folder.
function(countermate_deploy_program target)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${COUNTERMATE_DEPLOY_DIR})
endfunction()

# A GoogleTest suite registered with CTest. Tests run with the deploy folder at hand through
# the COUNTERMATE_DEPLOY_DIR environment variable.
function(countermate_add_test target)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_compile_definitions(${target} PRIVATE COUNTERMATE_DEPLOY_DIR="${COUNTERMATE_DEPLOY_DIR}")
  gtest_discover_tests(${target}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "COUNTERMATE_DEPLOY_DIR=${COUNTERMATE_DEPLOY_DIR}" SKIP_RETURN_CODE 77)
endfunction()

find_package(Threads REQUIRED)
