# Builds Help.chm into the data folder beside WinVantor.exe from the HTML in data/help.
# chmcmd stamps the build time into the file, so it is made at build time rather than committed.
if(WIN32)
  find_program(CHMCMD_PROGRAM chmcmd)
  if(NOT CHMCMD_PROGRAM)
    message(FATAL_ERROR "chmcmd (package fp-utils) is needed to build the help file; run scripts/setup.sh")
  endif()
  file(GLOB VANTOR_HELP_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/data/help/*)
  set(VANTOR_HELP_WORK ${CMAKE_BINARY_DIR}/help)
  set(VANTOR_HELP_FILE ${CMAKE_BINARY_DIR}/data/Help.chm)
  add_custom_command(OUTPUT ${VANTOR_HELP_FILE}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${VANTOR_HELP_WORK}
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_SOURCE_DIR}/data/help ${VANTOR_HELP_WORK}
    COMMAND ${CMAKE_COMMAND} -E chdir ${VANTOR_HELP_WORK} ${CHMCMD_PROGRAM} --no-html-scan --verbosity 0 Help.hhp
    COMMAND ${CMAKE_COMMAND} -E copy ${VANTOR_HELP_WORK}/Help.chm ${VANTOR_HELP_FILE}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    DEPENDS ${VANTOR_HELP_SOURCES}
    COMMENT "Building the help file Help.chm"
    VERBATIM)
  add_custom_target(vantor_help ALL DEPENDS ${VANTOR_HELP_FILE})
endif()
