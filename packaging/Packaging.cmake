# The Debian package of a counter workstation: `cpack -G DEB` in a build folder (scripts/package
# does it all) gives countermate_<version>_<arch>.deb with
#   /opt/countermate/                  the deploy folder's runtime files: every program and library
#                                      built into it, CONFIG.ini (a conffile), EvaluateTemplate.html,
#                                      CardReader/ when the build has it, and an empty Temp/
#   /usr/lib/systemd/user/countermate.service   the service in the teller's session
#   /usr/lib/udev/rules.d/60-countermate.rules  device access for the seated user
# and the runtime dependencies found by dpkg-shlibdeps.
#
# Included after every folder has been added, so that the product's targets are known: a program
# or library is part of the product exactly when it is built into the deploy folder.

set(COUNTERMATE_INSTALL_DIR opt/countermate)

# The targets of `directory` and of every folder below it whose output is the deploy folder.
function(countermate_collect_deploy_targets directory programs_out libraries_out)
  set(programs ${${programs_out}})
  set(libraries ${${libraries_out}})
  get_property(targets DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
      get_target_property(output ${target} RUNTIME_OUTPUT_DIRECTORY)
      if(output STREQUAL COUNTERMATE_DEPLOY_DIR)
        list(APPEND programs ${target})
      endif()
    elseif(type STREQUAL "SHARED_LIBRARY" OR type STREQUAL "MODULE_LIBRARY")
      get_target_property(output ${target} LIBRARY_OUTPUT_DIRECTORY)
      if(output STREQUAL COUNTERMATE_DEPLOY_DIR)
        list(APPEND libraries ${target})
      endif()
    endif()
  endforeach()
  get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
  foreach(subdirectory IN LISTS subdirectories)
    countermate_collect_deploy_targets(${subdirectory} programs libraries)
  endforeach()
  set(${programs_out} ${programs} PARENT_SCOPE)
  set(${libraries_out} ${libraries} PARENT_SCOPE)
endfunction()

set(COUNTERMATE_PRODUCT_PROGRAMS)
set(COUNTERMATE_PRODUCT_LIBRARIES)
countermate_collect_deploy_targets(${PROJECT_SOURCE_DIR} COUNTERMATE_PRODUCT_PROGRAMS
  COUNTERMATE_PRODUCT_LIBRARIES)

# Everything the package holds, without the tests: scripts/package builds only this.
add_custom_target(countermate_product)
add_dependencies(countermate_product ${COUNTERMATE_PRODUCT_PROGRAMS} ${COUNTERMATE_PRODUCT_LIBRARIES})

# The programs load the libraries by their paths in the working folder ("./lib..."), so the
# installed files need no run path.
install(TARGETS ${COUNTERMATE_PRODUCT_PROGRAMS} RUNTIME DESTINATION ${COUNTERMATE_INSTALL_DIR})
install(TARGETS ${COUNTERMATE_PRODUCT_LIBRARIES} LIBRARY DESTINATION ${COUNTERMATE_INSTALL_DIR})
install(FILES ${COUNTERMATE_DEPLOY_DIR}/CONFIG.ini ${COUNTERMATE_DEPLOY_DIR}/EvaluateTemplate.html
  DESTINATION ${COUNTERMATE_INSTALL_DIR})
if(EXISTS ${COUNTERMATE_DEPLOY_DIR}/CardReader)
  install(DIRECTORY ${COUNTERMATE_DEPLOY_DIR}/CardReader DESTINATION ${COUNTERMATE_INSTALL_DIR})
endif()
# The service writes its scratch files (screen grabs, photos) into Temp/ as the teller: writable
# for every user and sticky like /tmp, so that no user removes another's files. CMake's
# permission words know no sticky bit, hence the chmod.
install(DIRECTORY DESTINATION ${COUNTERMATE_INSTALL_DIR}/Temp)
install(CODE "execute_process(COMMAND chmod 1777
  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${COUNTERMATE_INSTALL_DIR}/Temp\")")
install(FILES ${CMAKE_CURRENT_LIST_DIR}/countermate.service DESTINATION usr/lib/systemd/user)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/60-countermate.rules DESTINATION usr/lib/udev/rules.d)

execute_process(COMMAND dpkg --print-architecture
  OUTPUT_VARIABLE COUNTERMATE_DEB_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE architecture_result)
if(NOT architecture_result EQUAL 0 OR COUNTERMATE_DEB_ARCHITECTURE STREQUAL "")
  set(COUNTERMATE_DEB_ARCHITECTURE unknown)
endif()
set(COUNTERMATE_DEB_FILE_NAME
  countermate_${PROJECT_VERSION}_${COUNTERMATE_DEB_ARCHITECTURE}.deb)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME countermate)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "CounterMate developers <countermate@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "device middleware that lets web pages drive a service counter's peripherals")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Device middleware for bank and government service counters: a WebSocket service on the
workstation (ws://127.0.0.1:9600/) lets a web page drive the customer terminal (USB HID), the
document camera (V4L2) and the identity-card reader. It runs in the teller's session as a
systemd user unit.")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${COUNTERMATE_DEB_ARCHITECTURE})
set(CPACK_DEBIAN_FILE_NAME ${COUNTERMATE_DEB_FILE_NAME})
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_STRIP_FILES ON)
# The dependencies are read off the programs and libraries themselves; the product's own
# libraries are found in the deploy folder.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${COUNTERMATE_DEPLOY_DIR})
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_LIST_DIR}/debian/conffiles
  ${CMAKE_CURRENT_LIST_DIR}/debian/postinst
  ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

# The package's checks. The package is built by scripts/package, not by this build, so the test
# reports itself skipped when there is none; it checks the package against this build's product.
set(COUNTERMATE_PACKAGE_FILE ${PROJECT_SOURCE_DIR}/build/package/${COUNTERMATE_DEB_FILE_NAME}
  CACHE FILEPATH "The Debian package that the package test checks")
set(package_expected_files)
foreach(target IN LISTS COUNTERMATE_PRODUCT_PROGRAMS COUNTERMATE_PRODUCT_LIBRARIES)
  list(APPEND package_expected_files $<TARGET_FILE_NAME:${target}>)
endforeach()
add_test(NAME package_deb_tests
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/tests/check_package.sh ${COUNTERMATE_PACKAGE_FILE}
    ${package_expected_files})
set_tests_properties(package_deb_tests PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
