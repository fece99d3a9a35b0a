# The i686 build is what users get: a portable zip and a per-user installer, both made from one
# staged folder holding exactly the shipped files (no help sources, no list file, no symbols).
if(NOT (WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4 AND TARGET WinVantor AND TARGET vantor AND TARGET vantor_help))
  return()
endif()

set(VANTOR_PACKAGE_NAME VantorArchiver-${PROJECT_VERSION})
set(VANTOR_STAGE ${CMAKE_BINARY_DIR}/package/stage)
set(VANTOR_ZIP ${CMAKE_BINARY_DIR}/${VANTOR_PACKAGE_NAME}-portable.zip)
set(VANTOR_SETUP ${CMAKE_BINARY_DIR}/${VANTOR_PACKAGE_NAME}-setup.exe)
file(GLOB VANTOR_ICONS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/data/*.png)

add_custom_command(OUTPUT ${VANTOR_ZIP}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${VANTOR_STAGE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VANTOR_STAGE}/data
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:WinVantor> $<TARGET_FILE:vantor> ${VANTOR_STAGE}
  COMMAND ${CMAKE_STRIP} --strip-all ${VANTOR_STAGE}/$<TARGET_FILE_NAME:WinVantor>
                                     ${VANTOR_STAGE}/$<TARGET_FILE_NAME:vantor>
  COMMAND ${CMAKE_COMMAND} -E copy ${VANTOR_ICONS} ${VANTOR_HELP_FILE} ${VANTOR_STAGE}/data
  COMMAND ${CMAKE_COMMAND} -E rm -f ${VANTOR_ZIP}
  COMMAND ${CMAKE_COMMAND} -E chdir ${VANTOR_STAGE}
          ${CMAKE_COMMAND} -E tar cf ${VANTOR_ZIP} --format=zip
          $<TARGET_FILE_NAME:WinVantor> $<TARGET_FILE_NAME:vantor> data
  DEPENDS WinVantor vantor ${VANTOR_HELP_FILE} ${VANTOR_ICONS}
  COMMENT "Packing ${VANTOR_PACKAGE_NAME}-portable.zip"
  VERBATIM)
add_custom_target(package_zip ALL DEPENDS ${VANTOR_ZIP})

find_program(MAKENSIS_PROGRAM makensis)
if(NOT MAKENSIS_PROGRAM)
  message(STATUS "makensis (package nsis) not found: no installer is built")
  return()
endif()
add_custom_command(OUTPUT ${VANTOR_SETUP}
  COMMAND ${MAKENSIS_PROGRAM} -V2 -DVERSION=${PROJECT_VERSION} -DSTAGE=${VANTOR_STAGE}
          -DICON=${CMAKE_SOURCE_DIR}/data/WinVantor.ico -DOUTFILE=${VANTOR_SETUP}
          ${CMAKE_SOURCE_DIR}/packaging/vantor.nsi
  DEPENDS ${VANTOR_ZIP} ${CMAKE_SOURCE_DIR}/packaging/vantor.nsi ${CMAKE_SOURCE_DIR}/data/WinVantor.ico
  COMMENT "Building ${VANTOR_PACKAGE_NAME}-setup.exe"
  VERBATIM)
add_custom_target(package_installer ALL DEPENDS ${VANTOR_SETUP})
